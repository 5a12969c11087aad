# Sourced by the benchmark scripts. OpenBLAS picks its kernels by CPU model;
# on a CPU newer than it knows (0.3.21, Debian 12, on Sapphire Rapids) it
# falls back to its Prescott (SSE3) kernels, and dgemm and dpotrf, what an
# interior-point solver lives on, run several times slower than the
# machine allows, while kelpie's own kernels do not change. Ratios against
# such a baseline say more about the fallback than about either solver. Where
# that happens, and the caller has not chosen a core, the kernels for the
# widest vector instructions the CPU has are chosen instead, and said so.
openblas_core() {
  /usr/bin/python3 -c '
import ctypes, ctypes.util
lib = ctypes.CDLL(ctypes.util.find_library("openblas") or "libopenblas.so.0")
lib.openblas_get_corename.restype = ctypes.c_char_p
print(lib.openblas_get_corename().decode())' 2>/dev/null || echo unknown
}
if [ -z "${OPENBLAS_CORETYPE:-}" ]; then
  core=$(openblas_core)
  case "$core" in
    Prescott|Core2|Penryn|Dunnington|Nehalem|Katmai|Coppermine|Northwood)
      if grep -qw avx512f /proc/cpuinfo; then export OPENBLAS_CORETYPE=SkylakeX
      elif grep -qw avx2 /proc/cpuinfo; then export OPENBLAS_CORETYPE=Haswell
      fi
      if [ -n "${OPENBLAS_CORETYPE:-}" ]; then
        echo "OpenBLAS chose its $core kernels for this CPU; using $OPENBLAS_CORETYPE (set OPENBLAS_CORETYPE to choose)" >&2
      fi ;;
  esac
fi
echo "OpenBLAS kernels: $(openblas_core)" >&2
