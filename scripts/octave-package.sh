#!/usr/bin/env bash
# Makes the Octave package kelpie-VERSION.tar.gz (for pkg install) in the
# folder given (default: build), from the sources of this repository:
#   DESCRIPTION, INDEX, COPYING; inst/ with the help file (with its tests and
#   demos) and the demo; src/ with the solver and gateway sources and a
#   Makefile that builds kelpie.mex with mkoctfile.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build}
version=$(tr -d '[:space:]' < "$root/VERSION")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
package=$stage/kelpie-$version
mkdir -p "$package/inst" "$package/src" "$out"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date -u +%Y-%m-%d)/" "$root/octave/DESCRIPTION.in" > "$package/DESCRIPTION"
cp "$root/octave/INDEX" "$root/COPYING" "$package/"
cp "$root/matlab/kelpie.m" "$root/matlab/kelpie_demo.m" "$package/inst/"
cp "$root"/solver/*.cpp "$root"/solver/*.h "$root"/gateway/*.cpp "$root"/gateway/*.h "$package/src/"
cp "$root/octave/Makefile" "$package/src/Makefile"
tar -C "$stage" -czf "$out/kelpie-$version.tar.gz" "kelpie-$version"
echo "$out/kelpie-$version.tar.gz"
