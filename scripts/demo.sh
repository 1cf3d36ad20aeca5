#!/usr/bin/env bash
# The demo behind `make run`: a fresh platform root inside the build tree, the
# platform's configuration-parameter file, and property sets of each kind,
# driven with vmcfg as an administrator would. Class-of-service records belong
# to box 333: the demo starts the owner daemon vmpropd for that box and edits
# a record from box 1 through it.
set -euo pipefail
build=${1:-build}
root=${2:-$build/demo-root}
vmcfg="$build/vmcfg"
vmpropd="$build/vmpropd"
[ -x "$vmcfg" ] || { echo "demo: $vmcfg is not built" >&2; exit 1; }

rm -rf "$root"
mkdir -p "$root/VM/config"
cat > "$root/VM/config/config_params" <<'PARAMS'
#site parameters
precedence node $(uname -n)
precedence site ${SITE_NAME}
precedence global default
node vm7 : max_ports=48 greeting=(Good morning)
node vm8 : max_ports=96
site east : max_ports=24 language=english
global default : max_ports=12 timeout=30 language=(US english) (Number of CDR Files)=4
PARAMS
export SITE_NAME=east

run() {
  printf '\n$ vmcfg'; printf ' %q' "$@"; echo
  "$vmcfg" --root "$root" "$@" || echo "(exit status $?)"
}

echo "Platform root: $root (this host's node name: $(uname -n))"
run param types
run param get max_ports
run param explain max_ports
run param get "Number of CDR Files"
run --json param get language
run param check
run param get no_such_key

run init --demo
run init --demo

echo
echo "The sets of the four kinds, and the known properties of one kind:"
run props show --system --access Standard
run props show --message /VM/orvex/sd/msg/1001/0001.prop
run props show --cos 1
run props show --subscriber 1001
run props show /VM/config/COSPropertyDefaults
run props put --system "System Greeting Length" 45 --access Trusted
run props put --system "System Max Message Length" 600 --index 1 --access Trusted
run props check --system

echo
echo "Network addresses and message properties (the demo's directory and message store):"
run address locate 1002@BOSTON BOSTON
run address locate jsmith CALLNET
run address locate 5551234@amis.example.com AMISGW
run address build 200004
run message props 200005
run message check 200005
run message check 200007
echo
echo "The known properties of every kind, through the module's property forms"
echo "(vmcfg loads libconfig_adm.so with dlopen, as the administration server does):"
for kind in SYSTEM MESSAGE COS SUBSCRIBER; do run known list "$kind"; done
run known check SYSTEM "System Night Service"
run known add SYSTEM "System Night Service" --read all --write server,privileged
run known change SYSTEM "System Night Service" --forwardable --version 2
run --json known get SYSTEM "System Night Service"
run known rm SYSTEM "System Night Service"
run known get SYSTEM "System Night Service"
run known rm SYSTEM "QRT SYSTEM supported languages"
echo
echo "Raw requests: one to form 2, then a session of several on standard input:"
run form 2 get SYSTEM "System Greeting Length"
requests=("2 addv COS 'COS Night Service'" "2 get COS 'COS Mailbox Capacity'" "1 list COS")
printf '\n$ vmcfg --json shell <<requests\n'; printf '%s\n' "${requests[@]}"; echo requests
printf '%s\n' "${requests[@]}" | "$vmcfg" --root "$root" --json shell || echo "(exit status $?)"

echo
echo "The platform's optional features (form 3), switched through the form's confirmation:"
run features
run features set "Tandem Mailbox" on --yes
run features set CAD on --yes
run --json features set "Disable Message Delivery?" on --yes
run features set "Disable Message Delivery?" off --yes
run features
echo
echo "Box 1 does not own class-of-service records: with nobody listening for box 333,"
echo "the save fails and nothing changes."
run --box 1 props put --cos 1 "COS Greeting Length" 45 --index 1
if [ ! -x "$vmpropd" ]; then
  echo "demo: $vmpropd is not built; skipping the save through the owner" >&2
  exit 0
fi

owner=
stop_owner() {
  if [ -n "$owner" ]; then kill "$owner" 2>/dev/null || true; wait "$owner" 2>/dev/null || true; fi
  owner=
}
trap stop_owner EXIT
echo
echo "$ vmpropd --root $root --box 333 &"
"$vmpropd" --root "$root" --box 333 &
owner=$!
for _ in $(seq 100); do [ -S "$root/vm/run/box333.1" ] && break; sleep 0.1; done
run --box 1 props put --cos 1 "COS Greeting Length" 45 --index 1
echo
echo "The record box 333 wrote, as any box reads it:"
run props show --cos 1
stop_owner

echo
echo "Who changed what: every save above left a record in the change journal."
run history --system --limit 4
echo "(the owner's record of the save box 1 handed to it names the sending box)"
run history --cos 1 --limit 1
run --json history --cos 1 --limit 1
seq=$("$vmcfg" --root "$root" --json history --system --name "System Greeting Length" --limit 1 |
  grep -o '"seq": *[0-9]*' | head -1 | grep -o '[0-9]*$')
echo
echo "Undo the change of \"System Greeting Length\" (record $seq), then see the revert's own record:"
run revert "$seq" --yes
run props show --system --name "System Greeting Length"
run history --system --limit 1
