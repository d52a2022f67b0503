#!/usr/bin/env bash
# Stage: the fault-list fuzz target for 60 s, the soak (1000 runs of each
# road) under ThreadSanitizer, and one short run of the benchmark to prove
# that it still runs. About two and a half minutes.
set -euo pipefail
cd "$(dirname "$0")/../.."

need clang libclang-rt-14-dev

echo "-- fuzz: the WDT_SIM_FAULTS parser, 60 s"
mkdir -p build/fuzz/corpus
clang++ -std=c++20 -g -O1 -Wall -Wextra -Wpedantic -Werror \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Istandin-wdtdll -Iwatchdog \
  fuzz/fault_list_fuzz.cpp standin-wdtdll/fault_list.cpp -o build/fuzz/fault_list_fuzz
# New inputs go to build/fuzz/corpus; the seeds in the tree stay as they are.
if ! build/fuzz/fault_list_fuzz -max_total_time=60 -max_len=512 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus/fault_list \
    >build/fuzz/fuzz.log 2>&1; then
  tail -n 60 build/fuzz/fuzz.log
  echo "fuzz: failed; the input is in build/fuzz/ (crash-*)"
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' build/fuzz/fuzz.log || true

echo "-- soak: the q road and a failure road, 1000 runs each, under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --parallel 2 --target soak_tests wdt-exerciser-instant wdtDLL >/dev/null
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 WDT_SOAK_RUNS=1000 \
  build/tsan/soak_tests --gtest_brief=1

echo "-- benchmark, short mode (proves that it runs; its figures mean nothing here)"
bench/run.sh --short
