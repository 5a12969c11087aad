function varargout = kelpie(varargin)
%KELPIE  Solve a dense quadratic programme with simple bounds.
%   X = KELPIE(H, F, L, U) minimises 1/2*X'*H*X + F'*X subject to L <= X <= U.
%   H is a dense symmetric n-by-n matrix (positive definite, semidefinite or
%   indefinite), F, L and U are dense columns of n values. Use -Inf and Inf
%   for variables without a lower or upper bound, or an empty array for L or
%   U ([], or any array with no values, such as zeros(n, 0)) to leave that
%   side unbounded for every variable.
%
%   X = KELPIE(H, F, L, U, DISPLAY, X0) starts from X0 (its first n values),
%   moved onto the box first. DISPLAY is accepted and has no effect.
%
%   [X, EXITFLAG] = KELPIE(...) also returns how the solver stopped:
%      0   X is a solution: each entry of the projected gradient of
%          H*X + F is at most 1e-9 times abs(F) + abs(H)*abs(X) in its row,
%          the size of the terms it is made of (the same test for H and F
%          scaled by any positive number). The projected gradient is
%          g = H*X + F where L < X < U, min(g, 0) where X = L, max(g, 0)
%          where X = U, and 0 where L = U.
%     99   X is not known to be a solution: the method ran out of steps or
%          stopped making progress; X is the last iterate
%     -3   the objective is unbounded below on the box; X is the last
%          iterate, inside the box, and the multipliers are zero
%
%   [X, EXITFLAG, LAMBDA, INFO] = KELPIE(H, F, L, U, DISPLAY, X0, OPTIONS)
%   takes options and reports what the solve did. OPTIONS is [] (the
%   defaults) or a struct with any of the fields
%      Method          'described' (default): each Newton step stops at the
%                      first bound it meets; 'accelerated': once Newton steps
%                      keep stopping at bounds, each follows the projected
%                      path clip(X + t*D), fixing many bounds at once (fewer
%                      passes on least squares with more unknowns than
%                      equations, low-rank and SVM problems, ...), and on
%                      singular problems first tries exchanging whole sets
%                      of bounds, and its proximal steps (below) may start
%                      from a larger weight that falls step by step; it
%                      ends with the same test for EXITFLAG 0.
%      MaxNewtonSteps  a limit on the Newton steps of the whole solve (a
%                      positive whole number; by default 2n per run of the
%                      main loop). EXITFLAG is 99 where it stops short.
%   With OPTIONS given, X0 may be [] (start at zero). An unknown field or
%   value is refused with a message, like any bad input. INFO is a struct
%   with the fields passes, newtonSteps, firstOrderOptimality (the value of
%   the test behind EXITFLAG 0), objective and message. Calls with six or
%   fewer inputs and three or fewer outputs are unchanged by all this.
%      opts = struct('Method', 'accelerated');
%      [x, exitflag, lambda, info] = kelpie(H, f, l, u, [], [], opts);
%
%   [X, EXITFLAG, LAMBDA] = KELPIE(...) also returns the multipliers of the
%   bounds in the fields LAMBDA.lowerbound and LAMBDA.upperbound (n-by-1 each).
%   A variable held at a bound carries the size of its gradient entry
%   g = H*X + F on one side: lowerbound when g > 0, upperbound when g < 0.
%   Free variables have zero multipliers. At a solution,
%   H*X + F - LAMBDA.lowerbound + LAMBDA.upperbound is zero.
%
%   Bad inputs print one message, "ERROR: ...", and return empty outputs
%   ([] for X, EXITFLAG and LAMBDA); KELPIE never raises an error. An empty H
%   returns empty outputs without a message. Refused, each with its message:
%     - fewer than four inputs;
%     - a sparse H, F, L, U or X0 (use full), a non-square H, an F, L or U
%       with other than n rows (only rows are compared: an n-by-k L uses its
%       first column), an F with no values (such as zeros(n, 0));
%     - inputs other than real double arrays (single, integer, logical, char,
%       cell, struct, complex) for H, F, L, U and X0;
%     - an X0 with fewer than n values;
%     - NaN or Inf in H, F or X0, NaN in L or U, L = +Inf or U = -Inf, and
%       L > U in any entry.
%   A problem too large for the memory available is reported by a message.
%
%   An H that is not exactly symmetric is solved as (H + H')/2, which defines
%   the same objective; H itself is not modified. Only the outputs asked for
%   are created.
%
%   The method alternates projected coordinate sweeps with Newton steps on
%   the free variables, using an LDL' factor of the free block of H that
%   follows the free set by rank-one updates. Where the free block is
%   singular or nearly so (a semidefinite H, such as A'*A with more columns
%   than rows, or a linear-kernel SVM dual), or where the method stops short
%   of the test above, it goes on with proximal point steps: each solves the
%   problem with H + rho*I and F - rho*Xk from the last point Xk, lowering
%   the objective at every step, so semidefinite problems end at a solution.
%
%   Example: non-negative least squares, min ||A*x - b|| subject to x >= 0
%      A = [1 2 0; 0 1 1; 1 0 1; 2 1 1];  b = [4; -1; 1; 3];
%      [x, exitflag, lambda] = kelpie(A'*A, -A'*b, zeros(3, 1), []);
%
%   Batches: KELPIE keeps no state between calls, so independent problems
%   can be solved in several processes at once, and in MATLAB's parfor. In
%   Octave, with the parallel package (Debian: octave-parallel):
%      pkg load parallel
%      [X, FLAGS, TEXTS] = parcellfun(nproc(), @solve_one, Hs, fs, ls, us, ...
%                                      'UniformOutput', false);
%   with Hs, fs, ls, us cell arrays of the problems' data and solve_one a
%   function of yours that keeps each call's message:
%      function [x, flag, text] = solve_one(H, f, l, u)
%        text = evalc('[x, flag] = kelpie(H, f, l, u);');
%      end
%   A refused problem gives [] in X and FLAGS and its message in TEXTS; the
%   others are solved as usual.
%
%   Build the MEX file with KELPIE_BUILD (or install the Octave package:
%   pkg install kelpie-VERSION.tar.gz, then pkg load kelpie); see KELPIE_DEMO
%   for a comparison with Octave's QP.
%
%   See also KELPIE_BUILD, KELPIE_DEMO, QP, QUADPROG.

% This file holds the help text; the solver is the MEX file kelpie.mex*
% beside it, which takes precedence once it is built.
error('kelpie:notBuilt', 'kelpie: the MEX file is not built; run kelpie_build first.');
end

%!test
%! % Worked cases: interior, an active upper bound, its multiplier.
%! [x, flag, lambda] = kelpie(2, -2, -10, 10);
%! assert (x, 1);
%! assert (flag, 0);
%! [x, flag, lambda] = kelpie(2, -2, -10, 0.5);
%! assert ([x, flag, lambda.lowerbound, lambda.upperbound], [0.5, 0, 0, 1]);

%!test
%! % Non-negative least squares agrees with lsqnonneg, and the multipliers
%! % carry the gradient of the variables at their bounds.
%! A = [1 2 0; 0 1 1; 1 0 1; 2 1 1];  b = [4; -1; 1; 3];
%! [x, flag, lambda] = kelpie(A' * A, -A' * b, zeros(3, 1), []);
%! assert (flag, 0);
%! assert (x, lsqnonneg(A, b), 1e-12);
%! g = A' * (A * x - b);
%! assert (g - lambda.lowerbound + lambda.upperbound, zeros(3, 1), 1e-12);

%!test
%! % A semidefinite H: exit flag 0 at a solution.
%! [x, flag] = kelpie([1 1; 1 1], [-1; -1], [0; 0], []);
%! assert (flag, 0);
%! assert (sum(x), 1, 1e-12);
%! assert (all(x >= 0));

%!test
%! % Agreement with qp on a positive definite problem with mixed bounds.
%! H = [4 1 0; 1 3 1; 0 1 2];  f = [-8; 3; -1];  l = [-1; -1; -0.25];  u = [1; 0.5; Inf];
%! x = kelpie(H, f, l, u);
%! xq = qp(zeros(3, 1), H, f, [], [], l, u);
%! assert (x, xq, 1e-8);

%!test
%! % An empty bound (any array with no values) leaves that side free.
%! H = [4 2; 2 3];  f = [-8; -7];
%! assert (kelpie(H, f, zeros(2, 0), []), kelpie(H, f, -Inf(2, 1), Inf(2, 1)));

%!test
%! % Refused inputs: one message and empty outputs, never an error.
%! text = evalc ('[x, flag, lambda] = kelpie(eye(2), [1; 1; 1], [], []);');
%! assert (text, sprintf ('\nERROR: The f column vector must have 2 entries.\n\n'));
%! assert (isempty (x) && isempty (flag) && isempty (lambda));
%! text = evalc ('x = kelpie(eye(2), [1; 1], [0; 2], [1; 1]);');
%! assert (text, sprintf ('\nERROR: The l vector must not exceed u (entry 2).\n\n'));
%! assert (isempty (x));
%! text = evalc ('x = kelpie(eye(2), [1; 1], []);');
%! assert (text, sprintf ('\nERROR: There must be at least four inputs.\n\n'));

%!demo
%! % Non-negative least squares: min ||A*x - b|| subject to x >= 0.
%! A = [1 2 0; 0 1 1; 1 0 1; 2 1 1];  b = [4; -1; 1; 3];
%! [x, exitflag, lambda] = kelpie(A' * A, -A' * b, zeros(3, 1), [])
%! residual_norm = norm(A * x - b)

%!demo
%! % A control-limited MPC step and bounded least squares, against qp.
%! kelpie_demo
