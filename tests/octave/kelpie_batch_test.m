function failures = kelpie_batch_test()
% Many problems spread over processes with parcellfun (Octave's parallel
% package), as help kelpie shows: results in input order, the same bits as
% solving them one by one, and a refused problem in the batch giving its own
% empty result and message without failing the batch. Returns the number of
% failed checks.
  pkg load parallel
  randn('seed', 3);
  count = 24;
  Hs = cell(1, count); fs = Hs; ls = Hs; us = Hs;
  for k = 1:count
    n = 3 + mod(k, 9);
    A = randn(n + 2, n);
    Hs{k} = A' * A; fs{k} = randn(n, 1); ls{k} = -ones(n, 1); us{k} = ones(n, 1);
  end
  bad = 7;
  fs{bad} = [1; 2];  % the wrong number of rows
  [X, flags, texts] = parcellfun(2, @solve_one, Hs, fs, ls, us, 'UniformOutput', false, 'VerboseLevel', 0);
  failures = 0;
  for k = 1:count
    if k == bad
      ok = isempty(X{k}) && isempty(flags{k}) && ...
           strcmp(texts{k}, sprintf('\nERROR: The f column vector must have %d entries.\n\n', rows(Hs{k})));
    else
      [x, flag] = kelpie(Hs{k}, fs{k}, ls{k}, us{k});
      ok = isequal(X{k}, x) && isequal(flags{k}, flag) && flag == 0 && isempty(texts{k});
    end
    if ~ok
      fprintf('FAIL batch problem %d\n', k);
      failures = failures + 1;
    end
  end
  fprintf('batch of %d over 2 processes: %d bad\n', count, failures);
end

function [x, flag, text] = solve_one(H, f, l, u)
  text = evalc('[x, flag] = kelpie(H, f, l, u);');
end
