#!/usr/bin/env bash
# Runs every benchmark of a build folder on a scratch platform root, then
# prints one table: each benchmark's time as a ratio to its anchor measured in
# the same run (CPU time for in-memory work, wall time where the disk syncs),
# with the goal where the project has one, and the figures that are not
# ratios (heap per property).
set -euo pipefail
build=${1:-build}
root=$(mktemp -d "${TMPDIR:-/tmp}/cfgadm-bench-XXXXXX")
trap 'rm -rf "$root"' EXIT
export VM_ROOT=$root
export CFGADM_RATIOS=$root/ratios.tsv
: >"$CFGADM_RATIOS"
found=0
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
[ $found = 1 ] || { echo "no benchmarks built in $build" >&2; exit 1; }
echo
echo "== ratios to anchors measured in the same run"
awk -F'\t' '{ printf "%-22s %-40s %-36s %-5s %9s %s\n", $1, $2, $3, $4, $5, $6 }' "$CFGADM_RATIOS"
