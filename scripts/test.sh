#!/usr/bin/env bash
# Runs every test: the C++ unit and property tests (plain and under
# AddressSanitizer + UndefinedBehaviorSanitizer) and the Octave tests of the
# MEX module. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
KELPIE_WITH_TEST_TOOLS=1 bash scripts/install-deps.sh

export OPENBLAS_NUM_THREADS=1
jobs=$(nproc)

echo "== Release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKELPIE_BUILD_MEX=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKELPIE_SANITIZE=ON -DKELPIE_BUILD_MEX=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
