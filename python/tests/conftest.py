"""Shared fixtures: seeded problem families and the C function itself,
built as a shared library from the solver's sources, for bit comparisons."""
import ctypes
import pathlib
import subprocess

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def c_solver(tmp_path_factory):
    """solve_box_qp from a shared library compiled here with the flags of
    every other build (-ffp-contract=off), independent of the extension."""
    library = tmp_path_factory.mktemp("c") / "libkelpie_c.so"
    sources = sorted(str(p) for p in (ROOT / "solver").glob("*.cpp"))
    subprocess.run(["g++", "-O2", "-std=c++17", "-ffp-contract=off", "-Wno-psabi", "-shared", "-fPIC",
                    "-o", str(library), *sources, "-lopenblas"], check=True)
    lib = ctypes.CDLL(str(library))
    pointer = ctypes.POINTER(ctypes.c_double)
    lib.solve_box_qp.argtypes = [ctypes.c_int] + [pointer] * 7
    lib.solve_box_qp.restype = ctypes.c_int

    def solve(H, f, lower, upper, x0):
        n = len(f)
        arrays = [np.asfortranarray(H, dtype=float), np.array(f, dtype=float), np.array(lower, dtype=float),
                  np.array(upper, dtype=float)]
        x, lambda_lower, lambda_upper = np.array(x0, dtype=float), np.zeros(n), np.zeros(n)
        status = lib.solve_box_qp(n, *(a.ctypes.data_as(pointer) for a in arrays + [x, lambda_lower, lambda_upper]))
        return x, status, lambda_lower, lambda_upper

    return solve


def random_problem(kind, n, rng):
    """(H, f, lower, upper) of one family: 'definite', 'semidefinite' (low
    rank, two-sided box), 'least-squares' (wide A, x >= 0), 'nonconvex'."""
    if kind == "definite":
        A = rng.standard_normal((n + 3, n))
        H = A.T @ A + 0.1 * np.eye(n)
    elif kind == "semidefinite":
        V = rng.standard_normal((n, max(1, n // 4)))
        H = V @ V.T
    elif kind == "least-squares":
        A = rng.standard_normal((max(1, n // 2), n))
        H = A.T @ A
        return H, -A.T @ rng.standard_normal(A.shape[0]), np.zeros(n), np.full(n, np.inf)
    else:
        H = rng.standard_normal((n, n))
        H = (H + H.T) / 2
    return H, rng.standard_normal(n), -np.ones(n), np.ones(n)
