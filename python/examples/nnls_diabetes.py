#!/usr/bin/python3
"""Non-negative least squares on a real data set: the diabetes data that
scikit-learn ships (442 patients, 10 measurements, a disease-progression
score; Debian package python3-sklearn).

Fits score ~ c + X w with w >= 0 (each measurement may only raise the
predicted score) and the intercept c free, as a quadratic programme for
kelpie, and compares with scipy's lsq_linear on the same problem.
"""
import numpy as np
from scipy.optimize import lsq_linear
from sklearn.datasets import load_diabetes

import kelpie

data = load_diabetes()
A = np.column_stack([np.ones(len(data.target)), data.data])  # intercept, then the 10 measurements
b = data.target
lower = np.r_[-np.inf, np.zeros(10)]

result = kelpie.solve(A.T @ A, -A.T @ b, lower=lower)
reference = lsq_linear(A, b, bounds=(lower, np.inf), method="bvls", tol=1e-12)

print(f"kelpie status: {result.status.name}")
for name, w, r in zip(["intercept"] + list(data.feature_names), result.x, reference.x):
    print(f"  {name:>9}: {w:12.4f}   (lsq_linear {r:12.4f})")
print(f"residual norm: kelpie {np.linalg.norm(A @ result.x - b):.6f}, "
      f"lsq_linear {np.linalg.norm(A @ reference.x - b):.6f}")
print(f"measurements held at zero: {[n for n, w in zip(data.feature_names, result.x[1:]) if w == 0]}")
