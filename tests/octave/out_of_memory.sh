#!/usr/bin/env bash
# kelpie in an Octave whose address space is capped just above what it holds
# once H exists: the solver's workspace (8 n^2 bytes more) cannot be had, and
# kelpie must print its message and return empty outputs, for a symmetric H
# (the solver's allocation fails) and a non-symmetric one (the gateway's copy
# of (H + H')/2 fails); afterwards the session goes on normally.
set -euo pipefail
matlab_dir=$1
n=3000
octave=(octave-cli --no-gui --norc --no-history)
vm_size='[~, t] = system(sprintf("grep VmSize /proc/%d/status", getpid())); disp(t);'
probe=$("${octave[@]}" --eval "H = full(eye($n)); H(1, 2) = 0.5; $vm_size" | awk '/VmSize/ {print $2}')
limit=$((probe + 40 * 1024))  # kB: 40 MB of room, the workspace needs 72 MB
ulimit -v "$limit"
"${octave[@]}" --eval "
  addpath('$matlab_dir');
  n = $n; H = full(eye(n)); H(1, 2) = 0.5; H(2, 1) = 0.5; f = ones(n, 1); l = -ones(n, 1); u = ones(n, 1);
  expected = sprintf('\nERROR: There is not enough memory to solve this problem.\n\n');
  bad = 0;
  text = evalc('[x, flag, lambda] = kelpie(H, f, l, u);');
  bad = bad + ~(strcmp(text, expected) && isempty(x) && isempty(flag) && isempty(lambda));
  H(1, 2) = 0.25;  % not symmetric: the gateway's own copy fails first
  text = evalc('[x, flag, lambda] = kelpie(H, f, l, u);');
  bad = bad + ~(strcmp(text, expected) && isempty(x) && isempty(flag) && isempty(lambda));
  clear H;
  [x, flag] = kelpie(2, -2, -10, 10);
  bad = bad + ~(x == 1 && flag == 0);
  printf('%d passed, %d failed\n', 3 - bad, bad);
  exit(bad);
"
