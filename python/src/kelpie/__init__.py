"""kelpie: dense quadratic programmes with simple bounds.

Solves

    minimise  1/2 x'Hx + f'x   subject to   lower <= x <= upper

for a dense symmetric H (positive definite, semidefinite or indefinite),
with the same compiled core as kelpie's MATLAB and Octave interface.

>>> import numpy as np, kelpie
>>> A = np.array([[1., 2, 0], [0, 1, 1], [1, 0, 1], [2, 1, 1]])
>>> b = np.array([4., -1, 1, 3])
>>> result = kelpie.solve(A.T @ A, -A.T @ b, lower=0)   # non-negative least squares
>>> result.status == kelpie.Status.CONVERGED
True
"""
import enum
import os
from collections.abc import Mapping
from concurrent.futures import ThreadPoolExecutor
from typing import NamedTuple

import numpy as np

from . import _core

__all__ = ["Info", "Result", "Status", "solve", "solve_many"]


class Status(enum.IntEnum):
    """How a solve ended; the same codes as the C function ``solve_box_qp``.

    Attributes
    ----------
    CONVERGED : 0
        ``x`` is a solution: every entry of the projected gradient of
        ``H @ x + f`` is at most 1e-9 of the size of the terms of its row,
        ``|f_i| + sum_j |H_ij x_j|``.
    ITERATION_LIMIT : 99
        ``x`` is not known to be a solution: the method ran out of steps or
        stopped making progress. ``x`` is the last iterate.
    UNBOUNDED : -3
        The objective is unbounded below on the box; ``x`` is the last
        finite iterate and the multipliers are zero.
    """

    CONVERGED = _core.CONVERGED
    ITERATION_LIMIT = _core.ITERATION_LIMIT
    UNBOUNDED = _core.UNBOUNDED


class Info(NamedTuple):
    """What a solve did.

    Attributes
    ----------
    passes : int
        Passes of the main loop (a gradient from scratch and a sweep each).
    full_sweeps : int
        Sweeps that visited every variable.
    newton_steps : int
        Newton phases.
    proximal_steps : int
        Proximal point steps (taken where a free block is singular, or where
        the method stopped short of a solution).
    first_order_residual : float
        The optimality test's value at ``x``; ``status`` is ``CONVERGED``
        exactly when it is at most 1e-9.
    message : str
        The status's reason in words.
    """

    passes: int
    full_sweeps: int
    newton_steps: int
    proximal_steps: int
    first_order_residual: float
    message: str


class Result(NamedTuple):
    """The outcome of one solve.

    Attributes
    ----------
    x : numpy.ndarray
        The solution (or last iterate), shape ``(n,)``.
    status : Status
        How the solve ended.
    lambda_lower, lambda_upper : numpy.ndarray
        Multipliers of the lower and upper bounds, shape ``(n,)``. A variable
        held at a bound carries the size of its gradient entry on one side;
        at a solution ``H @ x + f - lambda_lower + lambda_upper`` is zero.
    objective : float
        ``1/2 x'Hx + f'x`` at ``x``.
    info : Info
        Counts and the optimality test's value.
    """

    x: np.ndarray
    status: Status
    lambda_lower: np.ndarray
    lambda_upper: np.ndarray
    objective: float
    info: Info


def solve(H, f, lower=None, upper=None, x0=None, *, method="described", max_newton_steps=None):
    """Minimise ``1/2 x'Hx + f'x`` subject to ``lower <= x <= upper``.

    Parameters
    ----------
    H : array_like, shape (n, n)
        Real matrix, C or Fortran order (neither is copied when it already
        holds float64). A matrix that is not exactly symmetric is solved as
        ``(H + H.T) / 2``, which defines the same objective, as the MEX file
        does; ``H`` itself is not modified.
    f : array_like, shape (n,) or (n, 1)
        Linear term.
    lower, upper : array_like or scalar, optional
        Bounds, shape ``(n,)`` or a scalar for every variable (``lower=0``
        means ``x >= 0``). ``None`` or ``-np.inf`` / ``np.inf`` leave a side
        unbounded.
    x0 : array_like or scalar, optional
        Starting point (finite), moved onto the box first; zero by default.
    method : {"described", "accelerated"}, optional
        ``"described"`` (default): each Newton step stops at the first bound
        it meets, as in the MATLAB and Octave interface by default.
        ``"accelerated"``: once Newton steps keep stopping at bounds, each is
        followed along the projected path ``clip(x + t d)`` with a
        sufficient-decrease rule, which can fix many bounds in one step, and
        on singular problems whole sets of bounds are first exchanged at once
        and the proximal steps may start from a larger weight that falls step
        by step; it ends with the same optimality test.
    max_newton_steps : int, optional
        A limit on the Newton steps of the whole solve (``None``: 2n for each
        run of the main loop, as by default). Where it stops the solve short
        of a solution, ``status`` is ``ITERATION_LIMIT``.

    Returns
    -------
    Result
        ``x``, ``status``, ``lambda_lower``, ``lambda_upper``, ``objective``.

    Raises
    ------
    TypeError
        An argument that is not an array of real numbers (complex, strings,
        objects).
    ValueError
        Wrong shapes (``H`` not square, ``f`` or a bound of the wrong
        length), NaN or infinity in ``H``, ``f`` or ``x0``, NaN in a bound,
        ``lower = +inf``, ``upper = -inf``, or ``lower > upper`` anywhere.
    MemoryError
        The solver's workspace (about ``8 n**2`` bytes) could not be allocated.

    Notes
    -----
    The solve releases the GIL; the core keeps no state, so several threads
    may solve at once (see :func:`solve_many`).
    """
    if max_newton_steps is None:
        limit = 0
    elif isinstance(max_newton_steps, (bool, np.bool_)) or int(max_newton_steps) != max_newton_steps \
            or max_newton_steps < 1:
        raise ValueError(f"max_newton_steps must be a positive whole number or None, not {max_newton_steps!r}")
    else:
        limit = int(max_newton_steps)
    x, status, lambda_lower, lambda_upper, objective, info = _core.solve(H, f, lower, upper, x0, method, limit)
    return Result(x, Status(status), lambda_lower, lambda_upper, objective, Info(**info))


def _solve_one(indexed):
    index, problem = indexed
    try:
        if isinstance(problem, Mapping):
            return solve(**problem)
        return solve(*problem)
    except (TypeError, ValueError) as error:
        raise type(error)(f"problem {index}: {error}") from error


def solve_many(problems, threads=None):
    """Solve many independent problems on a pool of threads.

    Parameters
    ----------
    problems : iterable
        Each problem is a tuple ``(H, f[, lower[, upper[, x0]]])`` or a
        mapping with those keys, as taken by :func:`solve`.
    threads : int, optional
        Number of threads; ``os.cpu_count()`` by default.

    Returns
    -------
    list of Result
        In the order of ``problems``, bit for bit what :func:`solve` gives
        for each one (with a single-threaded BLAS, e.g.
        ``OPENBLAS_NUM_THREADS=1``).

    Raises
    ------
    TypeError, ValueError
        The first bad problem in input order, its index in the message.
    """
    problems = list(problems)
    if threads is None:
        threads = os.cpu_count() or 1
    if int(threads) != threads or threads < 1:
        raise ValueError(f"threads must be a positive whole number, not {threads!r}")
    if not problems:
        return []
    with ThreadPoolExecutor(max_workers=min(int(threads), len(problems))) as pool:
        return list(pool.map(_solve_one, enumerate(problems)))
