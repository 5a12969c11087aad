#!/usr/bin/env bash
# The main job: builds kelpie.mex for GNU Octave and solves the demo problems
# with kelpie and with Octave's own qp. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKELPIE_BUILD_MEX=ON >/dev/null
cmake --build build -j"$(nproc)" --target kelpie_mex solve_example
OPENBLAS_NUM_THREADS=1 octave --no-gui --no-window-system --norc --no-history \
  --eval "addpath('$PWD/build/matlab'); kelpie_demo"
