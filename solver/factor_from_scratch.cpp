#include "factor_from_scratch.h"

#include <cmath>
#include <cstddef>

#include "blas.h"
#include "tolerances.h"

namespace kelpie {

bool build_factor_from_scratch(const Problem& p, Workspace& ws, FactorChanges* changes) {
    const int n = p.n;
    FreeFactor& factor = ws.factor;
    int* members = ws.scratch.index[1].get();
    int k = 0;
    for (int i = 0; i < n; ++i) {
        if (factor.in_factor[i] != 0) return false;
        if (ws.iterate.is_free[i] != 0) members[k++] = i;
    }
    if (k < kSmallestBlockBuild) return false;
    // The block goes into the front of L as a k x k array (leading dimension
    // k), lower triangle only, and comes out of dpotrf as C there.
    double* L = factor.L.get();
    const std::size_t ld = static_cast<std::size_t>(k);
    for (int b = 0; b < k; ++b) {
        const double* h = column(p, members[b]);
        double* c = L + b * ld;
        for (int a = b; a < k; ++a) c[a] = h[members[a]];
    }
    const blas_int order = k;
    blas_int info = 0;
    KELPIE_BLAS(dpotrf)("L", &order, L, &order, &info);
    if (info != 0) return false;
    for (int b = 0; b < k; ++b) {
        double* c = L + b * ld;
        const double diagonal = c[b];
        const double pivot = diagonal * diagonal;
        const int i = members[b];
        if (!(pivot > kPivotTolerance * std::fabs(column(p, i)[i]))) return false;
        factor.D[i] = pivot;
        for (int a = b + 1; a < k; ++a) c[a] = c[a] / diagonal;
    }
    // Out to the places by variable number, last entry first: entry (a, b)
    // moves from a + b k to members[a] + members[b] n, never before its own
    // place, so no entry still to move is overwritten.
    const std::size_t stride = static_cast<std::size_t>(n);
    for (int b = k - 1; b >= 0; --b) {
        double* target = L + static_cast<std::size_t>(members[b]) * stride;
        const double* source = L + b * ld;
        for (int a = k - 1; a > b; --a) target[members[a]] = source[a];
    }
    for (int b = 0; b < k; ++b) {
        factor.in_factor[members[b]] = 1;
        factor.kept_out[members[b]] = 0;
    }
    *changes = {0, k, 0, 1};
    return true;
}

FactorChanges update_or_build_free_factor(const Problem& p, Workspace& ws, Additions additions) {
    FactorChanges changes{0, 0, 0};
    if (build_factor_from_scratch(p, ws, &changes)) return changes;
    return update_free_factor(p, ws, additions);
}

}  // namespace kelpie
