// Newton direction on the free set, feasible interval and step rule.
#include "newton_step.h"

#include <cmath>
#include <cstddef>

#include "ldl_factor.h"

namespace kelpie {

namespace {

enum class MoveOutcome { kMoved, kNoMove, kUnbounded };

// Along the direction d of a dependent variable, d'Hd is zero only to within
// the pivot tolerance eps, so a problem that is bounded along d (f in the
// range of H) still shows a slope of up to about sqrt(eps) times the size of
// the terms that make up g . d (for H = A'A: |g . d| <= |Ax - b| |A d|).
// Only a slope above that is evidence that the objective falls without limit.
constexpr double kDependentSlopeCancellation = 1e-5;  // the square root of kPivotTolerance

// The members of the factor in ascending order; returns their number.
int list_members(int n, const int* in_factor, int extra, int* list) {
    int count = 0;
    for (int k = 0; k < n; ++k) {
        if (in_factor[k] != 0 || k == extra) list[count++] = k;
    }
    return count;
}

// Solves L diag(D) L' d = r on the members list[0..count); dir holds r at the
// member positions on entry and d on return. The forward substitution walks
// each column of L once; every dir[k] still receives its subtractions in
// ascending member order.
void solve_with_factor(int n, const double* L, const double* D, const int* list, int count, double* dir) {
#ifdef KELPIE_ROW_ORDER
    for (int j = 0; j < count; ++j) {
        const int k = list[j];
        for (int l = 0; l < j; ++l) dir[k] = dir[k] - L[k + static_cast<std::size_t>(list[l]) * n] * dir[list[l]];
    }
#else
    for (int l = 0; l < count; ++l) {
        const double* col = L + static_cast<std::size_t>(list[l]) * n;
        const double d_l = dir[list[l]];
        for (int j = l + 1; j < count; ++j) dir[list[j]] = dir[list[j]] - col[list[j]] * d_l;
    }
#endif
    for (int j = 0; j < count; ++j) dir[list[j]] = dir[list[j]] / D[list[j]];
    for (int j = count - 2; j >= 0; --j) {
        const int k = list[j];
        const double* col = L + static_cast<std::size_t>(k) * n;
        for (int l = j + 1; l < count; ++l) dir[k] = dir[k] - col[list[l]] * dir[list[l]];
    }
}

// w[k] = sum over the support of H(k, i) dir[i], for k in the support. Walks
// the columns of H; each w[k] still sums in ascending support order.
void multiply_on_support(const Problem& p, const int* support, int count, const double* dir, double* w) {
    for (int q = 0; q < count; ++q) w[support[q]] = 0.0;
#ifdef KELPIE_ROW_ORDER
    for (int q = 0; q < count; ++q) {
        const int k = support[q];
        for (int r = 0; r < count; ++r) w[k] = w[k] + p.H[k + static_cast<std::size_t>(support[r]) * p.n] * dir[support[r]];
    }
#else
    for (int r = 0; r < count; ++r) {
        const double* col = column(p, support[r]);
        const double d_r = dir[support[r]];
        for (int q = 0; q < count; ++q) w[support[q]] = w[support[q]] + col[support[q]] * d_r;
    }
#endif
}

// Ends of the interval of step lengths that keep the support inside the box.
// Ratios are stored once (v upper, z lower) so the update can compare them
// with the step exactly.
void feasible_interval(const Problem& p, const double* x, const double* dir, const int* support, int count,
                       double* v, double* z, double* t_min, double* t_max) {
    *t_min = -kSentinel;
    *t_max = kSentinel;
    for (int q = 0; q < count; ++q) {
        const int k = support[q];
        v[q] = (p.upper[k] - x[k]) / dir[k];
        z[q] = (p.lower[k] - x[k]) / dir[k];
        if (dir[k] > 0) {
            if (z[q] > *t_min) *t_min = z[q];
            if (v[q] < *t_max) *t_max = v[q];
        } else {
            if (v[q] > *t_min) *t_min = v[q];
            if (z[q] < *t_max) *t_max = z[q];
        }
    }
}

// g . dir over the support, taken as 0 when its terms cancel to rounding noise.
double directional_slope(const double* g, const double* dir, const int* support, int count) {
    double slope = 0.0;
    double abs_slope_sum = 0.0;
    for (int q = 0; q < count; ++q) {
        const double term = g[support[q]] * dir[support[q]];
        slope = slope + term;
        abs_slope_sum = abs_slope_sum + std::fabs(term);
    }
    if (kSlopeCancellation * abs_slope_sum > std::fabs(slope)) slope = 0.0;
    return slope;
}

// sum over the support of |dir_k| (|f_k| + sum_j |H(k, j) x_j|): the size of
// the terms that g . dir is made of, however much they cancel.
double slope_magnitude(const Problem& p, const double* x, const double* dir, const int* support, int count) {
    double magnitude = 0.0;
    for (int q = 0; q < count; ++q) {
        const int k = support[q];
        const double* h = column(p, k);  // row k, H being symmetric
        double row = std::fabs(p.f[k]);
        for (int j = 0; j < p.n; ++j) row = row + std::fabs(h[j] * x[j]);
        magnitude = magnitude + std::fabs(dir[k]) * row;
    }
    return magnitude;
}

// Along the direction of a variable kept out of the factor the curvature is,
// to working accuracy, 0 (that is why it was kept out); noise of either sign
// must not turn a flat direction into a huge step or a false negative one.
double settle_dependent_curvature(const Problem& p, const double* dir, const int* support, int count,
                                  double curvature) {
    double scale = 0.0;
    for (int q = 0; q < count; ++q) {
        const int k = support[q];
        scale = scale + dir[k] * dir[k] * std::fabs(column(p, k)[k]);
    }
    return std::fabs(curvature) <= kPivotTolerance * scale ? 0.0 : curvature;
}

// Moves x along dir, restricted to the variables in candidates[0..count).
// For a dependent direction on a flat model the step goes to the nearer
// bound, which fixes a variable at no cost and shrinks the free set.
MoveOutcome move_along_direction(const Problem& p, double* x, Workspace& ws, const int* candidates, int count,
                                 bool dependent, int* sweep_all) {
    const double* dir = ws.dir.get();
    int* support = ws.list_b.get();
    double* v = ws.v.get();
    double* z = ws.z.get();
    double* w = ws.w.get();

    int count_b = 0;
    for (int j = 0; j < count; ++j) {
        if (dir[candidates[j]] != 0) support[count_b++] = candidates[j];
    }
    if (count_b == 0) {
        *sweep_all = 1;
        return MoveOutcome::kNoMove;
    }

    double t_min = 0.0;
    double t_max = 0.0;
    feasible_interval(p, x, dir, support, count_b, v, z, &t_min, &t_max);
    double slope = directional_slope(ws.g.get(), dir, support, count_b);
    if (dependent && std::fabs(slope) <= kDependentSlopeCancellation * slope_magnitude(p, x, dir, support, count_b)) {
        slope = 0.0;
    }
    multiply_on_support(p, support, count_b, dir, w);
    double curvature = 0.0;
    for (int q = 0; q < count_b; ++q) curvature = curvature + dir[support[q]] * w[support[q]];

    double step = 0.0;
    int at_lower_end = 0;
    int at_upper_end = 0;
    if (dependent) curvature = settle_dependent_curvature(p, dir, support, count_b, curvature);
    if (dependent && curvature == 0 && slope == 0) {
        if (t_min == -kSentinel && t_max == kSentinel) return MoveOutcome::kNoMove;
        if (-t_min <= t_max) {
            step = t_min;
            at_lower_end = 1;
        } else {
            step = t_max;
            at_upper_end = 1;
        }
    } else {
        choose_step(t_min, t_max, slope, curvature, &step, &at_lower_end, &at_upper_end);
    }
    // An infinite end chosen: no bound stops the descent.
    if ((at_lower_end == 1 && step == -kSentinel) || (at_upper_end == 1 && step == kSentinel)) {
        return MoveOutcome::kUnbounded;
    }

    *sweep_all = (at_lower_end == 0 && at_upper_end == 0) ? 1 : 0;
    int* is_free = ws.is_free.get();
    for (int q = 0; q < count_b; ++q) {
        const int k = support[q];
        if (z[q] == step) {
            x[k] = p.lower[k];
            is_free[k] = 0;
        } else if (v[q] == step) {
            x[k] = p.upper[k];
            is_free[k] = 0;
        } else {
            x[k] = x[k] + step * dir[k];
        }
    }
    return MoveOutcome::kMoved;
}

// The first free variable that the factor kept out, or -1.
int first_dependent_variable(int n, const int* is_free, const int* in_factor) {
    for (int i = 0; i < n; ++i) {
        if (is_free[i] != 0 && in_factor[i] == 0) return i;
    }
    return -1;
}

// Direction that moves dependent variable i by 1 and the members so that the
// free rows of H d stay zero: d_F = -(H_FF)^-1 H(F, i), d_i = 1.
MoveOutcome move_dependent_variable(const Problem& p, double* x, Workspace& ws, int i, int* sweep_all) {
    int* list = ws.list_a.get();
    double* dir = ws.dir.get();
    const double* h = column(p, i);
    const int members = list_members(p.n, ws.in_factor.get(), -1, list);
    for (int j = 0; j < members; ++j) dir[list[j]] = -h[list[j]];
    solve_with_factor(p.n, ws.L.get(), ws.D.get(), list, members, dir);
    dir[i] = 1.0;
    const int count = list_members(p.n, ws.in_factor.get(), i, list);
    return move_along_direction(p, x, ws, list, count, true, sweep_all);
}

}  // namespace

void choose_step(double t_min, double t_max, double slope, double curvature, double* step, int* at_lower_end,
                 int* at_upper_end) {
    *at_lower_end = 0;
    *at_upper_end = 0;
    if ((!std::isfinite(-t_min) && (curvature < 0 || (curvature == 0 && slope > 0))) ||
        (!std::isfinite(t_max) && (curvature < 0 || (curvature == 0 && slope < 0)))) {
        *at_lower_end = 1;
        *step = 0.0;
        return;
    }
    if (curvature == 0 && slope == 0) {
        *step = 0.0;
        return;
    }
    if (curvature < 0) {
        if (2.0 * slope + curvature * (t_min + t_max) > 0) {
            *at_lower_end = 1;
        } else {
            *at_upper_end = 1;
        }
    } else {
        *step = -slope / curvature;
        if (t_min >= *step) {
            *at_lower_end = 1;
            *at_upper_end = 0;
        }
        if (t_max <= *step) {
            *at_lower_end = 0;
            *at_upper_end = 1;
        }
    }
    if (*at_lower_end == 1) *step = t_min;
    if (*at_upper_end == 1) *step = t_max;
}

NewtonOutcome newton_stage(const Problem& p, double* x, Workspace& ws, int* sweep_all) {
    const int dependent = first_dependent_variable(p.n, ws.is_free.get(), ws.in_factor.get());
    if (dependent >= 0) {
        const MoveOutcome outcome = move_dependent_variable(p, x, ws, dependent, sweep_all);
        if (outcome == MoveOutcome::kUnbounded) return NewtonOutcome::kUnbounded;
        if (outcome == MoveOutcome::kMoved) return NewtonOutcome::kDone;
    }
    int* list = ws.list_a.get();
    double* dir = ws.dir.get();
    const double* g = ws.g.get();
    const int members = list_members(p.n, ws.in_factor.get(), -1, list);
    for (int j = 0; j < members; ++j) dir[list[j]] = -g[list[j]];
    solve_with_factor(p.n, ws.L.get(), ws.D.get(), list, members, dir);
    const MoveOutcome outcome = move_along_direction(p, x, ws, list, members, false, sweep_all);
    return outcome == MoveOutcome::kUnbounded ? NewtonOutcome::kUnbounded : NewtonOutcome::kDone;
}

}  // namespace kelpie
