"""kelpie.solve: answers against independent solvers, the same bits as the C
function, numpy conventions, and every kind of bad input."""
import pathlib
import subprocess
import sys
import textwrap

import numpy as np
import pytest
import scipy.sparse
from scipy.optimize import lsq_linear, nnls

import kelpie
from conftest import random_problem


def projected_gradient(H, f, lower, upper, x):
    g = H @ x + f
    pg = np.where(x <= lower, np.minimum(g, 0), np.where(x >= upper, np.maximum(g, 0), g))
    return np.where(lower == upper, 0.0, pg)


def first_order_residual(H, f, lower, upper, x):
    terms = np.abs(f) + np.abs(H) @ np.abs(x)
    pg = np.abs(projected_gradient(H, f, lower, upper, x))
    return float(np.max(np.divide(pg, terms, out=np.zeros_like(pg), where=pg > 0), initial=0.0))


@pytest.mark.parametrize("rows, n, seed", [(30, 10, 1), (10, 30, 2), (60, 60, 3), (40, 120, 4)])
def test_non_negative_least_squares_matches_scipy_nnls(rows, n, seed):
    rng = np.random.default_rng(seed)
    A = rng.standard_normal((rows, n))
    b = rng.standard_normal(rows)
    result = kelpie.solve(A.T @ A, -A.T @ b, lower=0)
    reference, _ = nnls(A, b, maxiter=50 * n)
    assert result.status == kelpie.Status.CONVERGED
    # With more unknowns than rows the minimiser need not be unique: compare
    # the residual norms, and demand first-order optimality.
    assert np.linalg.norm(A @ result.x - b) <= np.linalg.norm(A @ reference - b) + 1e-9
    assert first_order_residual(A.T @ A, -A.T @ b, np.zeros(n), np.full(n, np.inf), result.x) <= 1e-9


@pytest.mark.parametrize("seed", range(4))
def test_bounded_least_squares_matches_lsq_linear(seed):
    rng = np.random.default_rng(10 + seed)
    A = rng.standard_normal((50, 20))
    b = rng.standard_normal(50) * 3
    lower, upper = -rng.random(20), rng.random(20)
    result = kelpie.solve(A.T @ A, -A.T @ b, lower, upper)
    reference = lsq_linear(A, b, bounds=(lower, upper), method="bvls", tol=1e-14).x
    assert result.status == kelpie.Status.CONVERGED
    np.testing.assert_allclose(result.x, reference, atol=1e-9)


@pytest.mark.parametrize("kind", ["definite", "semidefinite", "least-squares"])
@pytest.mark.parametrize("seed", range(3))
def test_convex_problems_match_cvxopt(kind, seed):
    from cvxopt import matrix, solvers
    rng = np.random.default_rng(20 + seed)
    H, f, lower, upper = random_problem(kind, 16, rng)
    result = kelpie.solve(H, f, lower, upper)
    n = len(f)
    finite_upper = np.isfinite(upper)
    G = np.vstack([-np.eye(n), np.eye(n)[finite_upper]])
    h = np.concatenate([-lower, upper[finite_upper]])
    solvers.options.update(show_progress=False, abstol=1e-12, reltol=1e-12, feastol=1e-12)
    reference = np.array(solvers.qp(matrix(H), matrix(f), matrix(G), matrix(h))["x"]).ravel()
    reference_objective = 0.5 * reference @ H @ reference + f @ reference
    assert result.status == kelpie.Status.CONVERGED
    assert result.objective <= reference_objective + 1e-9 * max(1.0, abs(reference_objective))
    assert first_order_residual(H, f, lower, upper, result.x) <= 1e-9
    np.testing.assert_allclose(H @ result.x + f - result.lambda_lower + result.lambda_upper, 0,
                               atol=1e-8 * max(1.0, np.max(np.abs(f))))


def test_nonconvex_problem_ends_at_a_first_order_point():
    rng = np.random.default_rng(5)
    H, f, lower, upper = random_problem("nonconvex", 30, rng)
    result = kelpie.solve(H, f, lower, upper)
    assert result.status == kelpie.Status.CONVERGED
    assert first_order_residual(H, f, lower, upper, result.x) <= 1e-9
    assert np.all(result.x >= lower) and np.all(result.x <= upper)


@pytest.mark.parametrize("kind", ["definite", "semidefinite", "least-squares", "nonconvex"])
def test_bits_equal_those_of_the_c_function(kind, c_solver):
    rng = np.random.default_rng(30)
    H, f, lower, upper = random_problem(kind, 40, rng)
    x0 = rng.standard_normal(40)
    result = kelpie.solve(H, f, lower, upper, x0)
    x, status, lambda_lower, lambda_upper = c_solver(H, f, lower, upper, x0)
    assert result.status == status
    assert np.array_equal(result.x, x)
    assert np.array_equal(result.lambda_lower, lambda_lower)
    assert np.array_equal(result.lambda_upper, lambda_upper)


