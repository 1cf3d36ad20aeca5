#!/usr/bin/env bash
# The demo behind `make run`: a fresh platform root inside the build tree, the
# platform's configuration-parameter file, and a property file, driven with
# vmcfg as an administrator would.
set -euo pipefail
build=${1:-build}
root=${2:-$build/demo-root}
vmcfg="$build/vmcfg"
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

db=/VM/config/sys_prop_db
run props put $db Greeting hello --read Minimal
run props put $db Greeting "good evening" --read Minimal
run props put $db Pin 1234 --read Server --write Server
run props show $db --access Standard
run props put $db Pin 0000 --index 1 --access Standard
run props check $db
echo
echo "The file, byte for byte:"
cat "$root$db"
