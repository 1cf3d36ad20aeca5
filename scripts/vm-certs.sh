#!/bin/sh
# vm-certs.sh DIR BOX...: the certificates of the messaging between hosts.
# Creates DIR (mode 700) with a certificate authority (ca.key, ca.pem; kept
# when they exist, so that boxes added later share it) and, for each BOX, a
# key box<BOX>.key (mode 600) and a certificate box<BOX>.pem signed by the
# authority, named box<BOX> in its CN and as a SAN DNS name. EC P-256 keys,
# valid 3650 days. A box's existing key and certificate are replaced.
#
# vm-certs.sh DIR --revoke BOX...: adds each box's certificate in DIR to the
# authority's list of revoked certificates (DIR/revoked.txt) and makes the
# revocation list DIR/crl.pem again, signed by the authority, valid 3650
# days. Peers that have crl.pem beside their ca.pem refuse a listed
# certificate. A certificate made later for the same box is a new one, not
# revoked.
set -eu

usage() {
    echo "usage: $0 DIR BOX..." >&2
    echo "       $0 DIR --revoke BOX..." >&2
    echo "  e.g. $0 /root/VM/config/tls 1 333" >&2
    exit 2
}

[ $# -ge 2 ] || usage
dir=$1
shift
revoke=no
if [ "$1" = --revoke ]; then
    revoke=yes
    shift
    [ $# -ge 1 ] || usage
fi
for box in "$@"; do
    case $box in
        '' | *[!0-9]*) echo "$0: '$box' is not a box number" >&2; exit 2 ;;
    esac
    if [ "$box" -lt 1 ] || [ "$box" -gt 65535 ]; then
        echo "$0: box $box is not in 1-65535" >&2
        exit 2
    fi
done
command -v openssl >/dev/null || { echo "$0: the openssl command is not installed" >&2; exit 1; }

umask 077
if [ $revoke = yes ]; then
    for file in ca.key ca.pem; do
        [ -s "$dir/$file" ] || { echo "$0: no authority in $dir ($file is missing)" >&2; exit 1; }
    done
    for box in "$@"; do
        [ -s "$dir/box$box.pem" ] ||
            { echo "$0: no certificate $dir/box$box.pem to revoke" >&2; exit 1; }
    done
fi
mkdir -p "$dir"
work=$(mktemp -d "$dir/.vm-certs.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ $revoke = yes ]; then
    # openssl ca keeps the revoked certificates in a text database of its own.
    cat >"$work/ca.cnf" <<CNF
[ ca ]
default_ca = vm
[ vm ]
database = $dir/revoked.txt
default_md = sha256
default_crl_days = 3650
unique_subject = no
CNF
    touch "$dir/revoked.txt"
    for box in "$@"; do
        serial=$(openssl x509 -in "$dir/box$box.pem" -noout -serial) || exit 1
        serial=${serial#serial=}
        if grep -q "^R	.*	$serial	" "$dir/revoked.txt"; then
            echo "box$box's certificate (serial $serial) was revoked already"
            continue
        fi
        openssl ca -config "$work/ca.cnf" -keyfile "$dir/ca.key" -cert "$dir/ca.pem" \
            -revoke "$dir/box$box.pem" 2>"$work/log" || { cat "$work/log" >&2; exit 1; }
        echo "revoked box$box's certificate (serial $serial)"
    done
    # Dated a day back, so that a host whose clock is a little behind this
    # one's does not find the list not valid yet.
    since=$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)
    openssl ca -config "$work/ca.cnf" -keyfile "$dir/ca.key" -cert "$dir/ca.pem" -gencrl \
        -crl_lastupdate "$since" -out "$work/crl.pem" 2>"$work/log" ||
        { cat "$work/log" >&2; exit 1; }
    chmod 644 "$work/crl.pem"
    mv "$work/crl.pem" "$dir/crl.pem"
    echo "created $dir/crl.pem: copy it beside ca.pem on every host, then send vmpropd SIGHUP there (or restart it)"
    exit 0
fi

if [ ! -s "$dir/ca.key" ] || [ ! -s "$dir/ca.pem" ]; then
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
        -keyout "$work/ca.key" -out "$work/ca.pem" -days 3650 -subj "/CN=vm messaging CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        2>"$work/log" || { cat "$work/log" >&2; exit 1; }
    mv "$work/ca.key" "$dir/ca.key"
    chmod 644 "$work/ca.pem"
    mv "$work/ca.pem" "$dir/ca.pem"
    echo "created the authority $dir/ca.pem"
fi

for box in "$@"; do
    name=box$box
    cat >"$work/ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth,clientAuth
subjectAltName=DNS:$name
EXT
    if ! openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
            -keyout "$work/$name.key" -out "$work/$name.csr" -subj "/CN=$name" 2>"$work/log" ||
        ! openssl x509 -req -in "$work/$name.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
            -CAcreateserial -CAserial "$work/ca.srl" -days 3650 -sha256 \
            -extfile "$work/ext" -out "$work/$name.pem" 2>"$work/log"; then
        cat "$work/log" >&2
        exit 1
    fi
    chmod 600 "$work/$name.key"
    chmod 644 "$work/$name.pem"
    mv "$work/$name.key" "$dir/$name.key"
    mv "$work/$name.pem" "$dir/$name.pem"
    echo "created $dir/$name.pem and $dir/$name.key"
done
