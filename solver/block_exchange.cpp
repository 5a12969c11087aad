// Block principal pivoting: the accelerated method's first attempt at a
// proximal subproblem, whose H + rho I is definite on every block.
//
// Each variable is free or held at one of its bounds. With the held ones at
// their bounds, the free ones take the minimiser of q on their block: one
// Newton step from there, with the free-set factor. The point solves the
// problem when no free variable lies outside its bounds and no held one has
// a gradient that points into the box; otherwise every variable on the
// wrong side changes sides at once (Judice and Pires, 1994; Kim and Park,
// 2011, for non-negative least squares). Where that count does not fall,
// exchanges of whole sets can cycle: the attempt ends there, and the main
// loop solves the subproblem from its starting point as before.
//
// On a well-scaled block the exchanges find the free set of the solution in
// a handful of factors where the main loop needs a pass per few variables.
// On a block as ill-conditioned as a proximal one on a least-squares problem
// with a residual, the Newton point of a block near the right one already
// lies far outside the box in hundreds of variables, and the count does not
// fall: the attempt then costs two factors.
#include "block_exchange.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "box_qp_internal.h"
#include "ldl_factor.h"
#include "newton_step.h"
#include "tolerances.h"

namespace kelpie {

namespace {

enum Side : int { kFree = 0, kAtLower = 1, kAtUpper = 2 };

// Whether variable i is on the wrong side at y, with g = H y + f: free but
// outside its bounds, or held where its gradient points into the box by more
// than the rounding a subproblem's solve aims for (kStepTolerance of the size
// of its terms, |f_i| + sum_j |H_ij y_j|, read from column i as H is
// symmetric). Where q has no slope along a held variable at the solution (an
// exact fit), its gradient is rounding of either sign there, and a test of
// the sign alone would exchange it back and forth.
bool on_wrong_side(const Problem& p, int i, int side, const double* y, const double* g) {
    if (side == kFree) return y[i] < p.lower[i] || y[i] > p.upper[i];
    const double inward = side == kAtLower ? -g[i] : g[i];
    if (!(inward > 0)) return false;
    const double* col = column(p, i);
    double size = std::fabs(p.f[i]);
    for (int j = 0; j < p.n; ++j) size = size + std::fabs(col[j] * y[j]);
    return inward > kStepTolerance * size;
}

// The exchanges from the sides in `side`, with y and is_wrong as scratch; on
// success x takes the point found.
bool exchange_sides(const Problem& p, Workspace& ws, double* x, double* y, int* side, int* is_wrong,
                    double start_value) {
    const int n = p.n;
    double* g = ws.iterate.g.get();
    int* is_free = ws.iterate.is_free.get();
    int* list = ws.scratch.index[0].get();       // the members
    double* dir = ws.scratch.direction.get();    // the Newton step of the members
    int fewest_wrong = n + 1;
    for (int exchange = 0; exchange < kMaxExchanges; ++exchange) {
        for (int i = 0; i < n; ++i) {
            if (side[i] == kAtLower) y[i] = p.lower[i];
            if (side[i] == kAtUpper) y[i] = p.upper[i];
            is_free[i] = side[i] == kFree ? 1 : 0;
        }
        compute_gradient(p, y, g);
        if (!all_finite(n, g)) return false;
        if (rebuilding_is_cheaper(n, ws)) clear_factor(n, ws.factor);
        if (update_free_factor(p, ws).kept_out > 0) return false;  // not definite on this block after all
        const int members = list_members(n, ws.factor, -1, list);
        for (int j = 0; j < members; ++j) dir[list[j]] = -g[list[j]];
        solve_with_factor(n, ws.factor.L.get(), ws.factor.D.get(), list, members, dir);
        for (int j = 0; j < members; ++j) y[list[j]] = y[list[j]] + dir[list[j]];
        compute_gradient(p, y, g);
        if (!all_finite(n, y) || !all_finite(n, g)) return false;

        int wrong = 0;
        for (int i = 0; i < n; ++i) {
            is_wrong[i] = on_wrong_side(p, i, side[i], y, g) ? 1 : 0;
            wrong += is_wrong[i];
        }
        if (wrong == 0) {
            // Taken only where it does not raise q above the starting point
            // (rounding could, at a start that was already the solution).
            if (!(doubled_objective(n, y, p.f, g) <= start_value)) return false;
            for (int i = 0; i < n; ++i) x[i] = y[i];
            return true;
        }
        if (wrong >= fewest_wrong) return false;
        fewest_wrong = wrong;
        for (int i = 0; i < n; ++i) {
            if (is_wrong[i] == 0) continue;
            side[i] = side[i] != kFree ? kFree : (y[i] < p.lower[i] ? kAtLower : kAtUpper);
        }
    }
    return false;
}

}  // namespace

bool solve_by_block_exchange(const Problem& p, Workspace& ws, double* x) {
    const int n = p.n;
    const std::size_t count = static_cast<std::size_t>(n);
    HeapArray<double> y(static_cast<double*>(std::malloc(count * sizeof(double))));
    HeapArray<int> side(static_cast<int*>(std::malloc(count * sizeof(int))));
    HeapArray<int> is_wrong(static_cast<int*>(std::malloc(count * sizeof(int))));
    if (!y || !side || !is_wrong) return false;
    for (int i = 0; i < n; ++i) {
        y[i] = x[i];
        side[i] = x[i] <= p.lower[i] ? kAtLower : (x[i] >= p.upper[i] ? kAtUpper : kFree);
    }
    double* g = ws.iterate.g.get();
    compute_gradient(p, x, g);
    const double start_value = doubled_objective(n, x, p.f, g);
    const bool solved = exchange_sides(p, ws, x, y.get(), side.get(), is_wrong.get(), start_value);
    int* is_free = ws.iterate.is_free.get();
    for (int i = 0; i < n; ++i) is_free[i] = (p.lower[i] < x[i] && x[i] < p.upper[i]) ? 1 : 0;
    compute_gradient(p, x, g);
    return solved;
}

}  // namespace kelpie
