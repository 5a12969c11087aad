// The problem a fuzz input decodes to: 1 to 64 variables whose entries may
// be NaN, +-Inf, -0, subnormal, huge or tiny, with crossed, equal and
// one-sided bounds, asymmetric and indefinite H. Shared by the fuzz target
// and the build comparison (bench/compare_builds.cpp), which replays the corpus.
#ifndef KELPIE_FUZZ_PROBLEM_H
#define KELPIE_FUZZ_PROBLEM_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace kelpie_fuzz {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    // A value drawn from a palette of awkward numbers or small integers and fractions.
    double value() {
        const std::uint8_t kind = byte();
        const std::uint8_t arg = byte();
        switch (kind % 16) {
            case 0: return std::nan("");
            case 1: return kInf;
            case 2: return -kInf;
            case 3: return -0.0;
            case 4: return std::numeric_limits<double>::denorm_min() * (arg + 1);
            case 5: return 1e300 * (arg % 2 ? 1 : -1);
            case 6: return 1e-300 * (arg - 128);
            case 7: {  // raw bits
                std::uint64_t bits = 0;
                for (int k = 0; k < 8; ++k) bits = (bits << 8) | byte();
                double d;
                std::memcpy(&d, &bits, sizeof d);
                return d;
            }
            default: return (static_cast<int>(arg) - 128) / static_cast<double>(1 + kind % 4);
        }
    }
};

struct FuzzProblem {
    int n = 0;
    bool asymmetric = false;  // H drawn without symmetry
    bool dominant = false;    // diagonal twice the sum of the rest of its column
    std::vector<double> H, f, lower, upper, x;
};

inline FuzzProblem decode_fuzz_input(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    FuzzProblem q;
    const int n = 1 + in.byte() % 64;
    const std::uint8_t shape = in.byte();
    q.n = n;
    q.asymmetric = (shape & 1) != 0;
    q.dominant = (shape & 2) != 0;
    std::vector<double>& H = q.H;
    std::vector<double>& f = q.f;
    std::vector<double>& lower = q.lower;
    std::vector<double>& upper = q.upper;
    std::vector<double>& x = q.x;
    H.resize(static_cast<std::size_t>(n) * n);
    f.resize(n);
    lower.resize(n);
    upper.resize(n);
    x.resize(n);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i <= j; ++i) {
            const double e = in.value();
            H[i + static_cast<std::size_t>(j) * n] = e;
            // Mostly symmetric; sometimes not.
            H[j + static_cast<std::size_t>(i) * n] = q.asymmetric ? in.value() : e;
        }
    }
    if (q.dominant) {  // diagonal twice the sum of the rest of its column: well-conditioned, positive definite
        for (int j = 0; j < n; ++j) {
            double sum = 1.0;
            for (int i = 0; i < n; ++i) {
                if (i != j) sum += std::fabs(H[i + static_cast<std::size_t>(j) * n]);
            }
            H[j + static_cast<std::size_t>(j) * n] = 2.0 * sum;
        }
    }
    for (int i = 0; i < n; ++i) {
        f[i] = in.value();
        const std::uint8_t kind = in.byte();
        lower[i] = (kind & 1) ? -kInf : in.value();
        upper[i] = (kind & 2) ? kInf : in.value();
        if ((kind & 12) == 4) upper[i] = lower[i];  // equal bounds
        x[i] = in.value();
    }
    return q;
}

}  // namespace kelpie_fuzz

#endif
