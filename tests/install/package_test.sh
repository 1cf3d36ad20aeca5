#!/usr/bin/env bash
# package_test.sh BUILD: makes the .deb from BUILD's binaries (no rebuild),
# checks it with lintian, installs it on this machine, runs the installed
# programs, verifies the units, removes and purges it. Root only: exit 77 (skipped) otherwise.
set -euo pipefail
build=$1
: "${CFGADM_VERSION:?set by CTest}" "${CFGADM_PACKAGE:?set by CTest}"
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || skip "the package test installs a .deb: run it as root"
[ "${CFGADM_SANITIZE:-OFF}" = OFF ] || skip "sanitizer build: the package is tested in the plain build"
command -v dpkg >/dev/null || skip "no dpkg on this machine"
# One package test at a time on this machine (several build trees may test).
exec 9>/run/lock/config-adm-package-test.lock
flock 9
status() { dpkg-query -W -f='${db:Status-Abbrev}' "$CFGADM_PACKAGE" 2>/dev/null || true; }
[ -z "$(status | tr -d ' ')" ] || [ "$(status)" = "un " ] ||
  skip "$CFGADM_PACKAGE is already on this machine ($(status)); the test won't replace it"
for path in /etc/default/vmplatform /var/lib/vmplatform; do
  [ ! -e "$path" ] || skip "$path exists without the package; a purge would delete it"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/cfgadm-package.XXXXXX")
installed=
cleanup() {
  [ -n "$installed" ] && dpkg -P "$CFGADM_PACKAGE" >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP

cpack -G DEB -B "$tmp/pkg" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(echo "$tmp"/pkg/*.deb)
# lintian (installed by scripts/setup.sh): errors fail; warnings are shown.
command -v lintian >/dev/null || fail "no lintian here (scripts/setup.sh installs it)"
lintian --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1 || true
grep -q '^E: ' "$tmp/lintian.log" && { cat "$tmp/lintian.log"; fail "lintian found errors"; }
grep '^W: ' "$tmp/lintian.log" || true
contents=$(dpkg-deb -c "$deb")
for doc in copyright changelog.Debian.gz; do
  grep -q " \./usr/share/doc/$CFGADM_PACKAGE/$doc\$" <<<"$contents" ||
    fail "no /usr/share/doc/$CFGADM_PACKAGE/$doc in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libtre5 liblmdb0 liburing2 libsqlite3-0 adduser; do
  grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

installed=yes
dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg -i"; }
[ "$(/usr/bin/vmcfg --version | head -n 1)" = "vmcfg (config_adm) $CFGADM_VERSION" ] ||
  fail "vmcfg --version: $(/usr/bin/vmcfg --version)"
[ "$(/usr/bin/vmadmd --version | tail -n 1)" = "module libconfig_adm $CFGADM_VERSION" ] ||
  fail "vmadmd --version: $(/usr/bin/vmadmd --version 2>&1)"
/usr/bin/vmcfg --root "$tmp/root" init >/dev/null || fail "vmcfg init"
[ -d "$tmp/root/VM/config" ] || fail "vmcfg init made no /VM/config"
getent passwd vmplatform >/dev/null || fail "no vmplatform user"
[ "$(stat -c %U /var/lib/vmplatform/VM/config)" = vmplatform ] || fail "root not initialised"
# The package's root is the group's to edit: every directory init made is
# group-writable and passes its group on.
for dir in "" /VM /VM/config /VM/orvex/sd/sdata /vm /vm/tmp /vm/log /vm/run; do
  mode=$(stat -c '%a %U %G' "/var/lib/vmplatform$dir")
  [ "$mode" = "2775 vmplatform vmplatform" ] || fail "/var/lib/vmplatform$dir is $mode"
done
# Without --root the installed vmcfg works on the package's root: a member of
# the group (only) writes there, and the file stays the group's.
gid=$(getent group vmplatform | cut -d: -f3)
setpriv --reuid=65534 --regid="$gid" --clear-groups \
  /usr/bin/vmcfg props put /VM/config/package-test Name value >/dev/null ||
  fail "a member of group vmplatform can't put into the default root"
[ "$(stat -c %G /var/lib/vmplatform/VM/config/package-test)" = vmplatform ] ||
  fail "a file put by the group is not the group's"
rm -f /var/lib/vmplatform/VM/config/package-test
# A mistyped root is refused and left alone.
out=$(/usr/bin/vmcfg --root "$tmp/typo" props put --system Name value 2>&1) && fail "typo root accepted"
[ "$out" = "vmcfg: $tmp/typo: not a platform root; run vmcfg init" ] || fail "typo root: $out"
[ ! -e "$tmp/typo" ] || fail "vmcfg made $tmp/typo"

# systemd-analyze verify needs no running systemd: it loads the unit files.
if command -v systemd-analyze >/dev/null; then
  man=no
  command -v man >/dev/null && man=yes  # Documentation=man: pages are checked too
  for unit in /lib/systemd/system/vmpropd@.service /lib/systemd/system/vmadmd.service; do
    [ -f "$unit" ] || continue
    [[ $unit == *@.service ]] && unit=${unit/@.service/@333.service}
    SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man="$man" "$unit" ||
      fail "systemd-analyze verify $unit"
  done
else
  echo "note: no systemd-analyze here, units not verified"
fi

dpkg-query -L "$CFGADM_PACKAGE" >"$tmp/files"
dpkg -r "$CFGADM_PACKAGE" >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg -r"; }
[ "$(status)" = "rc " ] || fail "after dpkg -r the status is '$(status)', not rc"
while read -r path; do
  [ -d "$path" ] && continue
  [ "$path" = /etc/default/vmplatform ] && { [ -f "$path" ] || fail "dpkg -r removed $path"; continue; }
  [ ! -e "$path" ] || fail "dpkg -r left $path"
done <"$tmp/files"
installed=
dpkg -P "$CFGADM_PACKAGE" >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg -P"; }
[ ! -e /etc/default/vmplatform ] || fail "dpkg -P left /etc/default/vmplatform"
[ ! -e /var/lib/vmplatform ] || fail "dpkg -P left /var/lib/vmplatform"
echo "package $(basename "$deb"): installs, runs, removes and purges"
