#!/usr/bin/env bash
# kelpie's Python package against scipy and cvxopt, and its per-call overhead
# (one thread each): bash bench/python.sh
set -euo pipefail
cd "$(dirname "$0")/.."
KELPIE_WITH_TEST_TOOLS=1 bash scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -m pip install -q --no-build-isolation --no-deps --target "$work/site" ./python 2>&1 |
  grep -v "Running pip as the 'root' user" || true
g++ -O2 -std=c++17 -ffp-contract=off -Wno-psabi -fPIC -shared -Isolver -o "$work/libsolve_timer.so" \
  bench/solve_timer.cpp solver/*.cpp -lopenblas
source bench/openblas_core.sh
OPENBLAS_NUM_THREADS=1 PYTHONPATH="$work/site" /usr/bin/python3 bench/python_bench.py "$work/libsolve_timer.so"
