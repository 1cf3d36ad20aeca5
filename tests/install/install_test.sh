#!/usr/bin/env bash
# install_test.sh BUILD: installs BUILD into a temporary DESTDIR under a prefix
# of its own, checks the tree, compiles every public header alone and a small
# program with `pkg-config --cflags --libs config_adm` only, and runs it. Then
# installs BUILD under a plain temporary prefix (as `make install PREFIX=...`)
# and runs the programs from there with no library path at all.
set -euo pipefail
build=$1
CXX=${CXX:-c++}
: "${CFGADM_VERSION:?set by CTest: the project version}"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/cfgadm-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

stage=$tmp/stage prefix=/opt/cfgadm
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$tmp/log" || { cat "$tmp/log"; fail "install"; }
root=$stage$prefix
pc=$(find "$root" -name config_adm.pc)
[ -n "$pc" ] || fail "no config_adm.pc"
libdir=$(dirname "$(dirname "$pc")")
PKG_CONFIG_LIBDIR=$(dirname "$pc")
export PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR=$stage

for lib in config_adm vmplatform; do
  readelf -d "$libdir/lib$lib.so" | grep -q "SONAME.*\[lib$lib\.so\.${CFGADM_VERSION%%.*}\]" ||
    fail "lib$lib.so has no SONAME lib$lib.so.${CFGADM_VERSION%%.*}"
