#!/usr/bin/env bash
# help2man.sh HELP2MAN PROGRAM NAME VERSION OUTPUT [INCLUDE]
# Writes NAME(1) to OUTPUT from the program's own --help: help2man makes the
# page, and a COMMANDS section holds the --help of every subcommand (CLI11's
# "Subcommands:" lists, followed down). INCLUDE: an optional help2man include
# file with hand-written sections (FILES, EXAMPLES, ...).
set -euo pipefail
help2man=$1 program=$2 name=$3 version=$4 output=$5 extra=${6:-}
# Run by its bare name, so no build path shows in the usage lines.
PATH="$(cd "$(dirname "$program")" && pwd):$PATH"
program=$(basename "$program")
mkdir -p "$(dirname "$output")"
include=$(mktemp)
trap 'rm -f "$include"' EXIT

# The subcommand names of a help text.
subcommands() {
  awk '/^Subcommands:/ { on = 1; next }
       on && /^  +[^ -]/ { sub(/,$/, "", $1); print $1; next }
       on && /^[^ ]/ { on = 0 }'
}
# Help text as roff: backslashes escaped, no line read as a request.
roff() { sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }

walk() {
  local help sub
  help=$("$program" "$@" --help)
  if [ $# -gt 0 ]; then
    printf '.SS "%s %s"\n.nf\n' "$name" "$*"
    roff <<<"$help"
    printf '.fi\n'
  fi
  for sub in $(subcommands <<<"$help"); do walk "$@" "$sub"; done
}

commands=$(walk)
if [ -n "$commands" ]; then
  printf '[COMMANDS]\nGlobal options (--root, --json, -o, --box, --trace-level) may come before the command or after it; its own options come after it.\n%s\n' \
    "$commands" >"$include"
fi
# NAME line: the first line of --help, "prog: what it does".
summary=$("$program" --help | head -n 1)
summary=${summary#"$name: "}
args=(--no-info --no-discard-stderr --version-string="$version" --name="$summary"
      --output="$output")
[ -s "$include" ] && args+=(--include="$include")
[ -n "$extra" ] && args+=(--include="$extra")
"$help2man" "${args[@]}" "$program"
