#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are present.
# As root with apt: runs `apt-get update` once and installs what is missing.
# Otherwise: prints the exact install line and fails.
# Then installs the browser test's npm packages from their lock file. Only
# the browser test needs them: without the npm registry the build, the demo
# and every other test still work, and this script says the browser test is
# skipped. Under CI (CI=true) the browser test is mandatory and a failed
# npm install fails this script.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libtre-dev liblmdb-dev liburing-dev libsqlite3-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
          clang libclang-rt-14-dev
          help2man dpkg-dev file binutils adduser lintian
          chromium
          etcd-server etcd-client libssl-dev)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Node.js and npm run the browser test. A machine may carry its own build of
# Node.js (which conflicts with Debian's npm), and such a build may ship npm
# beside node without a command on PATH: that npm is used as it is. Debian's
# packages only when there is no node at all.
npm_cli() {
  local node cli
  node="$(command -v node 2>/dev/null)" || return 1
  cli="$(dirname "$(readlink -f "$node")")/../lib/node_modules/npm/bin/npm-cli.js"
  [ -f "$cli" ] && printf '%s\n' "$cli"
}
if ! command -v node >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "setup: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # etcd-server would start a member of its own on etcd's ports: packages
    # are installed under a policy that forbids starting any service.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
      printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy"
      trap 'rm -f "$policy"' EXIT
    fi
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "setup: missing packages; run as root:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi

# The tests and the demo run their own etcd members. When this script has
# just installed etcd, the package's service stays off (also at the next
# boot); an etcd the administrator had before is left as it is.
installed_etcd=no
for p in "${missing[@]}"; do [ "$p" = etcd-server ] && installed_etcd=yes; done
if [ "$installed_etcd" = yes ] && [ "$(id -u)" = 0 ] && [ -e /lib/systemd/system/etcd.service ]; then
  if [ -d /run/systemd/system ]; then
    systemctl disable --now etcd.service >/dev/null 2>&1 || true
  elif command -v deb-systemd-helper >/dev/null 2>&1; then
    deb-systemd-helper disable etcd.service >/dev/null 2>&1 || true
  fi
  if [ -x /etc/init.d/etcd ] && command -v update-rc.d >/dev/null 2>&1; then
    update-rc.d etcd disable >/dev/null 2>&1 || true
  fi
fi
# The tests pick free ports, so an etcd of the administrator's own may stay.
if command -v ss >/dev/null 2>&1 && ss -Hltn 'sport = :2379' | grep -q .; then
  echo "setup: note: something listens on port 2379 (an etcd service?); the tests use ports of their own" >&2
fi

# The browser test drives Debian's Chromium through puppeteer-core, which
# downloads no browser of its own. Installed exactly as locked, again only
# when the lock is newer than what is installed.
browser_tests="$(cd "$(dirname "$0")/../tests/browser" && pwd)"
browser_skipped() {
  if [ "${CI:-}" = true ]; then
    echo "setup: $1; CI needs the browser test (browser.console)" >&2
    exit 1
  fi
  echo "setup: $1: the browser test (browser.console) is skipped;" \
    "everything else builds and is tested" >&2
}
npm=()
if command -v npm >/dev/null 2>&1; then
  npm=(npm)
elif cli="$(npm_cli)"; then
  npm=(node "$cli")
elif [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1 &&
     apt-get install -y -qq --no-install-recommends npm >/dev/null 2>&1; then
  # A Node.js of Debian's own without its npm; apart from the packages
  # above, so that a conflict here cannot keep the build's packages out.
  npm=(npm)
fi
if [ ${#npm[@]} -eq 0 ]; then
  browser_skipped "no npm on this machine"
elif [ ! -d "$browser_tests/node_modules" ] ||
     [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules" ]; then
  echo "setup: installing the browser test's npm packages (npm ci in tests/browser)" >&2
  npm_options=(--ignore-scripts --no-audit --no-fund --loglevel=error)
  # Every make target runs this script: offline, npm's own retries (over a
  # minute) and timeouts (minutes) would delay each one. CI waits as long as
  # npm does.
  [ "${CI:-}" = true ] ||
    npm_options+=(--fetch-retries=1 --fetch-retry-mintimeout=2000 --fetch-retry-maxtimeout=5000
                  --fetch-timeout=30000)
  if (cd "$browser_tests" && PUPPETEER_SKIP_DOWNLOAD=1 "${npm[@]}" ci "${npm_options[@]}"); then
    touch "$browser_tests/node_modules"
  else
    # A half-installed tree would register a browser test that cannot run.
    rm -rf "$browser_tests/node_modules"
    browser_skipped "npm ci failed (is the npm registry reachable?)"
  fi
fi
