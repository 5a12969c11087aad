#!/usr/bin/env bash
# Compares this tree's solver with the solver of another commit (default:
# HEAD), bit for bit and in speed, in one run:
#   bash bench/compare.sh [COMMIT] [--no-timing] [--only=TEXT]
# Every problem of bench/compare_builds.cpp is solved by both builds with both
# methods; a solve whose result code, x or multipliers differ in any bit is
# printed, and the exit status is 1. The benchmark families of n >= 500 print
# the ratio of the two median times (now / baseline; one thread).
set -euo pipefail
cd "$(dirname "$0")/.."
commit=${1:-HEAD}
shift || true
bash scripts/install-deps.sh
rm -rf build-compare/baseline
mkdir -p build-compare/baseline
# -m: the files get the time of extraction, so that make rebuilds the baseline
# even where its objects are newer than that commit.
git archive "$commit" solver | tar -x -m -C build-compare/baseline
cmake -S . -B build-compare -DCMAKE_BUILD_TYPE=Release -DKELPIE_BUILD_TESTS=OFF -DKELPIE_BUILD_MEX=OFF \
  -DKELPIE_BASELINE_SOURCES="$PWD/build-compare/baseline/solver" >/dev/null
cmake --build build-compare -j"$(nproc)" --target compare_builds >/dev/null
OPENBLAS_NUM_THREADS=1 ./build-compare/compare_builds fuzz/corpus "$@"
