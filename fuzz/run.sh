#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it for a bounded time
# (default 60 s) from the seed corpus in fuzz/corpus, which holds every input
# that once found a fault. New inputs go to build-fuzz/corpus. Usage:
#   bash fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CXX=clang++ CC=clang cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPIE_BUILD_FUZZ=ON \
  -DKELPIE_BUILD_TESTS=OFF -DKELPIE_BUILD_MEX=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target solve_box_qp_fuzzer
mkdir -p build-fuzz/corpus
# Every stored input first (a regression run), then new ones for the time given.
OPENBLAS_NUM_THREADS=1 ./build-fuzz/fuzz/solve_box_qp_fuzzer -runs=0 fuzz/corpus
OPENBLAS_NUM_THREADS=1 ./build-fuzz/fuzz/solve_box_qp_fuzzer -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build-fuzz/ build-fuzz/corpus fuzz/corpus 2>&1 |
  grep -E 'stat::number_of_executed_units|stat::peak_rss|Done|ERROR|SUMMARY|artifact' || true
test -z "$(ls build-fuzz/crash-* build-fuzz/timeout-* build-fuzz/oom-* 2>/dev/null)"
