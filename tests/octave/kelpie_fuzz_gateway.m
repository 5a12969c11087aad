function failures = kelpie_fuzz_gateway(calls, seed)
% Randomised calls of kelpie through the real host: inputs of every class,
% shape, sparsity and awkward value, any number of inputs and outputs. Every
% call must return normally with either a solution (nothing printed, outputs
% of the documented shapes, finite x inside the box) or exactly one
% "ERROR: ..." message and empty outputs. A solved call must also give
% exactly what the same problem gives in its plain form (H symmetrised, the
% first column of f and of each bound, a bound with no values as +-Inf, x0 as a
% column): an input read past its end shows up there. Returns the number of
% bad calls.
  if nargin < 2, seed = 1; end
  warning('off', 'all');  % mutations such as NaN into a char warn; the calls are what is tested
  rand('seed', seed); randn('seed', seed);
  failures = 0;
  solved = 0; refused = 0;
  for call = 1:calls
    n = randi(6);
    l = -rand(n, 1); l(rand(n, 1) < 0.2) = -Inf;
    u = rand(n, 1); u(rand(n, 1) < 0.2) = Inf;
    args = {good_matrix(n), randn(n, 1), l, u, 'iter', 3 * randn(n, 1), random_options()};
    for k = 1:7
      if rand() < 0.08
        args{k} = mutate(args{k});
      end
    end
    nargs = 4 + randi([0 3]);
    if rand() < 0.05, nargs = randi([0 8]); end
    nout = randi([0 4]);
    outs = cell(1, max(nout, 1));
    try
      if nout == 0
        text = evalc('kelpie(args{1:min(nargs, 7)});');
      else
        text = evalc('[outs{1:nout}] = kelpie(args{1:min(nargs, 7)});');
      end
    catch err
      failures = failures + report(call, ['raised: ' err.message]);
      continue
    end
    if nout == 0
      continue
    end
    x = outs{1};
    if isempty(x)
      ok = isempty(text) || (numel(strfind(text, 'ERROR: ')) == 1 && strncmp(text, sprintf('\nERROR: '), 8));
      for k = 2:nout
        ok = ok && isa(outs{k}, 'double') && isequal(size(outs{k}), [0 0]);
      end
      refused = refused + 1;
      if ~ok
        failures = failures + report(call, sprintf('refused without one message: "%s"', text));
      end
    else
      solved = solved + 1;
      l = args{3}; u = args{4};
      if isempty(l), l = -Inf(numel(x), 1); end
      if isempty(u), u = Inf(numel(x), 1); end
      ok = isempty(text) && size(x, 2) == 1 && all(isfinite(x)) && all(x >= l(1:numel(x), 1)) && ...
           all(x <= u(1:numel(x), 1));
      if nout >= 2
        ok = ok && isscalar(outs{2}) && any(outs{2} == [0 99 -3]);
      end
      if nout >= 3
        ok = ok && isequal(fieldnames(outs{3}), {'lowerbound'; 'upperbound'});
      end
      if nout >= 4
        ok = ok && isstruct(outs{4}) && ischar(outs{4}.message) && ...
             (outs{2} ~= 0 || outs{4}.firstOrderOptimality <= 1e-9);
      end
      if ~ok
        failures = failures + report(call, 'a solution of the wrong form');
      elseif nout >= 2
        failures = failures + same_as_plain_form(call, args(1:min(nargs, 7)), x, outs{2});
      end
    end
  end
  fprintf('gateway fuzz: %d calls, %d solved, %d refused (with outputs), %d bad\n', calls, solved, refused, failures);
end

% Solves the plain form of a call that was solved and compares bit for bit.
function one = same_as_plain_form(call, args, x, flag)
  one = 0;
  try
    H = args{1};
    n = rows(H);
    H = reshape(full(H), n, n);
    Ht = H';
    unequal = H ~= Ht;
    H(unequal) = 0.5 * H(unequal) + 0.5 * Ht(unequal);
    f = args{2}(:, 1);
    l = plain_bound(args{3}, n, -Inf);
    u = plain_bound(args{4}, n, Inf);
    x0 = [];
    if numel(args) >= 6 && ~isempty(args{6})
      x0 = args{6}(1:n)';
      x0 = x0(:);
    end
    if numel(args) >= 7
      [x_plain, flag_plain] = kelpie(H, f, l, u, [], x0, args{7});
    elseif numel(args) >= 6
      [x_plain, flag_plain] = kelpie(H, f, l, u, [], x0);
    else
      [x_plain, flag_plain] = kelpie(H, f, l, u);
    end
  catch err
    one = report(call, ['solved, but its plain form is not a problem: ' err.message]);
    return
  end
  if ~isequal(x, x_plain) || ~isequal(flag, flag_plain)
    one = report(call, 'solved differently from its plain form');
  end
end

function b = plain_bound(b, n, infinite)
  if isempty(b)
    b = infinite * ones(n, 1);
  else
    b = b(:, 1);
  end
end

% Options as users write them, now and then wrong.
function options = random_options()
  switch randi(6)
    case 1, options = [];
    case 2, options = struct('Method', 'accelerated');
    case 3, options = struct('Method', 'described', 'MaxNewtonSteps', randi(20));
    case 4, options = struct('MaxNewtonSteps', randi(5) - 0.5 * (rand() < 0.3));
    case 5, options = struct('Methd', 'accelerated');
    case 6, options = struct('Method', {'described', 'accelerated'});
  end
end

function H = good_matrix(n)
  A = randn(n);
  H = A' * A;
  if rand() < 0.2, H = H + randn(n); end      % not symmetric
  if rand() < 0.1, H = -H; end                % concave
end

function v = mutate(v)
  try
    v = mutate_once(v);
  catch
    % this mutation does not apply to this value (NaN into a char, ...)
  end
end

function v = mutate_once(v)
  switch randi(23)
    case 1, v = single(v);
    case 2, v = int32(round(v));
    case 3, v = v > 0;
    case 4, v = char(65 + mod(round(abs(v)), 26));
    case 5, v = {v};
    case 6, v = struct('v', v);
    case 7, v = complex(v, 1);
    case 8, v = sparse(v);
    case 9, v = v';
    case 10, v = v(1:end - 1, :);
    case 11, v = [];
    case 12, v(randi(numel(v))) = NaN;
    case 13, v(randi(numel(v))) = Inf * sign(randn());
    case 14, v = [v, v];
    case 15, v = zeros(0, 3);
    case 16, v = @sin;
    % Degenerate shapes: no values with n rows, no rows, a scalar, extra
    % dimensions, a range, a diagonal matrix.
    case 17, v = zeros(rows(v), 0);
    case 18, v = zeros(0, rows(v));
    case 19, v = v(1);
    case 20, v = zeros(rows(v), 0, 2);
    case 21, v = cat(3, v, v);
    case 22, v = (1:rows(v))';
    case 23, v = diag(1:rows(v));
  end
end

function one = report(call, message)
  fprintf('bad call %d: %s\n', call, message);
  one = 1;
end
