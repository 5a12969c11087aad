#!/usr/bin/env bash
# Builds kelpie.mex and runs bench/octave_bench.m in one Octave session.
# Arguments, if any, are Octave expressions for the sizes and repeats, e.g.
#   bash bench/octave.sh "[10 50 200]" 5
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKELPIE_BUILD_MEX=ON >/dev/null
cmake --build build -j"$(nproc)" --target kelpie_mex
source bench/openblas_core.sh
args=""
[ $# -ge 1 ] && args="$1"
[ $# -ge 2 ] && args="$args, $2"
OPENBLAS_NUM_THREADS=1 octave --no-gui --no-window-system --norc --no-history \
  --eval "addpath('$PWD/build/matlab'); addpath('$PWD/bench'); octave_bench($args)"