done
for program in "$root"/bin/*; do
  [ -f "$root/share/man/man1/$(basename "$program").1.gz" ] || fail "no man page for $program"
done
# Libraries loaded by path have no SONAME: they live in the module's private
# directory, never in the shared library directory itself.
for lib in "$libdir"/*.so*; do
  [ -L "$lib" ] || readelf -d "$lib" | grep -q SONAME || fail "$lib has no SONAME"
done
for f in bin/vmcfg bin/vmpropd bin/vmadmd "${libdir#"$root"/}/config_adm/libvmcfg_commands.so" \
  "${libdir#"$root"/}/config_adm/libvmadmd_api.so" \
  share/man/man5/config_adm.5.gz lib/systemd/system/vmpropd@.service \
  lib/systemd/system/vmcfg-sweep.service lib/systemd/system/vmcfg-sweep.timer \
  etc/default/vmplatform share/bash-completion/completions/vmcfg; do
  [ -e "$root/$f" ] || fail "$f not installed"
done
grep -q "^ExecStart=$prefix/bin/vmpropd " "$root/lib/systemd/system/vmpropd@.service" ||
  fail "vmpropd@.service does not start $prefix/bin/vmpropd"
[ ! -e "$root/include/config_adm/host" ] || fail "headers of the stand-in installed"

# A unit does not start when a path of its ReadWritePaths= is missing, unless
# the path is marked optional ("-"): the root is the administrator's choice,
# so the shipped units name optional paths only.
for unit in "$root"/lib/systemd/system/*.service; do
  required=$(sed -n 's/^\(ReadWrite\|ReadOnly\)Paths=//p' "$unit" | tr ' ' '\n' | grep -v '^-' | grep . || true)
  [ -z "$required" ] || fail "$(basename "$unit") cannot start without $required"
done

# Every public header compiles on its own.
cflags="$(pkg-config --cflags config_adm) -Wall -Wextra"
export CXX cflags
# shellcheck disable=SC2016  # expanded by the inner shell
(cd "$root/include/config_adm" && find . -name '*.h' | sed 's|^\./||') |
  xargs -P 2 -n 1 sh -c 'echo "#include \"$1\"" | $CXX $cflags -fsyntax-only -x c++ - ||
                         { echo "$1 does not compile alone" >&2; exit 255; }' sh

# A platform program: reads a parameter through the module.
cat >"$tmp/probe.cpp" <<'EOF'
#include <iostream>

#include "config/ConfigurationInfo.h"
#include "config_adm_version.h"

int main() {
    ConfigurationInfo info(ConfigurationInfo::defaultConfigFile, 0);
    String value;
    Symbol type, typeValue;
    if (!info.configGet(Symbol("max_ports"), value, type, typeValue)) return 1;
    std::cout << config_adm_version() << " " << value << " " << type.text() << "="
              << typeValue.text() << "\n";
}
EOF
# shellcheck disable=SC2046,SC2086
$CXX ${CFGADM_TEST_FLAGS:-} "$tmp/probe.cpp" -o "$tmp/probe" $(pkg-config --cflags --libs config_adm)
mkdir -p "$tmp/root/VM/config"
printf 'precedence node vm7\nnode vm7 : max_ports=48\n' >"$tmp/root/VM/config/config_params"
out=$(VM_ROOT=$tmp/root LD_LIBRARY_PATH=$libdir "$tmp/probe")
[ "$out" = "$CFGADM_VERSION 48 node=vm7" ] || fail "probe printed '$out'"

out=$(env -u LD_LIBRARY_PATH "$root/bin/vmcfg" --version)
[ "$out" = "vmcfg (config_adm) $CFGADM_VERSION"$'\n'"module libconfig_adm $CFGADM_VERSION" ] ||
  fail "vmcfg --version printed '$out'"
out=$(env -u LD_LIBRARY_PATH "$root/bin/vmadmd" --version)
[ "$out" = "vmadmd (config_adm) $CFGADM_VERSION"$'\n'"module libconfig_adm $CFGADM_VERSION" ] ||
  fail "vmadmd --version printed '$out'"

# Without --root and VM_ROOT the installed vmcfg takes VM_ROOT from its
# prefix's etc/default/vmplatform; a root that init did not make is refused.
sed -i "s|^VM_ROOT=.*|VM_ROOT=$tmp/root|" "$root/etc/default/vmplatform"
out=$(env -u VM_ROOT -u VM_DEFAULTS_FILE -u LD_LIBRARY_PATH "$root/bin/vmcfg" param get max_ports)
[ "$out" = "48 (node=vm7)" ] || fail "vmcfg without --root printed '$out'"
sed -i "s|^VM_ROOT=.*|VM_ROOT=$tmp/nothing|" "$root/etc/default/vmplatform"
out=$(env -u VM_ROOT -u LD_LIBRARY_PATH "$root/bin/vmcfg" param get max_ports 2>&1) &&
  fail "vmcfg accepted a root without /VM/config"
[ "$out" = "vmcfg: $tmp/nothing: not a platform root; run vmcfg init" ] || fail "refusal: '$out'"

# Completion: commands of a group, classes after --access.
source "$root/share/bash-completion/completions/vmcfg"
complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vmcfg; echo "${COMPREPLY[*]}"; }
[ "$(complete_words vmcfg --root /r props '')" = "show check set add put reset remove export import diff watch" ] ||
  fail "completion: props"
[ "$(complete_words vmcfg history '')" = "show prune" ] || fail "completion: history"
[ "$(complete_words vmcfg sw)" = "sweep" ] || fail "completion: sweep"
[ "$(complete_words vmcfg props show --access R)" = "Restricted" ] || fail "completion: --access"
# In any case, after a comma too; kinds and feature names.
[ "$(complete_words vmcfg known list c)" = "COS" ] || fail "completion: kind in lower case"
[ "$(complete_words vmcfg props set --read server,st)" = "server,Standard" ] ||
  fail "completion: --read list"
[ "$(complete_words vmcfg features set t)" = 'Tandem\ Mailbox' ] || fail "completion: feature"

# Manual pages: every page names every program, and each program's page has
# its exit statuses and examples.
programs=$(cd "$root/bin" && ls)
for page in "$root"/share/man/man1/*.1.gz "$root/share/man/man5/config_adm.5.gz"; do
  text=$(gzip -dc "$page")
  for program in $programs; do
    [ "$(basename "$page" .1.gz)" = "$program" ] && continue
    grep -q "^\.BR $program (1)" <<<"$text" || fail "$(basename "$page") does not name $program(1)"
  done
  grep -q '^\.SH "\?EXIT STATUS' <<<"$text" || fail "$(basename "$page") has no EXIT STATUS"
  [[ $page == *.5.gz ]] || grep -q '^\.SH EXAMPLES' <<<"$text" || fail "$(basename "$page") has no EXAMPLES"
done

# The units are sandboxed: systemd rates each at most 3.0 ("OK").
if systemd-analyze security --help 2>/dev/null | grep -q -- --offline; then
  cp "$root/lib/systemd/system/vmpropd@.service" "$tmp/vmpropd@333.service"
  for unit in "$root/lib/systemd/system/vmadmd.service" "$tmp/vmpropd@333.service"; do
    level=$(systemd-analyze security --offline=yes --no-pager "$unit" 2>&1 |
            sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    [ -n "$level" ] && awk -v l="$level" 'BEGIN { exit !(l <= 3.0) }' ||
      fail "$(basename "$unit"): exposure ${level:-unknown}, above 3.0"
  done
else
  echo "note: systemd-analyze has no --offline here, units not rated"
fi

# A plain prefix, no DESTDIR, nothing on the library path and no ldconfig:
# the programs find their libraries (and vmcfg the module it dlopens by name)
# relative to themselves.
direct=$tmp/direct
cmake --install "$build" --prefix "$direct" >"$tmp/log" || { cat "$tmp/log"; fail "install to $direct"; }
for program in "$direct"/bin/*; do
  runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ $runpath == '$ORIGIN/'* && $runpath != *"$build"* ]] || fail "$program: RUNPATH '$runpath'"
done
run() { env -u LD_LIBRARY_PATH -u VM_ROOT -u VM_DEFAULTS_FILE "$direct/bin/$@"; }
for program in vmcfg vmadmd vmpropd; do
  out=$(run "$program" --version 2>&1) || fail "$program --version from $direct: $out"
  [ "$(tail -n 1 <<<"$out")" = "module libconfig_adm $CFGADM_VERSION" ] ||
    fail "$program --version from $direct printed '$out'"
done
r=$tmp/direct-root
run vmcfg --root "$r" init >/dev/null || fail "vmcfg init from $direct"
run vmcfg --root "$r" props put --system "Site Name" east >/dev/null || fail "props put from $direct"
out=$(run vmcfg --root "$r" props show --system --name "Site Name")
grep -q "value (4 bytes): east" <<<"$out" || fail "props show from $direct printed '$out'"
run vmcfg --root "$r" known list cos >/dev/null || fail "vmcfg known (module by name) from $direct"
run mkgf_act --root "$r" || fail "mkgf_act from $direct"
status=0
run mkgf_act --no-such-option 2>/dev/null || status=$?
[ "$status" = 2 ] || fail "mkgf_act with a bad option exits $status, not 2"
echo "installed tree under $prefix and $direct: ok"
