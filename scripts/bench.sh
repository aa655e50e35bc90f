#!/usr/bin/env bash
# Builds the release preset and runs every benchmark that measures against a
# target, then lists each figure beside its target, so what holds and what
# does not shows at once. A benchmark prints such a figure as one line:
#   <figure>: <value> <unit> (target < <value> <unit>) OK|MISSED
#
#   scripts/bench.sh           full runs (the refresh 5 rounds at 100, 500 and 1000
#                              channels, idle 60 s)
#   scripts/bench.sh --quick   shorter runs (the refresh 3 rounds, idle 10 s)
#
# Each benchmark's whole output is kept in build/release/bench-logs/.
# Exit status: 0 when every figure is within its target, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

if [ $quick -eq 1 ]; then rounds=3; idle=10; else rounds=5; idle=60; fi

# The benchmarks with targets: "<program under build/release/bench> [arguments]".
programs=(
  "refresh/refresh_bench $rounds"
  "idle/idle_bench $idle"
  "start/start_bench"
  "screens/reading_bench"
  "screens/headlines_bench"
  "ambrel/ambrel_bench"
  "monitor/monitor_bench"
)

bash scripts/install-deps.sh
cmake --preset release >/dev/null || exit 1
# The programs above that this tree has (with what they run: the reader,
# Ambrel), not the tests.
known=$(cmake --build --preset release --target help | sed -n 's/^\([A-Za-z0-9_]*\): .*/\1/p')
targets=()
for entry in "${programs[@]}"; do
  name=$(basename "${entry%% *}")
  if grep -qx "$name" <<<"$known"; then targets+=("$name"); fi
done
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build --preset release -j "$(nproc)" --target "${targets[@]}" || exit 1
fi

bench=build/release/bench
logs=build/release/bench-logs
mkdir -p "$logs"

summary=()
missed=0
for entry in "${programs[@]}"; do
  read -r program args <<<"$entry"
  exe="$bench/$program"
  name=$(basename "$program")
  if [ ! -x "$exe" ]; then
    echo "== $program: not built here, skipped"
    summary+=("$program: not built here, skipped")
    continue
  fi
  echo "== $program $args"
  # shellcheck disable=SC2086
  "$exe" $args 2>&1 | tee "$logs/$name.log"
  status=${PIPESTATUS[0]}
  figures=$(grep -E '\(target [<>]' "$logs/$name.log" || true)
  if [ -z "$figures" ]; then
    summary+=("$program: no figure with a target (exit status $status)")
  else
    while IFS= read -r line; do summary+=("$line"); done <<<"$figures"
  fi
  if [ "$status" -ne 0 ]; then
    summary+=("$program: ended with status $status")
    missed=$((missed + 1))
  fi
done

echo
echo "== figures and their targets"
for line in "${summary[@]}"; do
  echo "$line"
  case "$line" in *MISSED*) missed=$((missed + 1)) ;; esac
done
if [ $missed -eq 0 ]; then
  echo "== every target holds"
  exit 0
fi
echo "== $missed figure(s) or run(s) missed"
exit 1
