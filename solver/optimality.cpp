#include "optimality.h"

#include <cfloat>
#include <cmath>

namespace kelpie {

namespace {

double projected_gradient_entry(const Problem& p, int i, double x_i, double g_i) {
    if (p.lower[i] == p.upper[i]) return 0.0;
    if (x_i <= p.lower[i]) return g_i < 0 ? g_i : 0.0;
    if (x_i >= p.upper[i]) return g_i > 0 ? g_i : 0.0;
    return g_i;
}

}  // namespace

double first_order_residual(const Problem& p, const double* x, const double* g, double* term_sizes) {
    const int n = p.n;
    bool any = false;
    for (int i = 0; i < n && !any; ++i) any = projected_gradient_entry(p, i, x[i], g[i]) != 0;
    if (!any) return 0.0;
    for (int i = 0; i < n; ++i) term_sizes[i] = std::fabs(p.f[i]);
    for (int j = 0; j < n; ++j) {
        const double size_j = std::fabs(x[j]);
        if (size_j == 0) continue;
        const double* col = column(p, j);
        for (int i = 0; i < n; ++i) term_sizes[i] = term_sizes[i] + std::fabs(col[i]) * size_j;
    }
    double largest = 0.0;
    for (int i = 0; i < n; ++i) {
        const double entry = std::fabs(projected_gradient_entry(p, i, x[i], g[i]));
        if (entry == 0) continue;
        const double relative = entry / (term_sizes[i] > DBL_MIN ? term_sizes[i] : DBL_MIN);
        if (!(relative <= largest)) largest = relative;  // a NaN is kept: it fails every test
    }
    return largest;
}

bool passes_optimality_test(const Problem& p, const double* x, const double* g, double tolerance,
                            double* term_sizes) {
    // |f_i| + |H_ii x_i| is one part of the terms of row i: where every
    // entry passes against it, the whole sum is not needed.
    bool settled = true;
    for (int i = 0; i < p.n && settled; ++i) {
        const double entry = std::fabs(projected_gradient_entry(p, i, x[i], g[i]));
        settled = entry <= tolerance * (std::fabs(p.f[i]) + std::fabs(column(p, i)[i] * x[i]));
    }
    return settled || first_order_residual(p, x, g, term_sizes) <= tolerance;
}

}  // namespace kelpie
