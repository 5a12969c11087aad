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
    int* support = ws.scratch.index[1].get();     // the members that dir moves
    int* cut = ws.scratch.index[2].get();         // the support positions the path clips at t
    double* cut_back = ws.scratch.vector[1].get(); // per clipped position: t d_k - (x(t) - x)_k
    double* step = ws.scratch.vector[2].get();    // x(t) - x, by variable
    double* H_step = ws.scratch.vector[3].get();  // H (x(t) - x) on the support, by variable
    int support_count = 0;
    for (int j = 0; j < count; ++j) {
        if (dir[members[j]] != 0) support[support_count++] = members[j];
    }
    // x(t) - x = t d - r, with r non-zero only where the path is clipped, so
    // its curvature is t^2 d'Hd - 2 t r'Hd + r'Hr: per t only the terms of the
    // clipped variables (while they are few enough for that to cost less than
    // a product with x(t) - x). d is the Newton direction of the members, the
    // solution of H_FF d = -g_F with the factor, so H d on the support is -g
    // there, to the accuracy of that solve: no product with H is needed for
    // d'Hd and r'Hd.
    double dHd = 0.0;
    for (int q = 0; q < support_count; ++q) dHd = dHd - dir[support[q]] * g[support[q]];
    double t = 1.0;
    for (int halving = 0; halving <= kMaxHalvings; ++halving, t = 0.5 * t) {
        int cut_count = 0;
        double slope = 0.0;
        for (int q = 0; q < support_count; ++q) {
            const int k = support[q];
            bool on_bound = false;
            const double step = clipped(p, k, x[k], t, dir[k], &on_bound) - x[k];
            if (on_bound) {
                cut_back[cut_count] = t * dir[k] - step;
                cut[cut_count++] = k;
            }
            slope = slope + g[k] * step;
        }
        // Short of the first bound the path is the straight line, where the
        // described rule finds the exact minimiser: leave it to that rule.
        if (cut_count == 0) return false;
        if (!(slope < 0)) continue;
        double curvature = 0.0;
        if (2 * cut_count * cut_count < support_count * support_count) {
            double rHd = 0.0;
            double rHr = 0.0;
            for (int a = 0; a < cut_count; ++a) {
                const double* h = column(p, cut[a]);
                double row = 0.0;
                for (int b = 0; b < cut_count; ++b) row = row + h[cut[b]] * cut_back[b];
                rHd = rHd - cut_back[a] * g[cut[a]];
                rHr = rHr + cut_back[a] * row;
            }
            curvature = (t * t) * dHd - 2.0 * t * rHd + rHr;
        } else {  // most of the path clipped: the product with the step itself is cheaper
            for (int q = 0; q < support_count; ++q) {
                const int k = support[q];
                bool on_bound = false;
                step[k] = clipped(p, k, x[k], t, dir[k], &on_bound) - x[k];
            }
            multiply_on_support(p, support, support_count, step, H_step);
            for (int q = 0; q < support_count; ++q) curvature = curvature + step[support[q]] * H_step[support[q]];
        }
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
