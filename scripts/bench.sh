#!/usr/bin/env bash
# Runs every benchmark of a build folder on a scratch platform root.
set -euo pipefail
build=${1:-build}
root=$(mktemp -d "${TMPDIR:-/tmp}/cfgadm-bench-XXXXXX")
trap 'rm -rf "$root"' EXIT
export VM_ROOT=$root
found=0
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
[ $found = 1 ] || { echo "no benchmarks built in $build" >&2; exit 1; }
