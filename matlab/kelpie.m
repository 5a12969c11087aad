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
%   Build the MEX file with KELPIE_BUILD; see KELPIE_DEMO for a comparison
%   with Octave's QP.
%
%   See also KELPIE_BUILD, KELPIE_DEMO, QP, QUADPROG.

% This file holds the help text; the solver is the MEX file kelpie.mex*
% beside it, which takes precedence once it is built.
error('kelpie:notBuilt', 'kelpie: the MEX file is not built; run kelpie_build first.');
end
