// A hint to unroll the next loop completely: the passes over several columns
// of L at once keep small fixed-size arrays, which stay in registers only
// when their loops are unrolled, also at -O2 (the MEX builds). Compilers
// that do not know the hint get nothing.
#ifndef KELPIE_UNROLL_H
#define KELPIE_UNROLL_H

#if defined(__GNUC__)
#define KELPIE_UNROLL _Pragma("GCC unroll 8")
#else
#define KELPIE_UNROLL
#endif

#endif
