function kelpie_demo()
%KELPIE_DEMO  Solve a control-limited MPC step and a bounded least-squares
%   problem with KELPIE and with Octave's QP, and print both objectives and
%   both times.
%
%   See also KELPIE.

rand('seed', 1); randn('seed', 1);

% Control-limited MPC step: a double integrator over 60 steps, inputs in
% [-1, 1], tracking the origin from position 3. The inputs are the variables.
N = 60; dt = 0.1;
A = [1 dt; 0 1]; B = [dt^2/2; dt];
S = zeros(2*N, N); T = zeros(2*N, 2); Ak = eye(2);
for k = 1:N
  Ak = A * Ak;
  T(2*k-1:2*k, :) = Ak;
  for j = 1:k
    S(2*k-1:2*k, j) = A^(k-j) * B;
  end
end
x0 = [3; 0];
Q = kron(eye(N), diag([1, 0.1]));
H = S' * Q * S + 0.01 * eye(N);  H = (H + H') / 2;
f = S' * Q * T * x0;
run_case('MPC step, 60 inputs in [-1, 1]', H, f, -ones(N, 1), ones(N, 1));

% Bounded least squares: min ||C x - d|| with 0 <= x <= 1.
m = 300; n = 200;
C = randn(m, n); d = C * (2 * rand(n, 1) - 0.5) + 0.1 * randn(m, 1);
run_case('bounded least squares, 200 variables in [0, 1]', C' * C, -C' * d, zeros(n, 1), ones(n, 1));
end

function run_case(name, H, f, l, u)
n = numel(f);
kelpie(H, f, l, u);  % the first call also loads the MEX file: keep it out of the timing
tic; [x, flag] = kelpie(H, f, l, u); t_kelpie = toc;
options = optimset('MaxIter', 5000);
tic; [xq, objq, info] = qp(zeros(n, 1), H, f, [], [], l, u, options); t_qp = toc;
obj = 0.5 * x' * H * x + f' * x;
objq = 0.5 * xq' * H * xq + f' * xq;
fprintf('\n%s\n', name);
fprintf('  kelpie: objective %.10g  exitflag %d  time %.4f s  (%d of %d bounds active)\n', ...
        obj, flag, t_kelpie, sum(x == l | x == u), n);
fprintf('  qp:     objective %.10g  info %d      time %.4f s\n', objq, info.info, t_qp);
fprintf('  objectives differ by %.2g (relative), kelpie %.0fx faster\n', ...
        abs(obj - objq) / max(1, abs(objq)), t_qp / t_kelpie);
end
