function failures = kelpie_test_all()
% End-to-end tests of kelpie.mex in Octave. Returns the number of failed checks.
  failures = 0;
  failed_tests = 0;
  tests = {@test_messages_in_order, @test_refused_classes, @test_refused_values, ...
           @test_outputs_and_nargout, @test_display_and_start, @test_worked_cases, ...
           @test_empty_bounds_and_asymmetric_h, @test_inputs_without_values, @test_exit_flags, ...
           @test_agrees_with_qp, @test_options_and_info, ...
           @test_random_mixed_calls};
  for k = 1:numel(tests)
    name = func2str(tests{k});
    try
      problems = tests{k}();
    catch err
      problems = {sprintf('raised: %s', err.message)};
    end
    for p = 1:numel(problems)
      fprintf('FAIL %s: %s\n', name, problems{p});
    end
    if isempty(problems)
      fprintf('ok   %s\n', name);
    end
    failures = failures + numel(problems);
    failed_tests = failed_tests + ~isempty(problems);
  end
  fprintf('%d passed, %d failed\n', numel(tests) - failed_tests, failed_tests);
end

% ---------------------------------------------------------------- helpers
function problems = expect(problems, condition, varargin)
  if ~condition
    problems{end + 1} = sprintf(varargin{:});
  end
end

% Runs kelpie with all three outputs, capturing what it prints.
function [text, x, flag, lambda] = run3(varargin)
  x = 'unset'; flag = 'unset'; lambda = 'unset';
  text = evalc('[x, flag, lambda] = kelpie(varargin{:});');
end

function problems = expect_refused(problems, message, varargin)
  [text, x, flag, lambda] = run3(varargin{:});
  expected = sprintf('\nERROR: %s\n\n', message);
  problems = expect(problems, strcmp(text, expected), 'expected "%s", printed "%s"', message, text);
  problems = expect(problems, isequal(size(x), [0 0]) && isa(x, 'double') && ...
                    isequal(size(flag), [0 0]) && isequal(size(lambda), [0 0]) && isa(lambda, 'double'), ...
                    'outputs not empty after "%s"', message);
end

function r = kkt_residual(H, f, l, u, x)
  g = H * x + f;
  r = max(abs(x - min(max(x - g, l), u))) / max(1, max(abs(g)));
end

