// Eight right-hand sides handled side by side, lane by lane. Each lane gets
// exactly the operations of the scalar loop it replaces (nothing is fused:
// -ffp-contract=off), so the bits do not depend on whether the compiler
// offers vector types or on the instruction set chosen at load time.
#ifndef KELPIE_LANES_H
#define KELPIE_LANES_H

#include <cstring>

#include "workspace.h"

// On x86-64 Linux the routines over lanes are also built for AVX2 and chosen
// when the processor has it.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define KELPIE_WITH_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define KELPIE_WITH_AVX2_CLONE
#endif
// 32-byte vectors are passed in memory without AVX; that is fine here,
// where every use is inlined.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace kelpie {

#if defined(__GNUC__)
// Two vectors of four: a single vector of eight is stored through the stack
// on AVX2, which doubles the time of a pass.
static_assert(kAppendBlock == 8, "the lanes are two vectors of four");
typedef double Quad __attribute__((vector_size(4 * sizeof(double))));
struct Lanes {
    Quad low;
    Quad high;
};
inline Lanes minus_scaled(Lanes a, double l, Lanes b) { return {a.low - l * b.low, a.high - l * b.high}; }
inline Lanes divided(Lanes a, double d) { return {a.low / d, a.high / d}; }
inline Lanes minus_product(Lanes a, Lanes b, Lanes c) { return {a.low - b.low * c.low, a.high - b.high * c.high}; }
inline Lanes load_lanes(const double* p) {
    Lanes x;
    std::memcpy(&x.low, p, sizeof x.low);
    std::memcpy(&x.high, p + 4, sizeof x.high);
    return x;
}
inline void store_lanes(double* p, Lanes x) {
    std::memcpy(p, &x.low, sizeof x.low);
    std::memcpy(p + 4, &x.high, sizeof x.high);
}
#else
struct Lanes {
    double e[kAppendBlock];
};
inline Lanes minus_scaled(Lanes a, double l, Lanes b) {
    for (int j = 0; j < kAppendBlock; ++j) a.e[j] = a.e[j] - l * b.e[j];
    return a;
}
inline Lanes divided(Lanes a, double d) {
    for (int j = 0; j < kAppendBlock; ++j) a.e[j] = a.e[j] / d;
    return a;
}
inline Lanes minus_product(Lanes a, Lanes b, Lanes c) {
    for (int j = 0; j < kAppendBlock; ++j) a.e[j] = a.e[j] - b.e[j] * c.e[j];
    return a;
}
inline Lanes load_lanes(const double* p) {
    Lanes x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
inline void store_lanes(double* p, Lanes x) { std::memcpy(p, &x, sizeof x); }
#endif

}  // namespace kelpie

#endif
