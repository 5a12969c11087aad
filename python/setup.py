"""Builds kelpie's extension from the solver's C++ sources in ../solver.

The build needs numpy, pybind11 and a BLAS (OpenBLAS on Debian), all from
the distribution's packages; it runs offline:

    pip install --no-build-isolation ./python
"""
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

here = Path(__file__).resolve().parent
root = here.parent
version = (root / "VERSION").read_text().strip()
solver_sources = [f"../solver/{p.name}" for p in sorted((root / "solver").glob("*.cpp"))]

extension = Pybind11Extension(
    "kelpie._core",
    ["src/kelpie/_core.cpp", "../gateway/gateway_checks.cpp"] + solver_sources,
    include_dirs=["../solver", "../gateway"],
    cxx_std=17,
    # Every floating-point operation in the order the code states, as in
    # the MEX file and the C library: the same inputs give the same bits.
    extra_compile_args=["-O2", "-ffp-contract=off", "-Wno-psabi"],
    libraries=["openblas"],
)

setup(
    version=version,
    package_dir={"": "src"},
    packages=["kelpie"],
    ext_modules=[extension],
    zip_safe=False,
)
