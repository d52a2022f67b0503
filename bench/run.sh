#!/usr/bin/env bash
# The benchmark, one command: builds the program (the run preset), the bare
# reference and the harness, then prints the table.
#   bench/run.sh           the full run (about three minutes)
#   bench/run.sh --short   a smoke run for CI: same code, tiny counts
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset run >/dev/null
cmake --build --preset run --parallel 2 >/dev/null
mkdir -p build/bench
cc -std=c11 -O2 -Wall -Wextra -Wpedantic -Werror -o build/bench/reference bench/reference.c
c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -pthread -o build/bench/bench bench/bench.cpp -lutil
exec build/bench/bench build/run/wdt-exerciser build/bench/reference "$@"
