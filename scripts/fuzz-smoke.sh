#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for a fixed number
# of inputs over its seed folder: a smoke run that shows each target still
# starts, reads its seeds and survives a first stretch of mutations.
#
#   scripts/fuzz-smoke.sh [runs]      (default 4000 inputs per target; a
#                                      target whose inputs are slow names
#                                      its own, smaller number)
#
# New inputs a run finds go to a scratch folder, never into the seeds. A
# crash leaves its input in build/fuzz/findings/<target>/ and fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."

runs="${1:-4000}"
cmake --preset fuzz >/dev/null || exit 1
list=build/fuzz/fuzzers.txt
# Only the targets and what they link, not the programs.
mapfile -t targets < <(cut -d'|' -f1 "$list" | sed '/^$/d')
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}" || exit 1

scratch=$(mktemp -d /tmp/quillet-fuzz-smoke-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=0
while IFS='|' read -r name program seeds dict own; do
  [ -n "$name" ] || continue
  count="$runs"
  [ -n "$own" ] && [ "$own" -lt "$count" ] && count="$own"
  corpus="$scratch/$name"
  findings="build/fuzz/findings/$name"
  mkdir -p "$corpus" "$findings"
  args=(-runs="$count" -seed=1 -max_len=65536 -timeout=25 -rss_limit_mb=2048 -artifact_prefix="$findings/")
  [ -n "$dict" ] && args+=(-dict="$dict")
  dirs=("$corpus")
  [ -n "$seeds" ] && [ -d "$seeds" ] && dirs+=("$seeds")
  start=$(date +%s)
  if "$program" "${args[@]}" "${dirs[@]}" > "build/fuzz/$name.log" 2>&1; then
    echo "fuzz $name: $count inputs, $(( $(date +%s) - start )) s, passed"
  else
    echo "fuzz $name: FAILED (build/fuzz/$name.log; inputs in $findings)"
    tail -n 30 "build/fuzz/$name.log"
    failed=1
  fi
done < "$list"
exit $failed