def test_numpy_conventions():
    rng = np.random.default_rng(6)
    H, f, _, _ = random_problem("definite", 8, rng)
    base = kelpie.solve(H, f, np.zeros(8), np.full(8, 2.0))
    same = [
        kelpie.solve(np.asfortranarray(H), f, 0, 2.0),          # Fortran order, scalar bounds
        kelpie.solve(H.tolist(), list(f), [0] * 8, 2),          # lists, integers
        kelpie.solve(H, f.reshape(8, 1), 0.0, np.full((8, 1), 2.0)),  # columns
        kelpie.solve(np.repeat(H, 2, axis=1)[:, ::2], f, 0, 2),  # strided: copied
    ]
    for other in same:
        assert np.array_equal(other.x, base.x)
        assert other.status == base.status
    free = kelpie.solve(H, f)
    assert np.array_equal(free.x, kelpie.solve(H, f, -np.inf, np.inf).x)
    np.testing.assert_allclose(H @ free.x, -f, atol=1e-10)
    # x0 is used (and moved onto the box): a flat problem keeps it.
    flat = kelpie.solve(np.zeros((3, 3)), np.zeros(3), -1, 1, x0=[0.25, -7, 3])
    assert np.array_equal(flat.x, [0.25, -1, 1])
    assert kelpie.solve(np.zeros((0, 0)), np.zeros(0)).x.shape == (0,)


def test_non_symmetric_h_is_solved_as_its_symmetric_part():
    rng = np.random.default_rng(7)
    H, f, lower, upper = random_problem("definite", 9, rng)
    asymmetric = H + np.triu(rng.standard_normal((9, 9)), 1)
    keep = asymmetric.copy()
    symmetric = np.where(asymmetric == asymmetric.T, asymmetric, 0.5 * asymmetric + 0.5 * asymmetric.T)
    a = kelpie.solve(asymmetric, f, lower, upper)
    b = kelpie.solve(symmetric, f, lower, upper)
    c = kelpie.solve(np.ascontiguousarray(asymmetric.T), f, lower, upper)
    assert np.array_equal(a.x, b.x) and np.array_equal(a.x, c.x)
    assert np.array_equal(asymmetric, keep)


def test_unbounded_problem_is_reported():
    result = kelpie.solve([[1.0, 1.0], [1.0, 1.0]], [1.0, -1.0])
    assert result.status == kelpie.Status.UNBOUNDED
    assert np.all(np.isfinite(result.x))


BAD_INPUTS = [
    # (arguments, exception, words the message must hold)
    ((np.eye(2), [1.0, 2.0, 3.0]), ValueError, "f must have shape (2,)"),
    ((np.ones((2, 3)), [1.0, 2.0]), ValueError, "H must be a square matrix"),
    ((np.ones(4), [1.0, 2.0]), ValueError, "H must be a square matrix"),
    ((np.eye(2), np.ones((2, 2))), ValueError, "f must have shape (2,)"),
    ((np.eye(2), [1.0, np.nan]), ValueError, "f must not contain NaN"),
    ((np.array([[1.0, np.inf], [np.inf, 1.0]]), [1.0, 1.0]), ValueError, "H must not contain NaN or infinity"),
    ((np.eye(2), [1.0, 1.0], [0.0, 2.0], [1.0, 1.0]), ValueError, "lower must not exceed upper (index 1"),
    ((np.eye(2), [1.0, 1.0], [np.nan, 0.0]), ValueError, "lower must not contain NaN"),
    ((np.eye(2), [1.0, 1.0], np.inf), ValueError, "lower must not contain NaN or +inf"),
    ((np.eye(2), [1.0, 1.0], None, -np.inf), ValueError, "upper must not contain NaN or -inf"),
    ((np.eye(2), [1.0, 1.0], None, [1.0, 2.0, 3.0]), ValueError, "upper must have shape (2,)"),
    ((np.eye(2), [1.0, 1.0], None, None, [0.0]), ValueError, "x0 must have shape (2,)"),
    ((np.eye(2), [1.0, 1.0], None, None, [0.0, np.inf]), ValueError, "x0 must not contain NaN"),
    ((np.eye(2) * 1j, [1.0, 1.0]), TypeError, "H must hold real numbers"),
    ((np.eye(2), ["a", "b"]), TypeError, "f must hold real numbers"),
    ((np.eye(2), [1.0, 1.0], [object(), 1]), TypeError, "lower must hold real numbers"),
    ((np.eye(2), 1.0), ValueError, "f must have shape (2,)"),
    ((scipy.sparse.eye(2), [1.0, 1.0]), TypeError, "H must hold real numbers"),
    ((np.eye(2), [1.0, 1.0], None, None, None), None, None),
]


