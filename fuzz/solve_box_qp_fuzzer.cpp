// libFuzzer target for solve_box_qp. The input bytes decode to a problem of
// 1 to 64 variables whose entries may be NaN, +-Inf, -0, subnormal, huge or
// tiny, with crossed, equal and one-sided bounds, asymmetric and indefinite H.
// Checked on every input:
//  - the result is 0, 99, -2 or -3, and H, f and the bounds are unchanged;
//  - -2 exactly when the box holds no point, and then nothing is written;
//  - with 0 or 99 and finite data: x is finite and in the box, and the
//    multipliers are finite and non-negative;
//  - with 0, a symmetric H and finite data: the first-order test behind
//    result 0 holds;
//  - with 0 and a diagonally dominant H (positive definite) with finite data:
//    the KKT residual, in the scale of the objective, is small.
// Sanitizers (address, undefined) report memory and arithmetic faults, and
// libFuzzer's -timeout catches an input that does not terminate.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "box_qp.h"
#include "fuzz_problem.h"

namespace {

using kelpie_fuzz::kInf;

bool all_finite(const std::vector<double>& v) {
    for (double e : v) {
        if (!std::isfinite(e)) return false;
    }
    return true;
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelpie_fuzz::FuzzProblem q = kelpie_fuzz::decode_fuzz_input(data, size);
    const int n = q.n;
    const std::uint8_t shape = (q.asymmetric ? 1 : 0) | (q.dominant ? 2 : 0);
    const bool dominant = q.dominant;
    std::vector<double> H = q.H, f = q.f, lower = q.lower, upper = q.upper, x = q.x;
    const std::vector<double> H0 = H, f0 = f, lower0 = lower, upper0 = upper, x_start = x;
    std::vector<double> lambda_lower(n, 0.0), lambda_upper(n, 0.0);
    const int result = solve_box_qp(n, H.data(), f.data(), lower.data(), upper.data(), x.data(), lambda_lower.data(),
                                    lambda_upper.data());

    check(result == 0 || result == 99 || result == -2 || result == -3);
    check(std::memcmp(H.data(), H0.data(), H.size() * sizeof(double)) == 0);
    check(std::memcmp(f.data(), f0.data(), f.size() * sizeof(double)) == 0);
    check(std::memcmp(lower.data(), lower0.data(), lower.size() * sizeof(double)) == 0);
    check(std::memcmp(upper.data(), upper0.data(), upper.size() * sizeof(double)) == 0);

    bool feasible = true;
    for (int i = 0; i < n; ++i) feasible = feasible && lower[i] <= upper[i] && lower[i] != kInf && upper[i] != -kInf;
    check((result == -2) == !feasible);
    if (result == -2) {
        check(std::memcmp(x.data(), x_start.data(), x.size() * sizeof(double)) == 0);
        for (int i = 0; i < n; ++i) check(lambda_lower[i] == 0 && lambda_upper[i] == 0);
        return 0;
    }
    const bool finite_data = all_finite(H) && all_finite(f) && all_finite(x_start);
    if (!finite_data) return 0;
    if (result == 0 || result == 99 || result == -3) {
        for (int i = 0; i < n; ++i) check(std::isfinite(x[i]) && x[i] >= lower[i] && x[i] <= upper[i]);
    }
    if (result == 0 || result == 99) {
        for (int i = 0; i < n; ++i) {
            check(std::isfinite(lambda_lower[i]) && lambda_lower[i] >= 0);
            check(std::isfinite(lambda_upper[i]) && lambda_upper[i] >= 0);
        }
    }
    if (result == 0 && !(shape & 1)) {
        // Result 0 is a promise: every entry of the projected gradient is
        // small against the terms of its row (with a margin for the other
        // order of summation here).
        for (int i = 0; i < n; ++i) {
            double g = f[i], terms = std::fabs(f[i]);
            for (int j = 0; j < n; ++j) {
                g += H[i + static_cast<std::size_t>(j) * n] * x[j];
                terms += std::fabs(H[i + static_cast<std::size_t>(j) * n] * x[j]);
            }
            if (!std::isfinite(terms) || lower[i] == upper[i]) continue;
            const double pg = x[i] <= lower[i] ? std::fmin(g, 0.0) : (x[i] >= upper[i] ? std::fmax(g, 0.0) : g);
            check(std::fabs(pg) <= 1e-8 * terms + 1e-300);
        }
    }
    if (result == 0 && dominant && !(shape & 1)) {
        // The KKT residual in the scale of the objective: each coordinate's
        // projected Newton step p_i (from g_i / H_ii) would lower the
        // objective by about H_ii p_i^2 / 2, so sqrt(H_ii) |p_i| must be small
        // against the square root of the size of the objective's terms. This
        // judges H of 1e300 with x of 1e-300 like H and x of 1.
        double objective_terms = 1.0;
        std::vector<double> g(n), h(n);
        for (int i = 0; i < n; ++i) {
            double terms = std::fabs(f[i]);
            g[i] = f[i];
            for (int j = 0; j < n; ++j) {
                g[i] += H[i + static_cast<std::size_t>(j) * n] * x[j];
                terms += std::fabs(H[i + static_cast<std::size_t>(j) * n] * x[j]);
            }
            objective_terms += std::fabs(x[i]) * terms;
            h[i] = H[i + static_cast<std::size_t>(i) * n];
        }
        if (!std::isfinite(objective_terms)) return 0;  // the objective overflows: nothing to compare
        for (int i = 0; i < n; ++i) {
            const double step = x[i] - std::fmin(std::fmax(x[i] - g[i] / h[i], lower[i]), upper[i]);
            check(std::sqrt(h[i]) * std::fabs(step) <= 1e-6 * std::sqrt(objective_terms));
        }
    }
    return 0;
}
