#!/usr/bin/env bash
# kelpie_build.m, the build script for MATLAB and Octave users, run in Octave
# on a copy of the sources: it must leave a working kelpie.mex beside itself.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source_dir/solver" "$source_dir/gateway" "$source_dir/matlab" "$work/"
cd "$work/matlab"
octave-cli --no-gui --norc --no-history --eval "
  kelpie_build();
  [x, flag, lambda] = kelpie([4 2; 2 3], [-8; -7], [-10; -10], [1; 10]);
  ok = exist('kelpie.mex', 'file') == 3 && flag == 0 && abs(x(1) - 1) < 1e-15 && abs(x(2) - 5/3) < 1e-14;
  printf('%d passed, %d failed\n', ok, ~ok);
  exit(~ok);
"
