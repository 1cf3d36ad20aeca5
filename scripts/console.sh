#!/usr/bin/env bash
# `make console`: the web console on a fresh demo root. Makes the root with
# vmcfg's demo content, starts vmadmd on it in the foreground and prints the
# address (vmadmd's own line) and the token to log in with. Ctrl-C stops it.
set -euo pipefail
build=${1:-build}
root=${2:-$build/demo-root}
listen=${3:-127.0.0.1:8470}
for program in vmcfg vmadmd; do
  [ -x "$build/$program" ] || { echo "console: $build/$program is not built" >&2; exit 1; }
done

rm -rf "$root"
mkdir -p "$root"
root=$(cd "$root" && pwd)
"$build/vmcfg" --root "$root" init --demo >/dev/null
token_file=$root/vm/run/vmadmd.token

"$build/vmadmd" --root "$root" --listen "$listen" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null || true; wait "$pid"; exit $?' INT TERM
for _ in $(seq 100); do
  [ -s "$token_file" ] || ! kill -0 "$pid" 2>/dev/null && break
  sleep 0.1
done
if [ -s "$token_file" ]; then
  echo "console: root $root"
  echo "console: log in with the token $(cat "$token_file")"
fi
wait "$pid"
