#!/usr/bin/env bash
# Builds and runs the C++ benchmark; arguments go to Google Benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for p in libbenchmark-dev liblapack-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null
  fi
done
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKELPIE_BUILD_BENCH=ON -DKELPIE_BUILD_TESTS=OFF \
  -DKELPIE_BUILD_MEX=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target solver_bench
source bench/openblas_core.sh
OPENBLAS_NUM_THREADS=1 ./build-bench/bench/solver_bench --benchmark_counters_tabular=true "$@"
