#!/usr/bin/python3
"""Solves the problems bench/singular_families wrote with cvxopt's
interior-point QP solver at tolerance 1e-12 (median time of 3, or one solve
over 0.5 s) and prints them beside kelpie's lines from the same run:

    ip_reference.py FOLDER KELPIE_LINES"""
import glob
import os
import sys
import time

import numpy as np
from cvxopt import matrix, solvers


def read(path):
    with open(path, "rb") as f:
        n = int(np.fromfile(f, dtype=np.int32, count=1)[0])
        H = np.fromfile(f, dtype=np.float64, count=n * n).reshape((n, n), order="F")
        f_, lower, upper = (np.fromfile(f, dtype=np.float64, count=n) for _ in range(3))
    return H, f_, lower, upper


def solve(H, f, lower, upper):
    n = len(f)
    rows, h = [], []
    for bound, sign in ((lower, -1.0), (upper, 1.0)):
        finite = np.isfinite(bound)
        if finite.any():
            rows.append(sign * np.eye(n)[finite])
            h.append(sign * bound[finite])
    G, h = matrix(np.vstack(rows)), matrix(np.concatenate(h))
    solvers.options.update(show_progress=False, abstol=1e-12, reltol=1e-12, feastol=1e-12, maxiters=200)
    times = []
    for _ in range(3):
        start = time.perf_counter()
        result = solvers.qp(matrix(H), matrix(f), G, h)
        times.append(time.perf_counter() - start)
        if times[-1] > 0.5:
            break
    x = np.array(result["x"]).ravel()
    return result["status"], 0.5 * x @ H @ x + f @ x, sorted(times)[len(times) // 2]


def main(folder, kelpie_lines):
    paths = sorted(glob.glob(os.path.join(folder, "problem*.bin")),
                   key=lambda p: int(os.path.basename(p)[7:-4]))
    with open(kelpie_lines) as f:
        lines = f.read().splitlines()
    print(f"{'':24} {'described':^59} | {'accelerated':^59} | {'':5} | {'interior point':^16}")
    print(f"{'family':18} {'n':>5} " + f"{'result':>6} {'residual':>9} {'s':>8} {'ip/this':>7} {'obj gap':>8} "
          f"{'passes':>6} {'prox':>4} | " * 2 + f"{'A/D':>5} | {'s':>8} status")
    for path, line in zip(paths, lines):
        name, rest = line[:18].strip(), line[18:].split()
        try:
            status, ip_objective, ip_seconds = solve(*read(path))
        except ValueError as error:  # a nonconvex H: no interior-point reference
            status, ip_objective, ip_seconds = f"refused ({error})", float("nan"), float("nan")
        text = f"{name:18} {rest[0]:>5} "
        method_seconds = []
        for k in (1, 13):  # the fields of the described, then the accelerated run
            result, residual, objective, seconds = rest[k + 1], rest[k + 3], float(rest[k + 5]), float(rest[k + 6])
            passes, proximal = rest[k + 9], rest[k + 11]
            gap = (objective - ip_objective) / max(1.0, abs(ip_objective))
            method_seconds.append(seconds)
            text += (f"{result:>6} {residual:>9} {seconds:8.3g} {ip_seconds / max(seconds, 1e-9):7.2f} {gap:8.1e} "
                     f"{passes:>6} {proximal:>4} | ")
        text += f"{method_seconds[1] / max(method_seconds[0], 1e-12):5.2f} | "
        print(text + f"{ip_seconds:8.3g} {status}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
