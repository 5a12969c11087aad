#!/usr/bin/env bash
# Installs the Debian packages that the build, the demo and the tests need,
# when they are missing. Runs as root (or through sudo) on Debian 12.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libopenblas-dev
  libgtest-dev
  octave liboctave-dev
)
# The Python package: built offline from Debian's numpy and pybind11.
if [ "${KELPIE_WITH_PYTHON:-0}" = 1 ] || [ "${KELPIE_WITH_TEST_TOOLS:-0}" = 1 ]; then
  packages+=(python3 python3-dev python3-numpy python3-pybind11 python3-pip python3-setuptools)
fi
if [ "${KELPIE_WITH_TEST_TOOLS:-0}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev valgrind octave-parallel
             python3-pytest python3-scipy python3-cvxopt python3-distributed python3-sklearn)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