@pytest.mark.parametrize("arguments, error, words", BAD_INPUTS)
def test_bad_input_raises_with_what_to_fix(arguments, error, words):
    if error is None:  # the well-formed call the table's rows spoil
        assert kelpie.solve(*arguments).status == kelpie.Status.CONVERGED
        return
    with pytest.raises(error) as raised:
        kelpie.solve(*arguments)
    assert words in str(raised.value)


def test_out_of_memory_raises_memory_error():
    # In a process whose address space holds H and little more: the
    # solver's workspace (about 8 n^2 bytes) cannot be had.
    script = textwrap.dedent("""
        import resource, numpy as np, kelpie
        n = 4000
        H = np.eye(n)
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + 64 * 2**20, resource.RLIM_INFINITY))
        try:
            kelpie.solve(H, np.ones(n))
        except MemoryError:
            print("MemoryError")
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.stdout.strip() == "MemoryError", done.stderr


def test_example_script_solves_the_diabetes_data():
    pytest.importorskip("sklearn")
    script = pathlib.Path(__file__).resolve().parents[1] / "examples" / "nnls_diabetes.py"
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "kelpie status: CONVERGED" in done.stdout


def test_linear_svm_dual_on_a_real_data_set():
    # scikit-learn's breast cancer data (569 samples, 30 features, scaled):
    # Q = (y y') .* (X X' + 1) has rank 31, so the free blocks are singular.
    datasets = pytest.importorskip("sklearn.datasets")
    from cvxopt import matrix, solvers
    data = datasets.load_breast_cancer()
    X = (data.data - data.data.mean(axis=0)) / data.data.std(axis=0)
    y = np.where(data.target == 1, 1.0, -1.0)
    Q = np.outer(y, y) * (X @ X.T + 1.0)
    n, C = len(y), 1.0
    result = kelpie.solve(Q, -np.ones(n), 0, C)
    assert result.status == kelpie.Status.CONVERGED
    assert first_order_residual(Q, -np.ones(n), np.zeros(n), np.full(n, C), result.x) <= 1e-9
    solvers.options.update(show_progress=False, abstol=1e-12, reltol=1e-12, feastol=1e-12)
    G, h = np.vstack([-np.eye(n), np.eye(n)]), np.concatenate([np.zeros(n), np.full(n, C)])
    reference = np.array(solvers.qp(matrix(Q), matrix(-np.ones(n)), matrix(G), matrix(h))["x"]).ravel()
    reference_objective = 0.5 * reference @ Q @ reference - reference.sum()
    assert result.objective <= reference_objective + 1e-9 * abs(reference_objective)


@pytest.mark.parametrize("kind", ["definite", "semidefinite", "least-squares"])
def test_accelerated_method_reaches_the_same_solution(kind):
    rng = np.random.default_rng(50)
    H, f, lower, upper = random_problem(kind, 60, rng)
    described = kelpie.solve(H, f, lower, upper)
    accelerated = kelpie.solve(H, f, lower, upper, method="accelerated")
    assert described.status == accelerated.status == kelpie.Status.CONVERGED
    assert accelerated.objective == pytest.approx(described.objective, rel=1e-9, abs=1e-9)
    assert accelerated.info.first_order_residual <= 1e-9
    assert first_order_residual(H, f, lower, upper, accelerated.x) <= 1e-9


def test_info_and_the_newton_step_limit():
    rng = np.random.default_rng(51)
    H, f, lower, upper = random_problem("least-squares", 50, rng)
    result = kelpie.solve(H, f, lower, upper)
    assert result.info.passes >= result.info.full_sweeps >= 1
    assert result.info.message.startswith("converged")
    assert result.info.first_order_residual == pytest.approx(first_order_residual(H, f, lower, upper, result.x),
                                                             rel=1e-6, abs=1e-13)
    for limit in (1, 2, 5):
        limited = kelpie.solve(H, f, lower, upper, max_newton_steps=limit)
        assert limited.info.newton_steps <= limit
        assert (limited.status == kelpie.Status.CONVERGED) == (limited.info.first_order_residual <= 1e-9)
    for bad in ({"method": "fast"}, {"max_newton_steps": 0}, {"max_newton_steps": 2.5}, {"max_newton_steps": True}):
        with pytest.raises(ValueError):
            kelpie.solve(H, f, lower, upper, **bad)
