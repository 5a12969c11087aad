#!/usr/bin/python3
"""kelpie from Python against scipy's lsq_linear (BVLS) and nnls and cvxopt's
interior point, on the same problems in the same run, and kelpie's per-call
overhead over the C function at n = 10. Run with bash bench/python.sh.

    python_bench.py TIMER_LIBRARY
"""
import ctypes
import sys
import time

import numpy as np
from cvxopt import matrix, solvers
from scipy.optimize import lsq_linear, nnls

import kelpie


def median_time(call, min_seconds=0.2, rounds=5):
    times = []
    for _ in range(rounds):
        count, start = 0, time.perf_counter()
        while True:
            call()
            count += 1
            elapsed = time.perf_counter() - start
            if elapsed >= min_seconds / rounds:
                break
        times.append(elapsed / count)
    return sorted(times)[len(times) // 2]


def cvxopt_box_qp(H, f, lower, upper):
    n = len(f)
    keep_lower, keep_upper = np.isfinite(lower), np.isfinite(upper)
    G = np.vstack([-np.eye(n)[keep_lower], np.eye(n)[keep_upper]])
    h = np.concatenate([-lower[keep_lower], upper[keep_upper]])
    solvers.options.update(show_progress=False, abstol=1e-12, reltol=1e-12, feastol=1e-12)
    return np.array(solvers.qp(matrix(H), matrix(f), matrix(G), matrix(h))["x"]).ravel()


def compare(name, A, b, lower, upper, others):
    H, f = A.T @ A, -A.T @ b
    mine = kelpie.solve(H, f, lower, upper)
    t_mine = median_time(lambda: kelpie.solve(H, f, lower, upper))
    line = f"{name:32} kelpie {t_mine * 1e3:9.3f} ms ({mine.status.name})"
    for label, call in others:
        x = call()
        t = median_time(call)
        gap = (np.linalg.norm(A @ mine.x - b) - np.linalg.norm(A @ x - b)) / max(1.0, np.linalg.norm(b))
        line += f" | {label} {t * 1e3:9.3f} ms, {t / t_mine:6.1f}x, residual gap {gap:+.1e}"
    print(line, flush=True)


def main(timer_library):
    rng = np.random.default_rng(1)
    for rows, n in [(200, 100), (50, 100), (1000, 500), (250, 500)]:
        A, b = rng.standard_normal((rows, n)), rng.standard_normal(rows)
        zero, inf = np.zeros(n), np.full(n, np.inf)
        compare(f"nnls {rows} x {n}", A, b, zero, inf, [
            ("nnls", lambda: nnls(A, b, maxiter=50 * n)[0]),
            ("lsq_linear", lambda: lsq_linear(A, b, bounds=(0, np.inf), method="bvls", tol=1e-12).x),
            ("cvxopt", lambda: cvxopt_box_qp(A.T @ A, -A.T @ b, zero, inf)),
        ])
        lo, hi = -rng.random(n), rng.random(n)
        compare(f"bounded least squares {rows} x {n}", A, 3 * b, lo, hi, [
            ("lsq_linear", lambda: lsq_linear(A, 3 * b, bounds=(lo, hi), method="bvls", tol=1e-12).x),
            ("cvxopt", lambda: cvxopt_box_qp(A.T @ A, -3 * A.T @ b, lo, hi)),
        ])

    # Per-call overhead at n = 10: kelpie.solve against the C function timed in C.
    timer = ctypes.CDLL(timer_library)
    pointer = ctypes.POINTER(ctypes.c_double)
    timer.time_solve_box_qp.argtypes = [ctypes.c_int] + [pointer] * 4 + [ctypes.c_int, ctypes.c_int]
    timer.time_solve_box_qp.restype = ctypes.c_double
    n = 10
    A = rng.standard_normal((n + 5, n))
    H, f = np.asfortranarray(A.T @ A), rng.standard_normal(n)
    lower, upper = -np.ones(n), np.ones(n)
    arrays = [np.ascontiguousarray(a) for a in (H.ravel(order="F"), f, lower, upper)]
    c_time = timer.time_solve_box_qp(n, *(a.ctypes.data_as(pointer) for a in arrays), 20000, 7)
    py_time = median_time(lambda: kelpie.solve(H, f, lower, upper), min_seconds=1.0, rounds=7)
    print(f"n = 10: C {c_time * 1e6:.2f} us, kelpie.solve {py_time * 1e6:.2f} us, "
          f"overhead {(py_time - c_time) * 1e6:.2f} us per call (target: under 10 us)")


if __name__ == "__main__":
    main(sys.argv[1])
