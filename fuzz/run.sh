#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while on a copy of its seed
# corpus (the checked-in corpus never grows), as many at once as there are
# cores.
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# Fails when any target crashes, trips a sanitizer or breaks one of its
# checks; the input that did it is kept under BUILD_DIR/fuzz-crashes/.
set -euo pipefail

build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(stream records config set_ops)

# Longest input per target: room for values past 4096 bytes (they live in
# files) and for expressions long enough to be matched in pieces.
declare -A max_len=([stream]=9000 [records]=9000 [config]=16384 [set_ops]=2048)

# Values from 4096 bytes live in files: a memory file system (when there is
# one) keeps their creation and removal from dominating the run.
scratch=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/cfgadm-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
crashes="$build/fuzz-crashes"
mkdir -p "$crashes"

# One target a core: each still gets its whole time on a core of its own,
# and a CI run waits for half as long on two cores.
run_target() {
  local t=$1 corpus="$work/corpus-$t"
  mkdir -p "$corpus" "$work/tmp-$t"
  cp "$here/corpus/$t/"* "$corpus/"
  # The scratch platform root goes under the run's own directory, so that a
  # crashed target leaves nothing behind.
  TMPDIR="$work/tmp-$t" \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz_$t" -max_total_time="$seconds" -max_len="${max_len[$t]:-4096}" -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/$t-" \
    "$corpus" >"$work/$t.log" 2>&1
}

for t in "${targets[@]}"; do
  [ -x "$build/fuzz_$t" ] || { echo "fuzz: no target $build/fuzz_$t" >&2; exit 2; }
done
cores=$(nproc 2>/dev/null || echo 1)
declare -A pids
for t in "${targets[@]}"; do
  # wait -n reaps a finished target early; its status stays with bash for
  # the "wait PID" below.
  while [ "$(jobs -rp | wc -l)" -ge "$cores" ]; do wait -n || true; done
  echo "fuzz: $t for ${seconds}s"
  run_target "$t" &
  pids[$t]=$!
done

failed=()
for t in "${targets[@]}"; do
  if wait "${pids[$t]}"; then
    grep -E 'inline 8-bit counters|^#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec' \
      "$work/$t.log" | sed "s/^/fuzz: $t: /"
  else
    tail -n 40 "$work/$t.log" >&2
    echo "fuzz: $t FAILED; inputs kept in $crashes" >&2
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without a failure"