% ---------------------------------------------------------------- tests
function problems = test_messages_in_order()
  problems = {};
  H = eye(3); f = ones(3, 1); l = -ones(3, 1); u = ones(3, 1);
  problems = expect_refused(problems, 'There must be at least four inputs.', H, f, l);
  problems = expect_refused(problems, 'There must be at least four inputs.');
  [text, x, flag, lambda] = run3(zeros(0, 0), f, l, u);
  problems = expect(problems, isempty(text) && isequal(size(x), [0 0]) && isequal(size(lambda), [0 0]), ...
                    'empty H must give empty outputs silently');
  [text, x] = run3(zeros(3, 0), f, l, u);
  problems = expect(problems, isempty(text) && isempty(x), '3-by-0 H must give empty outputs silently');
  problems = expect_refused(problems, 'The H matrix must be dense (use full(H)).', sparse(ones(3, 2)), f, l, u);
  problems = expect_refused(problems, 'The H matrix must be square.', ones(3, 2), f, l, u);
  problems = expect_refused(problems, 'The f vector must be dense (use full(f)).', H, sparse(f), l, u);
  problems = expect_refused(problems, 'The f vector must be dense (use full(f)).', H, sparse([1; 2]), l, u);
  problems = expect_refused(problems, 'The f column vector must have 3 entries.', H, [1; 2], l, u);
  problems = expect_refused(problems, 'The f column vector must have 3 entries.', H, f', l, u);
  problems = expect_refused(problems, 'The l column vector must have 3 entries.', H, f, sparse([1; 2]), u);
  problems = expect_refused(problems, 'The l vector must be dense (use full(l)).', H, f, sparse(l), u);
  problems = expect_refused(problems, 'The u column vector must have 3 entries.', H, f, l, [1; 2]);
  problems = expect_refused(problems, 'The u vector must be dense (use full(u)).', H, f, l, sparse(u));
  % The first failed check is the one reported.
  problems = expect_refused(problems, 'The H matrix must be square.', ones(3, 2), sparse(f), l, u);
  problems = expect_refused(problems, 'The f column vector must have 3 entries.', H, [1; 2], [1; 2], u);
  % A matrix with n rows passes: its first column is used.
  [text, x] = run3(H, f, [l, l + 5], [u, u - 5]);
  problems = expect(problems, isempty(text) && isequal(x, -ones(3, 1)), 'an n-by-2 l must use its first column');
end

function problems = test_refused_classes()
  problems = {};
  H = eye(2); f = [1; 1]; l = [-1; -1]; u = [1; 1]; x0 = [0; 0];
  bad = {single(H), int32(H), true(2), 'ab', {1, 2}, struct('a', 1), complex(H, 1)};
  for k = 1:numel(bad)
    problems = expect_refused(problems, 'The H matrix must be a real double matrix.', bad{k}, f, l, u);
  end
  badv = {single(f), int8(f), true(2, 1), ['a'; 'b'], {1; 2}, complex(f, 1)};
  for k = 1:numel(badv)
    problems = expect_refused(problems, 'The f vector must be a real double vector.', H, badv{k}, l, u);
    problems = expect_refused(problems, 'The l vector must be a real double vector.', H, f, badv{k}, u);
    problems = expect_refused(problems, 'The u vector must be a real double vector.', H, f, l, badv{k});
    problems = expect_refused(problems, 'The x0 vector must be a dense real double vector.', H, f, l, u, [], badv{k});
  end
  problems = expect_refused(problems, 'The x0 vector must be a dense real double vector.', H, f, l, u, [], sparse(x0));
  problems = expect_refused(problems, 'The x0 vector must have at least 2 entries.', H, f, l, u, [], 1);
  problems = expect_refused(problems, 'The x0 vector must have at least 2 entries.', H, f, l, u, [], []);
end

function problems = test_refused_values()
  problems = {};
  H = [2 1; 1 2]; f = [1; 1]; l = [-1; -1]; u = [1; 1];
  problems = expect_refused(problems, 'The H matrix must not contain NaN or Inf.', [2 NaN; 1 2], f, l, u);
  problems = expect_refused(problems, 'The H matrix must not contain NaN or Inf.', [2 1; Inf 2], f, l, u);
  problems = expect_refused(problems, 'The f vector must not contain NaN or Inf.', H, [1; -Inf], l, u);
  problems = expect_refused(problems, 'The l vector must not contain NaN or +Inf.', H, f, [NaN; -1], u);
  problems = expect_refused(problems, 'The l vector must not contain NaN or +Inf.', H, f, [Inf; -1], [Inf; 1]);
  problems = expect_refused(problems, 'The u vector must not contain NaN or -Inf.', H, f, l, [1; NaN]);
  problems = expect_refused(problems, 'The u vector must not contain NaN or -Inf.', H, f, -Inf(2, 1), [-Inf; 1]);
  problems = expect_refused(problems, 'The l vector must not exceed u (entry 2).', H, f, [0; 2], [1; 1]);
  problems = expect_refused(problems, 'The x0 vector must not contain NaN or Inf.', H, f, l, u, [], [0; Inf]);
  problems = expect_refused(problems, 'The x0 vector must not contain NaN or Inf.', H, f, l, u, [], [NaN; 0]);
  % Infinite bounds on the right sides are fine.
  [text, x, flag] = run3(H, f, [-Inf; -1], [Inf; 1]);
  problems = expect(problems, isempty(text) && flag == 0, 'infinite bounds must be accepted');
end

function problems = test_outputs_and_nargout()
  problems = {};
  H = [4 2; 2 3]; f = [-8; -7]; l = [-10; -10]; u = [1; 10];
  [text, x, flag, lambda] = run3(H, f, l, u);
  problems = expect(problems, isempty(text), 'a good call must print nothing');
  problems = expect(problems, isequal(size(x), [2 1]) && isequal(size(flag), [1 1]) && isstruct(lambda) && ...
                    isequal(size(lambda), [1 1]), 'output shapes');
  problems = expect(problems, isequal(fieldnames(lambda), {'lowerbound'; 'upperbound'}), 'field order');
  problems = expect(problems, isequal(size(lambda.lowerbound), [2 1]) && isequal(size(lambda.upperbound), [2 1]), ...
                    'multiplier shapes');
  % Every nargout, good and bad inputs alike.
  kelpie(H, f, l, u);
  y1 = kelpie(H, f, l, u);
  [y2, flag2] = kelpie(H, f, l, u);
  problems = expect(problems, isequal(y1, x) && isequal(y2, x) && flag2 == flag, 'nargout 1 and 2 must agree with 3');
  evalc('kelpie(H, f, l);');
  z1 = []; evalc('z1 = kelpie(H, f, l);');
  z2 = 1; z3 = 1; evalc('[z2, z3] = kelpie(single(H), f, l, u);');
  problems = expect(problems, isempty(z1) && isempty(z2) && isempty(z3), 'refused calls with nargout < 3');
  ans_value = evalc('kelpie(H, f, l, u)');
  problems = expect(problems, ~isempty(strfind(ans_value, 'ans')), 'nargout 0 must set ans');
end

function problems = test_display_and_start()
  problems = {};
  H = [4 2; 2 3]; f = [-8; -7]; l = [-10; -10]; u = [1; 10];
  [x1, f1, m1] = kelpie(H, f, l, u);
  [x2, f2, m2] = kelpie(H, f, l, u, 'iter');
  [x3, f3, m3] = kelpie(H, f, l, u, {1, 2});
  problems = expect(problems, isequal(x1, x2, x3) && isequal(f1, f2, f3) && isequal(m1, m2, m3), ...
                    'the fifth input must have no effect');
  % A flat problem keeps its start: x0 is used, and projected onto the box.
  x = kelpie(zeros(3), zeros(3, 1), [-1; -1; -1], [1; 1; 1], [], [0.25; -7; 3]);
  problems = expect(problems, isequal(x, [0.25; -1; 1]), 'x0 must be used and projected');
  x = kelpie(zeros(2), zeros(2, 1), [-1; -1], [1; 1], [], [0.5; 0.5; 99]);
  problems = expect(problems, isequal(x, [0.5; 0.5]), 'a longer x0 gives its first n values');
  x = kelpie(zeros(2), zeros(2, 1), [-1; -1], [1; 1], [], [0.5 0.25]);
  problems = expect(problems, isequal(x, [0.5; 0.25]), 'a row x0 is accepted');
end

function problems = test_worked_cases()
  problems = {};
  [x, flag, lambda] = kelpie(2, -2, -10, 10);
  problems = expect(problems, x == 1 && flag == 0 && lambda.lowerbound == 0 && lambda.upperbound == 0, 'interior');
  [x, flag, lambda] = kelpie(2, -2, -10, 0.5);
  problems = expect(problems, x == 0.5 && flag == 0 && lambda.lowerbound == 0 && lambda.upperbound == 1, ...
                    'upper bound active');
  [x, flag] = kelpie([4 2; 2 3], [-8; -7], [-10; -10], [0.625; 0.75]);
  problems = expect(problems, isequal(x, [0.625; 0.75]) && flag == 0, 'both upper bounds');
  [x, flag, lambda] = kelpie([1 0; 0 1], [3; -5], [0; 0], [1; 1], [], [0; 1]);
  problems = expect(problems, isequal(lambda.lowerbound, [3; 0]) && isequal(lambda.upperbound, [0; 4]), ...
                    'multipliers on the gradient''s side');
end

function problems = test_empty_bounds_and_asymmetric_h()
  problems = {};
  H = [4 2; 2 3]; f = [-8; -7];
  x = kelpie(H, f, [], []);
  problems = expect(problems, norm(x - [1.25; 1.5]) < 1e-14, 'no bounds at all');
  x = kelpie(H, f, [], [1; 10]);
  problems = expect(problems, abs(x(1) - 1) < 1e-15 && abs(x(2) - 5/3) < 1e-14, 'only upper bounds');
  x = kelpie(H, f, [2; -Inf], zeros(0, 1));
  problems = expect(problems, x(1) == 2 && abs(x(2) - 1) < 1e-14, 'only lower bounds');
  % H that is not symmetric is solved as (H + H')/2 and is left as it was.
  Ha = [4 3; 1 3]; Hcopy = Ha;
  [xa, fa, la] = kelpie(Ha, f, [-10; -10], [1; 10]);
  [xs, fs, ls] = kelpie((Ha + Ha') / 2, f, [-10; -10], [1; 10]);
  problems = expect(problems, isequal(xa, xs) && isequal(la, ls) && isequal(Ha, Hcopy), 'asymmetric H');
end

% Arrays that hold no values, whatever their row count: a bound means no bound
% on that side, an f is refused. Nothing may be read through their data.
function problems = test_inputs_without_values()
  problems = {};
  H = [4 1 0; 1 3 1; 0 1 2]; f = [-8; 3; -1]; l = [-1; -1; -0.25]; u = [1; 0.5; 1];
  for shape = {zeros(3, 0), zeros(0, 3), zeros(3, 0, 2), zeros(0, 0), single(zeros(3, 0))}
    empty = shape{1};
    if isa(empty, 'double')  % a single f is refused for its class first
      problems = expect_refused(problems, 'The f column vector must have 3 entries.', H, empty, l, u);
    end
    [text, x, flag, lambda] = run3(H, f, empty, u);
    [~, x_ref, flag_ref, lambda_ref] = run3(H, f, -Inf(3, 1), u);
    problems = expect(problems, isempty(text) && isequal(x, x_ref) && flag == flag_ref && ...
                      isequal(lambda, lambda_ref), 'a %s l must mean no lower bound', mat2str(size(empty)));
    [text, x, flag, lambda] = run3(H, f, l, empty);
    [~, x_ref, flag_ref, lambda_ref] = run3(H, f, l, Inf(3, 1));
    problems = expect(problems, isempty(text) && isequal(x, x_ref) && flag == flag_ref && ...
                      isequal(lambda, lambda_ref), 'a %s u must mean no upper bound', mat2str(size(empty)));
  end
  % Degenerate shapes that do hold values: scalars for n = 1, a 3-D f whose
  % first column is used, ranges and diagonal matrices.
  [text, x] = run3(2, -2, zeros(1, 0), 0.5);
  problems = expect(problems, isempty(text) && x == 0.5, 'scalar problem with an empty lower bound');
  [text, x] = run3(H, cat(3, f, f + 100), l, u);
  problems = expect(problems, isempty(text) && isequal(x, kelpie(H, f, l, u)), 'a 3-D f uses its first column');
  [text, x] = run3(eye(3) * 2, (1:3)', [], []);
  problems = expect(problems, isempty(text) && isequal(x, -[1; 2; 3] / 2), 'diagonal H and a range f');
  problems = expect_refused(problems, 'The x0 vector must have at least 3 entries.', H, f, l, u, [], zeros(3, 0));
end

function problems = test_exit_flags()
  problems = {};
  [x, flag, lambda] = kelpie(0, 1, -Inf, Inf);
  problems = expect(problems, flag == -3 && isfinite(x) && lambda.lowerbound == 0, 'linear objective, no bounds');
  [x, flag] = kelpie([1 2; 2 1], [0; 0], [], [], [], [0.5; 0.25]);
  problems = expect(problems, flag == -3 && all(isfinite(x)), 'indefinite, no bounds');
  [x, flag] = kelpie([1 1; 1 1], [-1; -1], [0; 0], []);
  problems = expect(problems, flag == 0 && abs(sum(x) - 1) < 1e-12 && all(x >= 0), 'semidefinite');
  [x, flag] = kelpie([1 2; 2 1], [0.1; 0.2], [-1; -1], [1; 1]);
  problems = expect(problems, flag == 0 && kkt_residual([1 2; 2 1], [0.1; 0.2], [-1; -1], [1; 1], x) < 1e-12, ...
                    'indefinite on a box');
end

function problems = test_agrees_with_qp()
  problems = {};
  rand('seed', 11); randn('seed', 11);
  options = optimset('MaxIter', 5000);
  for trial = 1:40
    n = 1 + mod(trial * 7, 25);
    Q = orth(randn(n));
    H = Q * diag(logspace(0, 2, n)) * Q'; H = (H + H') / 2;
    f = -H * (3 * randn(n, 1));
    l = -ones(n, 1); u = ones(n, 1);
    l(rand(n, 1) < 0.15) = -Inf; u(rand(n, 1) < 0.15) = Inf;
    [x, flag, lambda] = kelpie(H, f, l, u);
    xq = qp(zeros(n, 1), H, f, [], [], l, u, options);
    obj = 0.5 * x' * H * x + f' * x; objq = 0.5 * xq' * H * xq + f' * xq;
    problems = expect(problems, flag == 0, 'trial %d: exitflag %d', trial, flag);
    problems = expect(problems, abs(obj - objq) <= 1e-8 * max(1, abs(objq)), ...
                      'trial %d: objective %.15g, qp %.15g', trial, obj, objq);
    problems = expect(problems, kkt_residual(H, f, l, u, x) < 1e-9, 'trial %d: KKT residual', trial);
    g = H * x + f;
    problems = expect(problems, norm(g - lambda.lowerbound + lambda.upperbound, Inf) < 1e-9 * max(1, norm(g, Inf)), ...
                      'trial %d: multipliers do not match the gradient', trial);
  end
end

% The seventh input (options) and the fourth output (info).
function problems = test_options_and_info()
  problems = {};
  randn('seed', 8);
  A = randn(20, 40); b = randn(20, 1);
  H = A' * A; f = -A' * b; l = zeros(40, 1); u = [];
  [x3, flag3, lambda3] = kelpie(H, f, l, u);
  [x4, flag4, lambda4, info] = kelpie(H, f, l, u);
  problems = expect(problems, isequal(x3, x4) && isequal(flag3, flag4) && isequal(lambda3, lambda4), ...
                    'asking for info must not change the answer');
  problems = expect(problems, isequal(fieldnames(info), {'passes'; 'newtonSteps'; 'firstOrderOptimality'; ...
                    'objective'; 'message'}), 'info fields');
  problems = expect(problems, info.passes >= 1 && info.firstOrderOptimality <= 1e-9 && ...
                    abs(info.objective - (0.5 * x4' * H * x4 + f' * x4)) <= 1e-12 * max(1, abs(info.objective)) && ...
                    strncmp(info.message, 'converged', 9), 'info values');
  [x5, flag5, lambda5, info5] = kelpie(H, f, l, u, [], [], struct('Method', 'accelerated'));
  problems = expect(problems, flag5 == 0 && info5.firstOrderOptimality <= 1e-9 && ...
                    abs(info5.objective - info.objective) <= 1e-9 * max(1, abs(info.objective)), ...
                    'accelerated: the same solution');
  [x6, flag6] = kelpie(H, f, l, u, [], [], struct('Method', 'Described', 'MaxNewtonSteps', 80));
  problems = expect(problems, isequal(x6, x3) && flag6 == flag3, 'explicit defaults give the same bits');
  [x7, flag7, ~, info7] = kelpie(H, f, l, u, [], zeros(40, 0), struct('MaxNewtonSteps', 1));
  problems = expect(problems, info7.newtonSteps <= 1 && (flag7 == 0) == (info7.firstOrderOptimality <= 1e-9), ...
                    'MaxNewtonSteps bounds the solve');
  [x8, flag8] = kelpie(H, f, l, u, [], [], []);
  problems = expect(problems, isequal(x8, x3) && flag8 == flag3, '[] options are the defaults');
  bad = {struct('Foo', 1), 'Unknown option ''Foo'' (the options are MaxNewtonSteps and Method).'; ...
         struct('Method', 'fast'), 'The Method option must be ''described'' or ''accelerated''.'; ...
         struct('Method', 3), 'The Method option must be ''described'' or ''accelerated''.'; ...
         struct('MaxNewtonSteps', 0), 'The MaxNewtonSteps option must be a positive whole number.'; ...
         struct('MaxNewtonSteps', 2.5), 'The MaxNewtonSteps option must be a positive whole number.'; ...
         struct('MaxNewtonSteps', [1 2]), 'The MaxNewtonSteps option must be a positive whole number.'; ...
         struct('MaxNewtonSteps', NaN), 'The MaxNewtonSteps option must be a positive whole number.'; ...
         3, 'The options must be a 1-by-1 struct (or []).'; ...
         struct('Method', {'described', 'accelerated'}), 'The options must be a 1-by-1 struct (or []).'};
  for k = 1:rows(bad)
    text = evalc('[y1, y2, y3, y4] = kelpie(H, f, l, u, [], [], bad{k, 1});');
    problems = expect(problems, strcmp(text, sprintf('\nERROR: %s\n\n', bad{k, 2})), ...
                      'options %d: printed "%s"', k, text);
    problems = expect(problems, isempty(y1) && isempty(y2) && isempty(y3) && isempty(y4), ...
                      'options %d: outputs not empty', k);
  end
end

% Hundreds of calls mixing good and bad inputs in one session: nothing may
% crash, every call either solves or prints one message with empty outputs.
function problems = test_random_mixed_calls()
  problems = {};
  rand('seed', 5); randn('seed', 5);
  kinds = {@(v) v, @(v) single(v), @(v) sparse(v), @(v) v', @(v) v(1:end-1, :), @(v) [], ...
           @(v) complex(v, 1), @(v) int16(v), @(v) {v}, @(v) NaN * v, @(v) Inf + v, @(v) v > 0};
  for call = 1:400
    n = 1 + floor(6 * rand());
    H = randn(n); H = H' * H + (rand() < 0.3) * randn(n);
    args = {H, randn(n, 1), -rand(n, 1), rand(n, 1), [], randn(n, 1)};
    for k = 1:6
      if rand() < 0.15
        args{k} = kinds{1 + floor(numel(kinds) * rand())}(args{k});
      end
    end
    nargs = 3 + floor(4 * rand());
    nout = floor(4 * rand());
    outs = cell(1, nout);
    text = evalc('[outs{:}] = kelpie(args{1:nargs});');
    if nout >= 1 && ~isempty(outs{1})
      problems = expect(problems, isempty(text) && isequal(size(outs{1}), [n 1]), 'call %d: solved but printed', call);
    elseif nout >= 1
      problems = expect(problems, ~isempty(strfind(text, 'ERROR: ')) || isempty(args{1}), ...
                        'call %d: empty outputs without a message', call);
    end
  end
end
