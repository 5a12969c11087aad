// Newton direction on the free set, feasible interval and step rule.
#include "newton_step.h"

#include <cmath>
#include <cstddef>

#include "block_solve.h"
#include "triangular_kernels.h"
#include "ldl_factor.h"
#include "projected_search.h"

namespace kelpie {

namespace {

enum class MoveOutcome { kMoved, kNoMove, kUnbounded };

struct Move {
    MoveOutcome outcome;
    // The move was along the null direction of a dependent variable: the
    // gradient still holds on the members and on that variable.
    bool null_direction;
    // ... and it fixed no member of the factor, so the factor holds too.
    bool factor_still_holds;
};

// Solves L diag(D) L' d = r on the members list[0..count); dir holds r at the
// member positions on entry and d on return.
void solve_with_factor(int n, const double* L, const double* D, const int* list, int count, double* dir) {
    substitute_forward(L, n, list, count, [dir, list](int j) -> double& { return dir[list[j]]; });
    for (int j = 0; j < count; ++j) dir[list[j]] = dir[list[j]] / D[list[j]];
    for (int j = count - 2; j >= 0; --j) {
        const int k = list[j];
        const double* col = L + static_cast<std::size_t>(k) * n;
        double value = dir[k];  // held in a register: dir[k] is not among the dir[list[l]] read
        for (int l = j + 1; l < count; ++l) value = value - col[list[l]] * dir[list[l]];
        dir[k] = value;
    }
}

// Ends of the interval of step lengths that keep the support inside the box.
// Ratios are stored once (v upper, z lower) so the update can compare them
// with the step exactly.
void feasible_interval(const Problem& p, const double* x, const double* dir, const int* support, int count,
                       double* v, double* z, double* t_min, double* t_max) {
    *t_min = -kInfiniteStep;
    *t_max = kInfiniteStep;
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

// g . dir over the support, as summed (*raw) and taken as 0 when its terms
// cancel to rounding noise (the return value).
double directional_slope(const double* g, const double* dir, const int* support, int count, double* raw) {
    double slope = 0.0;
    double abs_slope_sum = 0.0;
    for (int q = 0; q < count; ++q) {
        const double term = g[support[q]] * dir[support[q]];
        slope = slope + term;
        abs_slope_sum = abs_slope_sum + std::fabs(term);
    }
    *raw = slope;
    return kSlopeCancellation * abs_slope_sum > std::fabs(slope) ? 0.0 : slope;
}

// An upper estimate of the size of the terms g . dir is made of, however
// much they cancel: sum over the support of |dir_k| (|f_k| + |(Hx)_k|), with
// |H(k, j)| <= sqrt(|H(k, k)| |H(j, j)|) (exact for a semidefinite H) so that
// it costs O(n) rather than a pass over H.
double slope_magnitude(const Problem& p, const double* x, const double* dir, const int* support, int count) {
    double weighted_x = 0.0;
    for (int j = 0; j < p.n; ++j) weighted_x = weighted_x + std::sqrt(std::fabs(column(p, j)[j])) * std::fabs(x[j]);
    double magnitude = 0.0;
    for (int q = 0; q < count; ++q) {
        const int k = support[q];
        magnitude = magnitude + std::fabs(dir[k]) * (std::fabs(p.f[k]) + std::sqrt(std::fabs(column(p, k)[k])) * weighted_x);
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

// On a flat model any feasible step costs nothing; taking one to an end
// fixes a variable and shrinks the free set. The end where the dependent
// variable itself reaches its bound is preferred (the factor then still
// holds), else the nearer end. Returns false when both ends are infinite.
bool choose_flat_end(double t_min, double t_max, double own_lower_ratio, double own_upper_ratio, double* step,
                     int* at_lower_end, int* at_upper_end) {
    const bool own_at_min = own_lower_ratio == t_min && t_min != -kInfiniteStep;
    const bool own_at_max = own_upper_ratio == t_max && t_max != kInfiniteStep;
    bool take_min;
    if (own_at_min != own_at_max) {
        take_min = own_at_min;
    } else {
        if (t_min == -kInfiniteStep && t_max == kInfiniteStep) return false;
        take_min = -t_min <= t_max;
    }
    *step = take_min ? t_min : t_max;
    *at_lower_end = take_min ? 1 : 0;
    *at_upper_end = take_min ? 0 : 1;
    return true;
}

// Moves x along dir, restricted to the variables in candidates[0..count).
// `dependent` is the variable whose null direction dir is, with the curvature
// along it that its solve gave, or -1 for the Newton direction of the members.
Move move_along_direction(const Problem& p, double* x, Workspace& ws, const int* candidates, int count,
                          int dependent_variable, double null_curvature, int* sweep_all) {
    const bool dependent = dependent_variable >= 0;
    const double* dir = ws.scratch.direction.get();
    int* support = ws.scratch.index[1].get();         // the candidates that dir moves
    double* v = ws.scratch.vector[1].get();           // per support position: step to the upper bound
    double* z = ws.scratch.vector[2].get();           // ... and to the lower bound
    double* w = ws.scratch.vector[0].get();           // H dir on the support

    int count_b = 0;
    for (int j = 0; j < count; ++j) {
        if (dir[candidates[j]] != 0) support[count_b++] = candidates[j];
    }
    if (count_b == 0) {
        *sweep_all = 1;
        return {MoveOutcome::kNoMove, false, false};
    }

    double t_min = 0.0;
    double t_max = 0.0;
    feasible_interval(p, x, dir, support, count_b, v, z, &t_min, &t_max);
    double measured_slope = 0.0;
    double slope = directional_slope(ws.iterate.g.get(), dir, support, count_b, &measured_slope);
    double curvature = 0.0;
    if (dependent) {
        // d'Hd along a null direction is the pivot the variable would get in
        // the factor, which its solve has already formed: no pass over H.
        curvature = null_curvature;
    } else {
        multiply_on_support(p, support, count_b, dir, w);
        for (int q = 0; q < count_b; ++q) curvature = curvature + dir[support[q]] * w[support[q]];
    }

    double step = 0.0;
    int at_lower_end = 0;
    int at_upper_end = 0;
    const double measured_curvature = curvature;
    if (dependent) curvature = settle_dependent_curvature(p, dir, support, count_b, curvature);
    if (dependent && curvature == 0 && slope != 0 &&
        std::fabs(slope) <= kDependentSlopeCancellation * slope_magnitude(p, x, dir, support, count_b)) {
        slope = 0.0;
    }
    if (dependent && curvature == 0 && slope == 0) {
        int own = 0;
        while (support[own] != dependent_variable) ++own;
        // dir is +1 at the dependent variable: its lower ratio bounds t_min, its upper t_max.
        if (!choose_flat_end(t_min, t_max, z[own], v[own], &step, &at_lower_end, &at_upper_end)) {
            return {MoveOutcome::kNoMove, false, false};
        }
    } else {
        choose_step(t_min, t_max, slope, curvature, &step, &at_lower_end, &at_upper_end);
    }
    // An infinite end chosen: no bound stops the descent.
    if ((at_lower_end == 1 && step == -kInfiniteStep) || (at_upper_end == 1 && step == kInfiniteStep)) {
        return {MoveOutcome::kUnbounded, false, false};
    }

    // The tolerances above judge a dependent direction flat or linear; the
    // move is taken only where the objective, as measured, does not rise.
    if (dependent && step != 0 && measured_slope * step + 0.5 * measured_curvature * step * step > 0) {
        return {MoveOutcome::kNoMove, false, false};
    }
    for (int q = 0; q < count_b; ++q) {  // a step past the range of doubles cannot be taken
        const int k = support[q];
        if (z[q] != step && v[q] != step && !std::isfinite(x[k] + step * dir[k])) return {MoveOutcome::kUnbounded, false, false};
    }

    *sweep_all = (at_lower_end == 0 && at_upper_end == 0) ? 1 : 0;
    int* is_free = ws.iterate.is_free.get();
    const int* in_factor = ws.factor.in_factor.get();
    bool member_fixed = false;
    for (int q = 0; q < count_b; ++q) {
        const int k = support[q];
        if (z[q] == step) {
            x[k] = p.lower[k];
            is_free[k] = 0;
            member_fixed = member_fixed || in_factor[k] != 0;
        } else if (v[q] == step) {
            x[k] = p.upper[k];
            is_free[k] = 0;
            member_fixed = member_fixed || in_factor[k] != 0;
        } else {
            // The ratios keep every other variable inside its bounds, but for
            // an x_k far larger than its bound the rounding of the move can
            // carry it past that bound: it stops there.
            double moved = x[k] + step * dir[k];
            if (moved < p.lower[k]) {
                moved = p.lower[k];
            } else if (moved > p.upper[k]) {
                moved = p.upper[k];
            }
            x[k] = moved;
        }
    }
    const bool null_direction = dependent && curvature == 0;
    return {MoveOutcome::kMoved, null_direction, null_direction && !member_fixed};
}

// The first free variable from `start` on that the factor kept out, or -1.
int next_dependent_variable(int n, int start, const int* is_free, const int* in_factor) {
    for (int i = start; i < n; ++i) {
        if (is_free[i] != 0 && in_factor[i] == 0) return i;
    }
    return -1;
}

// Solves d_F for up to kAppendBlock dependent variables from `first` on, in
// ascending order, with one pass over L: while the factor holds, a move along
// one null direction changes neither the factor nor the flags of the
// dependent variables after it, so their directions stay valid. Each side
// gets the bits of solve_with_factor.
void solve_dependent_batch(const Problem& p, Workspace& ws, int first, VariableBatch* batch) {
    constexpr int K = kAppendBlock;
    const int* is_free = ws.iterate.is_free.get();
    const int* in_factor = ws.factor.in_factor.get();
    batch->count = 0;
    batch->used = 0;
    for (int i = first; i >= 0 && batch->count < K; i = next_dependent_variable(p.n, i + 1, is_free, in_factor)) {
        batch->variable[batch->count++] = i;
    }
    int* list = ws.scratch.index[0].get();  // the members
    double* W = ws.scratch.block[0].get();  // the batch's directions, side by side
    const int members = list_members(p.n, ws.factor, -1, list);
    gather_sides(p, batch->variable, batch->count, list, members, true, W);
    for (int t = 0; t < K; ++t) batch->curvature[t] = t < batch->count ? column(p, batch->variable[t])[batch->variable[t]] : 0.0;
    solve_block(ws.factor.L.get(), ws.factor.D.get(), p.n, list, members, W, batch->curvature);
}

// Moves x along the null direction d of dependent variable i: d_i = 1 and,
// on the members, d_F = -(H_FF)^-1 H(F, i), so that the free rows of H d stay
// zero. d_F comes from the batch when it holds i next, else from a new batch
// that starts at i.
Move move_dependent_variable(const Problem& p, double* x, Workspace& ws, int i, VariableBatch* batch,
                             int* sweep_all) {
    constexpr int K = kAppendBlock;
    if (batch->used == batch->count || batch->variable[batch->used] != i) solve_dependent_batch(p, ws, i, batch);
    const int side = batch->used++;
    int* candidates = ws.scratch.index[0].get();  // the members and i
    double* dir = ws.scratch.direction.get();
    const double* W = ws.scratch.block[0].get();
    const int count = list_members(p.n, ws.factor, i, candidates);
    for (int q = 0, r = 0; q < count; ++q) {
        const int k = candidates[q];
        dir[k] = k == i ? 1.0 : W[static_cast<std::size_t>(r++) * K + side];
    }
    return move_along_direction(p, x, ws, candidates, count, i, batch->curvature[side], sweep_all);
}

}  // namespace

void newton_direction(int n, const FreeFactor& factor, const int* list, int members, const double* g, double* dir) {
    for (int j = 0; j < members; ++j) dir[list[j]] = -g[list[j]];
    solve_with_factor(n, factor.L.get(), factor.D.get(), list, members, dir);
}

// H is symmetric, so only its lower triangle on the support is read: H(k, r)
// with k > r gives column r's term to w[k] and, as H(r, k), row k's term to w[r].
void multiply_on_support(const Problem& p, const int* support, int count, const double* dir, double* w) {
    for (int q = 0; q < count; ++q) w[support[q]] = 0.0;
    int r = 0;
    for (; r + 4 <= count; r += 4) {  // four columns of the triangle per pass
        const int s0 = support[r], s1 = support[r + 1], s2 = support[r + 2], s3 = support[r + 3];
        const double* h0 = column(p, s0);
        const double* h1 = column(p, s1);
        const double* h2 = column(p, s2);
        const double* h3 = column(p, s3);
        const double d0 = dir[s0], d1 = dir[s1], d2 = dir[s2], d3 = dir[s3];
        // The four rows take the terms of the four columns; their sums then
        // run on over the later rows.
        double a0 = (((w[s0] + h0[s0] * d0) + h0[s1] * d1) + h0[s2] * d2) + h0[s3] * d3;
        double a1 = (((w[s1] + h0[s1] * d0) + h1[s1] * d1) + h1[s2] * d2) + h1[s3] * d3;
        double a2 = (((w[s2] + h0[s2] * d0) + h1[s2] * d1) + h2[s2] * d2) + h2[s3] * d3;
        double a3 = (((w[s3] + h0[s3] * d0) + h1[s3] * d1) + h2[s3] * d2) + h3[s3] * d3;
        for (int q = r + 4; q < count; ++q) {
            const int k = support[q];
            const double e0 = h0[k], e1 = h1[k], e2 = h2[k], e3 = h3[k];
            const double d_k = dir[k];
            w[k] = (((w[k] + e0 * d0) + e1 * d1) + e2 * d2) + e3 * d3;
            a0 = a0 + e0 * d_k;
            a1 = a1 + e1 * d_k;
            a2 = a2 + e2 * d_k;
            a3 = a3 + e3 * d_k;
        }
        w[s0] = a0;
        w[s1] = a1;
        w[s2] = a2;
        w[s3] = a3;
    }
    for (; r < count; ++r) {
        const int s = support[r];
        const double* col = column(p, s);
        const double d_r = dir[s];
        double a = w[s] + col[s] * d_r;
        for (int q = r + 1; q < count; ++q) {
            const int k = support[q];
            w[k] = w[k] + col[k] * d_r;
            a = a + col[k] * dir[k];
        }
        w[s] = a;
    }
}

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

NewtonOutcome newton_stage(const Problem& p, double* x, Workspace& ws, int* sweep_all, FactorChanges* changes,
                           bool projected_search) {
    // Dependent variables first, each along its own direction, for as long as
    // the factor still holds; then the Newton step of the members. A move
    // along a null direction that puts members on a bound costs nothing and
    // leaves the gradient of the members and of the moved variable as it was,
    // so the factor trades those members for that variable here and the
    // Newton step follows at once, instead of a pass of the main loop later;
    // the other dependent variables wait for the next Newton phase.
    VariableBatch batch{{}, 0, 0, {}};
    const int* is_free = ws.iterate.is_free.get();
    const int* in_factor = ws.factor.in_factor.get();
    for (int i = next_dependent_variable(p.n, 0, is_free, in_factor); i >= 0;
         i = next_dependent_variable(p.n, i + 1, is_free, in_factor)) {
        const Move move = move_dependent_variable(p, x, ws, i, &batch, sweep_all);
        if (move.outcome == MoveOutcome::kUnbounded) return NewtonOutcome::kUnbounded;
        if (move.outcome != MoveOutcome::kMoved || move.factor_still_holds) continue;
        if (!move.null_direction) return NewtonOutcome::kDone;
        const FactorChanges exchanged = exchange_for_dependent(p, ws, i);
        if (changes != nullptr) {
            changes->left += exchanged.left;
            changes->entered += exchanged.entered;
        }
        break;
    }
    int* list = ws.scratch.index[0].get();  // the members
    double* dir = ws.scratch.direction.get();
    const double* g = ws.iterate.g.get();
    const int members = list_members(p.n, ws.factor, -1, list);
    newton_direction(p.n, ws.factor, list, members, g, dir);
    if (projected_search && take_projected_step(p, x, ws, list, members, sweep_all)) return NewtonOutcome::kDone;
    const Move move = move_along_direction(p, x, ws, list, members, -1, 0.0, sweep_all);
    return move.outcome == MoveOutcome::kUnbounded ? NewtonOutcome::kUnbounded : NewtonOutcome::kDone;
}

}  // namespace kelpie
