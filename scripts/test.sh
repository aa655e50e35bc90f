#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in a plain
# debug build and under AddressSanitizer with UndefinedBehaviorSanitizer;
# then runs each fuzz target briefly over its seeds (scripts/fuzz-smoke.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
JOBS="$(nproc)"

cmake --preset debug >/dev/null
cmake --preset asan >/dev/null
cmake --build --preset debug -j "$JOBS"
cmake --build --preset asan -j "$JOBS"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# The two suites run side by side; each reports its own summary.
status=0
ctest --preset debug -j "$JOBS" > build/debug-tests.log 2>&1 & plain=$!
ctest --preset asan -j "$JOBS" > build/asan-tests.log 2>&1 & sanitized=$!
wait $plain || status=1
wait $sanitized || status=1

# Then every fuzz target over its seeds for a fixed number of inputs.
echo "== fuzz targets (smoke run) =="
bash scripts/fuzz-smoke.sh || status=1

echo "== plain build =="
tail -n 40 build/debug-tests.log
echo "== ASan + UBSan build =="
tail -n 40 build/asan-tests.log
if [ $status -ne 0 ]; then
  echo "== failures (plain) =="; grep -E "(Failed|\*\*\*)" build/debug-tests.log | head -50 || true
  echo "== failures (sanitized) =="; grep -E "(Failed|\*\*\*)" build/asan-tests.log | head -50 || true
fi
exit $status
