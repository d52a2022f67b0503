#!/usr/bin/env bash
# Stage: the fuzz targets (fault list, behaviour list, wdt-check's command
# line, the reset record) for 15 s each, two at a time, the soak (1000 runs of
# each road, the two roads side by side) under ThreadSanitizer, and one short
# run of the benchmark to prove that it still runs, which fails when the
# program's instructions per key (counted under valgrind, not timed) exceed
# their target. About four minutes.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/deps bench-fuzz

echo "-- fuzz: the four parsers, 15 s each, two at a time (the fuzz preset)"
# New inputs go to build/fuzz/corpus/<target>; the seeds in the tree stay as they are.
cmake --preset fuzz -DWDT_FUZZ_SECONDS=15 >/dev/null
cmake --build --preset fuzz --parallel 2 >/dev/null
if ! ctest --preset fuzz --parallel 2; then
  echo "fuzz: failed; the input is in build/fuzz/ (<target>-crash-*)"
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' build/fuzz/Testing/Temporary/LastTest.log || true

echo "-- soak: the q road and a failure road, 1000 runs each, under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --parallel 2 --target soak_tests wdt-exerciser-instant wdtDLL >/dev/null
# Each road's runs stay back to back; the two roads share the machine's cores.
soak() {
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 WDT_SOAK_RUNS=1000 \
    build/tsan/soak_tests --gtest_brief=1 --gtest_filter="$1"
}
soak 'SoakTest.TheQRoadAgainAndAgain' & q_road=$!
soak 'SoakTest.AFailedReloadAgainAndAgain' & failure_road=$!
soak_failed=0
wait "$q_road" || soak_failed=1
wait "$failure_road" || soak_failed=1
[ "$soak_failed" -eq 0 ] || { echo "soak: failed"; exit 1; }

echo "-- benchmark, short mode (proves that it runs; its timed figures mean nothing here, its counts do)"
cmake --preset bench >/dev/null
cmake --build --preset bench --parallel 2 >/dev/null
cmake --build --preset bench --target bench-short
