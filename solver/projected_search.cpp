#include "projected_search.h"

#include "newton_step.h"
#include "tolerances.h"

namespace kelpie {

namespace {

// x_k + t d_k clipped to the bounds of k; *on_bound tells whether it was clipped.
double clipped(const Problem& p, int k, double x_k, double t, double d_k, bool* on_bound) {
    const double moved = x_k + t * d_k;
    if (moved <= p.lower[k]) {
        *on_bound = true;
        return p.lower[k];
    }
    if (moved >= p.upper[k]) {
        *on_bound = true;
        return p.upper[k];
    }
    *on_bound = false;
    return moved;
}

}  // namespace

bool take_projected_step(const Problem& p, double* x, Workspace& ws, const int* members, int count, int* sweep_all) {
    const double* dir = ws.scratch.direction.get();
    const double* g = ws.iterate.g.get();
    int* support = ws.scratch.index[1].get();      // the members that dir moves
    double* step = ws.scratch.vector[1].get();     // x(t) - x, by variable
    double* H_step = ws.scratch.vector[0].get();   // H (x(t) - x) on the support, by variable
    int support_count = 0;
    for (int j = 0; j < count; ++j) {
        if (dir[members[j]] != 0) support[support_count++] = members[j];
    }
    double t = 1.0;
    for (int halving = 0; halving <= kMaxHalvings; ++halving, t = 0.5 * t) {
        bool any_on_bound = false;
        double slope = 0.0;
        for (int q = 0; q < support_count; ++q) {
            const int k = support[q];
            bool on_bound = false;
            step[k] = clipped(p, k, x[k], t, dir[k], &on_bound) - x[k];
            any_on_bound = any_on_bound || on_bound;
            slope = slope + g[k] * step[k];
        }
        // Short of the first bound the path is the straight line, where the
        // described rule finds the exact minimiser: leave it to that rule.
        if (!any_on_bound) return false;
        if (!(slope < 0)) continue;
        multiply_on_support(p, support, support_count, step, H_step);
        double curvature = 0.0;
        for (int q = 0; q < support_count; ++q) curvature = curvature + step[support[q]] * H_step[support[q]];
        const double change = slope + 0.5 * curvature;
        if (!(change <= kSufficientDecrease * slope)) continue;
        int* is_free = ws.iterate.is_free.get();
        for (int q = 0; q < support_count; ++q) {
            const int k = support[q];
            bool on_bound = false;
            x[k] = clipped(p, k, x[k], t, dir[k], &on_bound);
            if (on_bound) is_free[k] = 0;
        }
        *sweep_all = 0;
        return true;
    }
    return false;
}

}  // namespace kelpie
