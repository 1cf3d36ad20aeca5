#!/usr/bin/env bash
# offline_setup_test.sh SOURCE: scripts/setup.sh on a machine that cannot
# reach the npm registry. Outside CI it succeeds, says that the browser test
# is skipped and leaves no half-installed node_modules; under CI (CI=true) it
# fails. Runs a copy of the script over a copy of tests/browser's package
# files with an empty npm cache, so the source tree is never touched. It
# installs no Debian package: apt-get is a stub here, and a machine that
# lacks one of setup's packages skips the test (exit 77).
set -euo pipefail
src=$1
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
# setup.sh also takes the npm a Node.js build ships beside node.
bundled_npm() {
  local node
  node=$(command -v node) && [ -f "$(dirname "$(readlink -f "$node")")/../lib/node_modules/npm/bin/npm-cli.js" ]
}
command -v npm >/dev/null || bundled_npm || skip "no npm on this machine"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/cfgadm-offline.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

tree=$tmp/tree
mkdir -p "$tree/scripts" "$tree/tests/browser" "$tmp/bin"
cp "$src/scripts/setup.sh" "$tree/scripts/"
cp "$src/tests/browser/package.json" "$src/tests/browser/package-lock.json" "$tree/tests/browser/"
printf '#!/bin/sh\ntouch "%s/apt-get-ran"\nexit 1\n' "$tmp" >"$tmp/bin/apt-get"
chmod +x "$tmp/bin/apt-get"
# Nothing listens on the discard port: every registry request is refused.
export PATH="$tmp/bin:$PATH" npm_config_registry=http://127.0.0.1:9 \
  npm_config_cache="$tmp/npm-cache"

setup() {
  local status=0
  env "$@" "$tree/scripts/setup.sh" >"$tmp/out" 2>&1 || status=$?
  if [ -e "$tmp/apt-get-ran" ] || grep -q "missing packages" "$tmp/out"; then
    skip "setup's Debian packages are not all installed: run scripts/setup.sh first"
  fi
  return "$status"
}

setup -u CI || { cat "$tmp/out" >&2; fail "setup without the npm registry failed"; }
grep -q "the browser test (browser.console) is skipped" "$tmp/out" ||
  { cat "$tmp/out" >&2; fail "setup did not say that the browser test is skipped"; }
[ ! -e "$tree/tests/browser/node_modules" ] || fail "setup left a half-installed node_modules"

# (npm's own retries under CI take over a minute: not needed to see it fail)
setup CI=true npm_config_fetch_retries=0 && { cat "$tmp/out" >&2; fail "under CI, setup without the npm registry succeeded"; }
grep -q "CI needs the browser test" "$tmp/out" ||
  { cat "$tmp/out" >&2; fail "under CI, setup failed without saying why"; }
echo "setup without the npm registry: browser test skipped, CI refuses"
