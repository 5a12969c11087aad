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

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "box_qp_internal.h"
#include "factor_from_scratch.h"
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

// Marks the variables on the wrong side at y; returns their number.
int mark_wrong_sides(const Problem& p, const int* side, const double* y, const double* g, int* is_wrong) {
    int wrong = 0;
    for (int i = 0; i < p.n; ++i) {
        is_wrong[i] = on_wrong_side(p, i, side[i], y, g) ? 1 : 0;
        wrong += is_wrong[i];
    }
    return wrong;
}

// The exchanges from the sides in `side`, from y = x with g = H x + f, with
// y and is_wrong as scratch; on success x takes the point found. Between
// exchanges g follows y by the columns of the variables that moved (n times
// the members, plus n per variable put on a bound, rather than a product
// with all of H); a count of zero is confirmed from scratch.
bool exchange_sides(const Problem& p, Workspace& ws, double* x, double* y, int* side, int* is_wrong,
                    double start_value) {
    const int n = p.n;
    double* g = ws.iterate.g.get();
    int* is_free = ws.iterate.is_free.get();
    int* list = ws.scratch.index[0].get();       // the members
    double* dir = ws.scratch.direction.get();    // the Newton step of the members
    int fewest_wrong = n + 1;
    for (int exchange = 0; exchange < kMaxExchanges; ++exchange) {
        for (int i = 0; i < n; ++i) is_free[i] = side[i] == kFree ? 1 : 0;
        if (rebuilding_is_cheaper(n, ws)) clear_factor(n, ws.factor);
        if (update_or_build_free_factor(p, ws).kept_out > 0) return false;  // not definite on this block after all
        const int members = list_members(n, ws.factor, -1, list);
        newton_direction(n, ws.factor, list, members, g, dir);
        for (int j = 0; j < members; ++j) {
            y[list[j]] = y[list[j]] + dir[list[j]];
            add_column(p, list[j], dir[list[j]], g);
        }
        if (!all_finite(n, y) || !all_finite(n, g)) return false;

        int wrong = mark_wrong_sides(p, side, y, g, is_wrong);
        if (wrong == 0) {
            // The verdict from a gradient from scratch, after one step of
            // refinement with it: the Newton point then carries the rounding
            // of one solve, not that of the updates.
            compute_gradient(p, y, g);
            newton_direction(n, ws.factor, list, members, g, dir);
            for (int j = 0; j < members; ++j) y[list[j]] = y[list[j]] + dir[list[j]];
            compute_gradient(p, y, g);
            if (!all_finite(n, y) || !all_finite(n, g)) return false;
            wrong = mark_wrong_sides(p, side, y, g, is_wrong);
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
            if (side[i] != kFree) {
                side[i] = kFree;
                continue;
            }
            side[i] = y[i] < p.lower[i] ? kAtLower : kAtUpper;
            const double bound = side[i] == kAtLower ? p.lower[i] : p.upper[i];
            add_column(p, i, bound - y[i], g);
            y[i] = bound;
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
    int* is_free = ws.iterate.is_free.get();
    // With every variable free, the first Newton point is the unconstrained
    // minimiser of a proximal problem, which along the null space of a
    // singular H lies 1/rho times the gradient away: nearly every variable
    // would land outside its bounds (all but one of 2000 on `rank n/4`).
    const bool some_held = std::find_if(side.get(), side.get() + n, [](int s) { return s != kFree; }) != side.get() + n;
    bool solved = false;
    if (some_held) {
        double* g = ws.iterate.g.get();
        compute_gradient(p, x, g);
        const double start_value = doubled_objective(n, x, p.f, g);
        solved = exchange_sides(p, ws, x, y.get(), side.get(), is_wrong.get(), start_value);
    }
    for (int i = 0; i < n; ++i) is_free[i] = (p.lower[i] < x[i] && x[i] < p.upper[i]) ? 1 : 0;
    return solved;
}

}  // namespace kelpie
