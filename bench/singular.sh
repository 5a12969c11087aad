#!/usr/bin/env bash
# kelpie, described and accelerated, against cvxopt's interior-point solver
# (tolerance 1e-12) on the singular and nearly singular families and two
# definite ones, in one run, one thread each:
#   bash bench/singular.sh [--only=NAME,NAME...] [N ...]     (default: 1000 2000)
set -euo pipefail
cd "$(dirname "$0")/.."
KELPIE_WITH_TEST_TOOLS=1 bash scripts/install-deps.sh   # cvxopt and numpy among them
sizes=("$@")
printf '%s\n' "${sizes[@]}" | grep -q '^[0-9]' || sizes+=(1000 2000)
cmake -S . -B build-bench-singular -DCMAKE_BUILD_TYPE=Release -DKELPIE_BUILD_TESTS=OFF -DKELPIE_BUILD_MEX=OFF >/dev/null
cmake --build build-bench-singular -j"$(nproc)" --target kelpie_solver >/dev/null 2>&1
g++ -O2 -std=c++17 -ffp-contract=off -Isolver bench/singular_families.cpp bench/singular_problems.cpp bench/grid_problems.cpp bench/problems.cpp \
  build-bench-singular/libkelpie_solver.a \
  -lopenblas -o build-bench-singular/singular_families
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
export OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1
source bench/openblas_core.sh
./build-bench-singular/singular_families --check-grids
./build-bench-singular/singular_families "$folder" "${sizes[@]}" > "$folder/kelpie.txt"
/usr/bin/python3 bench/ip_reference.py "$folder" "$folder/kelpie.txt"
