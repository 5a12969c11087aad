function octave_bench(sizes, repeats)
%OCTAVE_BENCH  Time kelpie against Octave's qp (and quadprog when the optim
%   package provides it) on the benchmark families, in one session.
%   OCTAVE_BENCH(SIZES, REPEATS) runs n in SIZES (default [10 50 200 500]),
%   REPEATS times each for kelpie (qp: fewer at large n), and prints medians,
%   ratios and whether the objectives agree (1e-8 relative, convex only).
%   Then it prints the per-call overhead of kelpie for tiny problems.
  if nargin < 1, sizes = [10 50 200 500]; end
  if nargin < 2, repeats = 5; end
  have_quadprog = exist('quadprog') == 2;
  families = {'cond1e2', 'cond1e6', 'nnls', 'mixed', 'nonconvex'};
  options = optimset('MaxIter', 10000);
  fprintf('%-10s %6s %12s %12s %10s %12s %s\n', 'family', 'n', 'kelpie [s]', 'qp [s]', 'qp/kelpie', ...
          'rel. diff', 'flags');
  for fam = 1:numel(families)
    for n = sizes
      [H, f, l, u] = make_problem(families{fam}, n);
      t = zeros(repeats, 1);
      for r = 1:repeats
        tic; [x, flag] = kelpie(H, f, l, u); t(r) = toc;
      end
      qp_repeats = max(1, min(repeats, floor(2 / max(median(t) * 50, 1e-3))));
      if n >= 500, qp_repeats = 1; end
      tq = zeros(qp_repeats, 1);
      for r = 1:qp_repeats
        tic; [xq, ~, info] = qp(zeros(n, 1), H, f, [], [], l, u, options); tq(r) = toc;
      end
      obj = 0.5 * x' * H * x + f' * x;
      objq = 0.5 * xq' * H * xq + f' * xq;
      rel = (obj - objq) / max(1, abs(objq));
      convex = ~strcmp(families{fam}, 'nonconvex');
      verdict = '';
      if convex && info.info ~= 0
        verdict = ' (qp stopped before converging: not compared)';
      elseif convex && abs(rel) > 1e-8
        verdict = ' OBJECTIVES DISAGREE';
      end
      fprintf('%-10s %6d %12.6f %12.4f %10.0f %12.2e kelpie %d, qp %d%s\n', families{fam}, n, median(t), ...
              median(tq), median(tq) / median(t), rel, flag, info.info, verdict);
      if have_quadprog && convex && n <= 500
        tic; xp = quadprog(H, f, [], [], [], [], l, u); tp = toc;
        fprintf('%-10s %6d quadprog %.4f s, ratio %.0f, rel. diff %.2e\n', '', n, tp, tp / median(t), ...
                (obj - (0.5 * xp' * H * xp + f' * xp)) / max(1, abs(objq)));
      end
    end
  end
  call_overhead();
end

function call_overhead()
% Time per call for tiny problems, over many calls, against the time of a
% call whose solve does nothing (H = I, f = 0, start at the minimiser): the
% latter is the gateway's own cost plus Octave's cost of calling any MEX file.
  calls = 20000;
  fprintf('\nper-call time over %d calls (median of 5 runs)\n', calls);
  for n = [5 10 20]
    [H, f, l, u] = make_problem('cond1e2', n);
    fprintf('  n = %2d: realistic problem %6.2f us', n, 1e6 * per_call(@() kelpie(H, f, l, u), calls));
    I = eye(n); z = zeros(n, 1); lo = -ones(n, 1); hi = ones(n, 1);
    fprintf(', trivial solve %6.2f us', 1e6 * per_call(@() kelpie(I, z, lo, hi), calls));
    fprintf(', Octave calling zeros(n,1) %6.2f us\n', 1e6 * per_call(@() zeros(n, 1), calls));
  end
end

function t = per_call(fn, calls)
  runs = zeros(5, 1);
  for r = 1:5
    tic;
    for k = 1:calls
      fn();
    end
    runs(r) = toc / calls;
  end
  t = median(runs);
end

function [H, f, l, u] = make_problem(family, n)
  randn('seed', n); rand('seed', n);
  l = -ones(n, 1); u = ones(n, 1);
  switch family
    case {'cond1e2', 'cond1e6', 'mixed'}
      c = 1e2; if strcmp(family, 'cond1e6'), c = 1e6; end
      [Q, ~] = qr(randn(n));
      H = Q * diag(logspace(0, log10(c), n)) * Q'; H = (H + H') / 2;
      spread = 1.6; if strcmp(family, 'mixed'), spread = 3; end
      f = -H * (spread * (2 * rand(n, 1) - 1));
      if strcmp(family, 'mixed')
        kind = rand(n, 1);
        u(kind < 1/3) = Inf; l(kind >= 1/3 & kind < 2/3) = -Inf;
        l(kind >= 2/3 & kind < 5/6) = -Inf; u(kind >= 2/3 & kind < 5/6) = Inf;
      end
    case 'nnls'
      A = randn(max(1, floor(n / 2)), n); b = randn(size(A, 1), 1);
      H = A' * A; f = -A' * b; l = zeros(n, 1); u = Inf(n, 1);
    case 'nonconvex'
      H = randn(n) / sqrt(n); H = (H + H') / 2; f = randn(n, 1); l = zeros(n, 1);
  end
end
