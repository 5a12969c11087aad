#!/usr/bin/env bash
# The Octave package: made from the sources, installed with pkg into a
# temporary prefix (no network), loaded, its tests and demos run, a batch
# spread over processes with parcellfun, then uninstalled.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tarball=$(bash "$source_dir/scripts/octave-package.sh" "$work")
cd "$work"
octave-cli --no-gui --norc --no-history --eval "
  pkg('prefix', '$work/packages', '$work/packages');
  pkg('local_list', '$work/octave_packages');
  pkg('install', '-local', '$tarball');
  pkg('load', 'kelpie');
  checks = 0; failed = 0;
  located = which('kelpie');
  checks++; if isempty(strfind(located, '$work/packages')) || isempty(regexp(located, '\.mex$')), failed++; printf('FAIL kelpie is %s\n', located); end
  text = evalc('help kelpie');
  checks++; if isempty(strfind(text, 'Solve a dense quadratic programme with simple bounds')), failed++; printf('FAIL help kelpie: %s\n', text); end
  [passed, total] = test('kelpie', 'quiet');
  checks++; if total < 1 || passed ~= total, failed++; printf('FAIL test kelpie: %d of %d\n', passed, total); end
  text = evalc('demo(''kelpie'', 1)');
  checks++; if isempty(strfind(text, 'exitflag = 0')), failed++; printf('FAIL demo kelpie 1: %s\n', text); end
  text = evalc('demo(''kelpie'', 2)');
  checks++; if numel(strfind(text, 'exitflag 0')) ~= 2, failed++; printf('FAIL demo kelpie 2: %s\n', text); end
  addpath('$source_dir/tests/octave');
  checks++; if kelpie_batch_test() ~= 0, failed++; end
  pkg('unload', 'kelpie');
  pkg('uninstall', '-local', 'kelpie');
  names = cellfun(@(d) d.name, pkg('list'), 'UniformOutput', false);
  checks++; if any(strcmp(names, 'kelpie')), failed++; printf('FAIL still installed\n'); end
  printf('%d passed, %d failed\n', checks - failed, failed);
  exit(failed > 0);
"
