#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are present.
# As root with apt: runs `apt-get update` once and installs what is missing.
# Otherwise: prints the exact install line and fails.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libtre-dev liblmdb-dev libsqlite3-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
          clang libclang-rt-14-dev
          help2man dpkg-dev file binutils adduser)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  exit 0
fi

echo "setup: missing packages; run as root:" >&2
echo "  apt-get install ${missing[*]}" >&2
exit 1
