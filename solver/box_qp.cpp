// The driver of solve_box_qp and the coordinate sweep.
//
// The method, minimising q(x) = 1/2 x'Hx + f'x on the box l <= x <= u:
//
// Main loop. Each pass computes g = Hx + f from scratch, then
//  1. a coordinate sweep: for j = 0, 1, ..., n-1, 0, ... x_j takes its
//     one-variable Newton step -g_j / H_jj clipped to its bounds (the nearer
//     end when H_jj < 0) and g is kept by g += step * H(:, j); the sweep ends
//     after n visits in a row that put no variable onto a bound. A full sweep
//     visits every variable; after a Newton step that ended inside the box,
//     only the free ones. A variable is free when the sweep leaves it
//     strictly inside its bounds.
//  2. a Newton phase on the free set F: the factor L D L' of H_FF is brought
//     in step with F (update_free_factor), the Newton direction d_F =
//     -H_FF^-1 g_F is solved with it, and x moves along d to the minimiser of
//     q on the segment of feasible step lengths (choose_step), fixing every
//     variable that the step puts on a bound.
// The stop rules (stop_rules.h) end a run: a full sweep that no longer lowers
// q, or four full sweeps in a row that leave the free count unchanged; so do
// 2n Newton phases. A run ends with result 0 only where x passes the
// optimality test (optimality.h); elsewhere it resumes from x a few times.
//
// The factor (ldl_factor.cpp). Members leave by a rank-one update of the later
// block and enter by a bordered addition with a rank-one downdate; a pivot
// below kPivotTolerance of |H_ii|, its own or a later member's, keeps the
// variable out. The members are then a subset of F whose block is safely
// definite.
//
// Free variables the factor cannot take (H_FF singular, nearly singular or
// indefinite to working accuracy), and runs that keep stopping at points
// that fail the test, hand over to proximal point steps (proximal_steps.cpp):
// each solves the problem with H + rho I and f - rho x_k by this same main
// loop, on a block the factor always takes; for convex q they converge to a
// minimiser and never raise q. Inside those steps, on an indefinite H, a free
// variable kept out moves along its null direction (newton_step.cpp).
//
// The accelerated method follows the Newton step along the projected path
// clip(x + t d) with an Armijo rule (projected_search.cpp) once Newton steps
// keep ending on a bound, builds the factor anew whenever that costs less
// than modifying it (after the first factor of a solve, in one piece with
// LAPACK's blocked Cholesky factorization: factor_from_scratch.cpp), steers
// the passes that sweep only the free variables by a gradient from the
// lower triangle of H, and tries each proximal step first
// by exchanges of whole sets of variables (block_exchange.cpp), which the
// main loop then checks and finishes from where they end; where neither they
// nor n/20 Newton steps solve the first one, the steps start over from a
// larger weight that falls tenfold per step. Full sweeps, whose
// objective the stop rules judge, and the optimality test read all of H, as
// in the described method.
#include "box_qp.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "blas.h"
#include "box_qp_internal.h"
#include "factor_from_scratch.h"
#include "lanes.h"
#include "ldl_factor.h"
#include "newton_step.h"
#include "optimality.h"
#include "stop_rules.h"
#include "tolerances.h"
#include "workspace.h"

namespace kelpie {

void add_column(const Problem& p, int j, double scale, double* g) {
    const blas_int n = p.n;
    const blas_int one = 1;
    KELPIE_BLAS(daxpy)(&n, &scale, column(p, j), &one, g, &one);
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The box holds a point in every coordinate: lower <= upper, neither is NaN,
// and neither is an infinity on the wrong side.
bool box_is_feasible(int n, const double* lower, const double* upper) {
    for (int i = 0; i < n; ++i) {
        if (!(lower[i] <= upper[i]) || lower[i] == kInfinity || upper[i] == -kInfinity) return false;
    }
    return true;
}

// Moves each start value onto the box when it lies outside; a NaN stays.
void project_onto_box(int n, const double* lower, const double* upper, double* x) {
    for (int i = 0; i < n; ++i) {
        if (lower[i] > x[i]) {
            x[i] = lower[i];
        } else if (upper[i] < x[i]) {
            x[i] = upper[i];
        }
    }
}

struct CoordinateStep {
    double step;  // the change of x_j, after clipping
    int clip_lower;
    int clip_upper;
    bool unbounded;
};

// With H_jj < 0 the objective along coordinate j is concave: its minimum over
// [lower_j, upper_j] is at the end with the lower value (the upper end on a
// tie), and there is none when either end is infinite.
CoordinateStep concave_coordinate_step(double h, double gj, double dist_lower, double dist_upper) {
    if (dist_lower == -kInfinity || dist_upper == kInfinity) return {0.0, 0, 0, true};
    // Sign of the objective at the upper end minus its value at the lower end.
    if (2.0 * gj + h * (dist_lower + dist_upper) > 0) return {dist_lower, 1, 0, false};
    return {dist_upper, 0, 1, false};
}

// The one-variable Newton step -g_j / H_jj, clipped to the distances to the
// bounds. A step equal to a distance reaches that bound; the lower side is
// tested first. A flat coordinate (H_jj = 0 and g_j = 0, or NaN data) gives a
// step of 0; H_jj = -0 acts as +0. An infinite step that no bound clips means
// the objective falls without limit along the coordinate.
CoordinateStep coordinate_step(double h, double gj, double dist_lower, double dist_upper) {
    if (h < 0) return concave_coordinate_step(h, gj, dist_lower, dist_upper);
    double step;
    if (h == 0) {
        step = gj > 0 ? -kInfinity : (gj < 0 ? kInfinity : 0.0);
    } else {
        step = -gj / h;
        if (std::isnan(step)) step = 0.0;
    }
    CoordinateStep s{step, 0, 0, false};
    if (step <= dist_lower) {
        s = {dist_lower, 1, 0, false};
    } else if (step >= dist_upper) {
        s = {dist_upper, 0, 1, false};
    }
    s.unbounded = !std::isfinite(s.step);
    return s;
}

enum class VisitOutcome { kInside, kOntoBound, kUnbounded };

// Handles coordinate j: moves x_j, keeps g = H x + f by the change of x_j, and
// sets or clears the free flag. kOntoBound reports a move onto a bound by a
// non-zero distance.
VisitOutcome visit_coordinate(const Problem& p, int j, double* x, double* g, int* is_free) {
    const double dist_lower = p.lower[j] - x[j];
    const double dist_upper = p.upper[j] - x[j];
    const CoordinateStep s = coordinate_step(column(p, j)[j], g[j], dist_lower, dist_upper);
    // A move past the range of doubles cannot be followed: the objective falls
    // beyond anything the arithmetic can represent.
    if (s.unbounded || !std::isfinite(x[j] + s.step)) return VisitOutcome::kUnbounded;

    x[j] = x[j] + s.step;
    VisitOutcome outcome = VisitOutcome::kInside;
    if (s.clip_lower == 1 || p.lower[j] >= x[j]) {
        if (dist_lower != 0) {
            x[j] = p.lower[j];
            add_column(p, j, dist_lower, g);
            outcome = VisitOutcome::kOntoBound;
        }
        is_free[j] = 0;
    } else if (s.clip_upper == 1 || p.upper[j] <= x[j]) {
        if (dist_upper != 0) {
            x[j] = p.upper[j];
            add_column(p, j, dist_upper, g);
            outcome = VisitOutcome::kOntoBound;
        }
        is_free[j] = 0;
    } else if (s.step != 0) {
        add_column(p, j, s.step, g);
        is_free[j] = 1;
    }
    return outcome;
}

// Multipliers from the final gradient: the side follows the sign of g_i alone.
void compute_multipliers(int n, const int* is_free, const double* g, double* lambda_lower, double* lambda_upper) {
    for (int i = 0; i < n; ++i) {
        if (is_free[i] != 0 || g[i] == 0) {
            lambda_lower[i] = 0.0;
            lambda_upper[i] = 0.0;
        } else if (g[i] < 0) {
            lambda_upper[i] = -g[i];
        } else {
            lambda_lower[i] = g[i];
        }
    }
}

int count_free(int n, const int* is_free) {
    int count = 0;
    for (int i = 0; i < n; ++i) count += is_free[i];
    return count;
}

void count_sweep(int sweep_all, SolveStats* stats) {
    ++stats->sweeps;
    if (sweep_all != 0) ++stats->full_sweeps;
}

void count_newton_phase(const FactorChanges& changes, SolveStats* stats) {
    ++stats->newton_phases;
    stats->entered += changes.entered;
    stats->left += changes.left;
    stats->kept_out += changes.kept_out;
    stats->one_piece_builds += changes.built_in_one_piece;
    if (changes.kept_out > 0) ++stats->dependent_phases;
}

}  // namespace

// The main loop from x. A stop rule ends it only at a point that passes the
// optimality test; at any other point the loop goes on from there with the
// rules cleared, which brings at least one more sweep and Newton phase, up to
// kMaxResumes times.
LoopEnd run_main_loop(const Problem& p, Workspace& ws, double* x, double tolerance, bool leave_when_singular,
                      const SolveSettings& settings, SolveStats* stats) {
    const int n = p.n;
    double* g = ws.iterate.g.get();
    int* is_free = ws.iterate.is_free.get();

    StopRules rules;
    int sweep_all = 1;
    int cut_steps = 0;  // Newton steps in a row that ended on a bound
    long long newton_iterations = 0;
    // A limit the caller chose counts every Newton phase of the solve; the
    // default, 2n, each run of the loop.
    const bool whole_solve_limit = settings.newton_limit > 0;
    const long long newton_limit = whole_solve_limit ? settings.newton_limit : 2LL * n;

    // The gradient that steers the passes that sweep only the free variables.
    // A full sweep's gradient, whose objective the stop rules judge, and the
    // one behind a stop, which the optimality test judges, always come from
    // all of H: a stop then waits on the same rounding as in the described
    // method, not on the triangle's.
    void (*const steering_gradient)(const Problem&, const double*, double*) =
        settings.projected_search ? compute_gradient_from_triangle : compute_gradient;

    for (;;) {
        ++stats->passes;
        if (stop_rule_fired(rules) || sweep_all) {
            compute_gradient(p, x, g);
        } else {
            steering_gradient(p, x, g);
        }
        // With finite data a gradient entry overflows only when x has gone
        // where the objective leaves the range of doubles; NaN or Inf in H or
        // f end here too. Either way no further step can be trusted.
        if (!all_finite(n, g)) return LoopEnd::kUnbounded;
        if (stop_rule_fired(rules)) {
            if (passes_optimality_test(p, x, g, tolerance, ws.scratch.term_sizes.get())) return LoopEnd::kSolution;
            if (!resume_after_failed_stop(rules)) return rules.still_falling ? LoopEnd::kStalled : LoopEnd::kNotSolved;
        }
        start_pass(rules, doubled_objective(n, x, p.f, g));
        // >= rather than ==: a stall run that began below the limit must not
        // carry the count past it and leave the loop without a limit. The
        // default limit waits for a stall run to end; a limit the caller chose
        // is a bound on the count, and holds inside a stall run too.
        const long long taken = whole_solve_limit ? stats->newton_phases : newton_iterations;
        if ((whole_solve_limit || rules.stall_count == 0) && taken >= newton_limit) return LoopEnd::kNewtonLimit;

        count_sweep(sweep_all, stats);
        const SweepOutcome sweep = coordinate_sweep(p, sweep_all, x, g, is_free);
        if (sweep == SweepOutcome::kUnbounded) return LoopEnd::kUnbounded;
        if (sweep == SweepOutcome::kVisitLimit) {
            compute_gradient(p, x, g);
            return all_finite(n, g) ? LoopEnd::kVisitLimit : LoopEnd::kUnbounded;
        }
        const int free_count = count_free(n, is_free);
        record_sweep(rules, {sweep_all != 0, free_count, doubled_objective(n, x, p.f, g),
                             objective_term_size(n, x, p.f, g)});
        // A sweep that left the free set as it was: the Newton phase starts
        // from a gradient without the sweep's accumulated updates.
        if (rules.stall_count > 0) (sweep_all ? compute_gradient : steering_gradient)(p, x, g);
        if (stop_rule_fired(rules)) continue;
        if (free_count == 0) {
            sweep_all = 1;
            continue;
        }

        ++newton_iterations;
        // Projected steps can fix most members at once: the factor of the
        // rest is then built anew rather than modified member by member.
        if (settings.projected_search && rebuilding_is_cheaper(n, ws)) clear_factor(n, ws.factor);
        // Built anew, the factor comes from LAPACK's blocked Cholesky
        // factorization in one piece, except the first one of a solve: that
        // one the additions build, as in the described method, so that where
        // no step ends on a bound both methods give the same bits.
        const bool in_one_piece = settings.projected_search && stats->newton_phases > 0;
        FactorChanges changes = in_one_piece ? update_or_build_free_factor(p, ws, settings.additions)
                                             : update_free_factor(p, ws, settings.additions);
        // The free block is singular or indefinite to working accuracy: the
        // caller takes over with steps that keep it definite.
        if (changes.kept_out > 0 && leave_when_singular) {
            count_newton_phase(changes, stats);
            return LoopEnd::kSingular;
        }
        // Projected steps pay off once Newton steps keep ending on a bound
        // (the active set changing one variable per pass); before that they
        // tend to fix variables the next sweep frees again.
        const bool project_now = settings.projected_search && cut_steps >= kCutStepsBeforeProjecting;
        const NewtonOutcome newton = newton_stage(p, x, ws, &sweep_all, &changes, project_now);
        cut_steps = sweep_all == 0 ? cut_steps + 1 : 0;
        count_newton_phase(changes, stats);
        if (newton == NewtonOutcome::kUnbounded) return LoopEnd::kUnbounded;
    }
}

bool all_finite(int n, const double* v) {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) return false;
    }
    return true;
}

double objective_term_size(int n, const double* x, const double* f, const double* g) {
    double terms = 0.0;
    for (int i = 0; i < n; ++i) terms = terms + std::fabs(x[i] * (f[i] + g[i]));
    return terms;
}

void compute_gradient(const Problem& p, const double* x, double* g) {
    const blas_int n = p.n;
    const blas_int one = 1;
    const double unit = 1.0;
    KELPIE_BLAS(dcopy)(&n, p.f, &one, g, &one);
    KELPIE_BLAS(dgemv)("N", &n, &n, &unit, p.H, &n, x, &one, &unit, g, &one);
}

namespace {

// Four columns j..j+3 of the lower triangle, rows from j + 4 on: each row k
// takes the four terms H(k, j..j+3) x_j..j+3 into g_k, in column order, and
// gives H(k, j + c) x_k to the sum of column j + c. Those sums run in four
// partial sums, over the rows k = j + 4 + 4m + r for r = 0..3, added at the
// end as ((r0 + r1) + (r2 + r3)) + the rows past the last full group of four.
// The order follows from the indices alone.
KELPIE_WITH_AVX2_CLONE void add_four_columns(int n, const double* H, int j, const double* x, double* g,
                                             double* column_sums) {
    const std::size_t stride = static_cast<std::size_t>(n);
    const double* h0 = H + static_cast<std::size_t>(j) * stride;
    const double* h1 = h0 + stride;
    const double* h2 = h1 + stride;
    const double* h3 = h2 + stride;
    const double x0 = x[j], x1 = x[j + 1], x2 = x[j + 2], x3 = x[j + 3];
    double partial[4][4] = {};  // partial[c][r]: column j + c over the rows of remainder r
    int k = j + 4;
#if defined(__GNUC__)
    Quad s0 = {0.0, 0.0, 0.0, 0.0}, s1 = s0, s2 = s0, s3 = s0;
    for (; k + 4 <= n; k += 4) {
        Quad e0, e1, e2, e3, x_k, g_k;
        std::memcpy(&e0, h0 + k, sizeof e0);
        std::memcpy(&e1, h1 + k, sizeof e1);
        std::memcpy(&e2, h2 + k, sizeof e2);
        std::memcpy(&e3, h3 + k, sizeof e3);
        std::memcpy(&x_k, x + k, sizeof x_k);
        std::memcpy(&g_k, g + k, sizeof g_k);
        g_k = (((g_k + e0 * x0) + e1 * x1) + e2 * x2) + e3 * x3;
        std::memcpy(g + k, &g_k, sizeof g_k);
        s0 = s0 + e0 * x_k;
        s1 = s1 + e1 * x_k;
        s2 = s2 + e2 * x_k;
        s3 = s3 + e3 * x_k;
    }
    for (int r = 0; r < 4; ++r) {
        partial[0][r] = s0[r];
        partial[1][r] = s1[r];
        partial[2][r] = s2[r];
        partial[3][r] = s3[r];
    }
#else
    for (; k + 4 <= n; k += 4) {
        for (int r = 0; r < 4; ++r) {
            const double e0 = h0[k + r], e1 = h1[k + r], e2 = h2[k + r], e3 = h3[k + r];
            const double x_k = x[k + r];
            g[k + r] = (((g[k + r] + e0 * x0) + e1 * x1) + e2 * x2) + e3 * x3;
            partial[0][r] = partial[0][r] + e0 * x_k;
            partial[1][r] = partial[1][r] + e1 * x_k;
            partial[2][r] = partial[2][r] + e2 * x_k;
            partial[3][r] = partial[3][r] + e3 * x_k;
        }
    }
#endif
    double tail[4] = {0.0, 0.0, 0.0, 0.0};
    for (; k < n; ++k) {
        const double e0 = h0[k], e1 = h1[k], e2 = h2[k], e3 = h3[k];
        g[k] = (((g[k] + e0 * x0) + e1 * x1) + e2 * x2) + e3 * x3;
        tail[0] = tail[0] + e0 * x[k];
        tail[1] = tail[1] + e1 * x[k];
        tail[2] = tail[2] + e2 * x[k];
        tail[3] = tail[3] + e3 * x[k];
    }
    for (int c = 0; c < 4; ++c) {
        column_sums[c] = ((partial[c][0] + partial[c][1]) + (partial[c][2] + partial[c][3])) + tail[c];
    }
}

}  // namespace

void compute_gradient_from_triangle(const Problem& p, const double* x, double* g) {
    const int n = p.n;
    const std::size_t stride = static_cast<std::size_t>(n);
    for (int i = 0; i < n; ++i) g[i] = p.f[i];
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const double* h0 = p.H + static_cast<std::size_t>(j) * stride;
        const double* h1 = h0 + stride;
        const double* h2 = h1 + stride;
        const double* h3 = h2 + stride;
        const double x0 = x[j], x1 = x[j + 1], x2 = x[j + 2], x3 = x[j + 3];
        // The block of the four rows and columns, H(r, c) read as H(max, min).
        const double a0 = (((h0[j] * x0 + h0[j + 1] * x1) + h0[j + 2] * x2) + h0[j + 3] * x3);
        const double a1 = (((h0[j + 1] * x0 + h1[j + 1] * x1) + h1[j + 2] * x2) + h1[j + 3] * x3);
        const double a2 = (((h0[j + 2] * x0 + h1[j + 2] * x1) + h2[j + 2] * x2) + h2[j + 3] * x3);
        const double a3 = (((h0[j + 3] * x0 + h1[j + 3] * x1) + h2[j + 3] * x2) + h3[j + 3] * x3);
        double below[4];
        add_four_columns(n, p.H, j, x, g, below);
        g[j] = g[j] + (a0 + below[0]);
        g[j + 1] = g[j + 1] + (a1 + below[1]);
        g[j + 2] = g[j + 2] + (a2 + below[2]);
        g[j + 3] = g[j + 3] + (a3 + below[3]);
    }
    // The last columns, one by one: rows j + 1 on are below the diagonal.
    for (; j < n; ++j) {
        const double* h = p.H + static_cast<std::size_t>(j) * stride;
        double sum = h[j] * x[j];
        for (int k = j + 1; k < n; ++k) {
            g[k] = g[k] + h[k] * x[j];
            sum = sum + h[k] * x[k];
        }
        g[j] = g[j] + sum;
    }
}

double doubled_objective(int n, const double* x, const double* f, const double* g) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum = sum + x[i] * (f[i] + g[i]);
    return sum;
}

// Visits j = 0, 1, ..., n-1, 0, ... and ends after n consecutive visits with
// no move onto a bound by a non-zero distance; skipped visits count too.
SweepOutcome coordinate_sweep(const Problem& p, int sweep_all, double* x, double* g, int* is_free) {
    const int n = p.n;
    const long long visit_limit = kMaxSweepVisitsPerVariable * n;
    long long total_visits = 0;
    int visit_count = 0;
    int j = n - 1;
    for (;;) {
        ++visit_count;
        j = (j == n - 1) ? 0 : j + 1;
        if (visit_count > n) return SweepOutcome::kDone;
        if (++total_visits > visit_limit) return SweepOutcome::kVisitLimit;
        if (is_free[j] == 0 && sweep_all != 1) continue;
        const VisitOutcome outcome = visit_coordinate(p, j, x, g, is_free);
        if (outcome == VisitOutcome::kUnbounded) return SweepOutcome::kUnbounded;
        if (outcome == VisitOutcome::kOntoBound) visit_count = 0;
    }
}

int solve_box_qp_counted(int n, const double* H, const double* f, const double* lower, const double* upper,
                         double* x, double* lambda_lower, double* lambda_upper, SolveStats* stats,
                         const SolveSettings* settings) {
    SolveStats local;
    if (stats == nullptr) stats = &local;
    *stats = SolveStats();
    if (n <= 0) return KELPIE_CONVERGED;
    if (!box_is_feasible(n, lower, upper)) return KELPIE_INFEASIBLE;
    Workspace ws;
    if (!allocate_workspace(n, &ws)) return KELPIE_OUT_OF_MEMORY;
    const Problem problem{n, H, f, lower, upper};
    project_onto_box(n, lower, upper, x);
    const SolveSettings chosen = settings != nullptr ? *settings : SolveSettings();
    LoopEnd end = run_main_loop(problem, ws, x, kOptimalityTolerance, true, chosen, stats);
    if (end == LoopEnd::kNewtonLimit && chosen.newton_limit > 0) {
        // The caller's limit is spent: x is a solution only if it passes the test.
        end = passes_optimality_test(problem, x, ws.iterate.g.get(), kOptimalityTolerance, ws.scratch.term_sizes.get())
                  ? LoopEnd::kSolution
                  : LoopEnd::kNotSolved;
    }
    if (end == LoopEnd::kSingular || end == LoopEnd::kNotSolved || end == LoopEnd::kNewtonLimit ||
        end == LoopEnd::kStalled) {
        end = take_proximal_steps(problem, ws, x, chosen, stats);
    }
    if (end == LoopEnd::kUnbounded) return KELPIE_UNBOUNDED;
    compute_multipliers(n, ws.iterate.is_free.get(), ws.iterate.g.get(), lambda_lower, lambda_upper);
    return end == LoopEnd::kSolution ? KELPIE_CONVERGED : KELPIE_ITERATION_LIMIT;
}

namespace {

const char* reason_in_words(int result) {
    switch (result) {
        case KELPIE_CONVERGED: return "converged: x passes the first-order optimality test";
        case KELPIE_ITERATION_LIMIT: return "stopped: x is not known to be a solution (step limit, or no further progress)";
        case KELPIE_OUT_OF_MEMORY: return "out of memory: the workspace could not be allocated";
        case KELPIE_INFEASIBLE: return "infeasible: the bounds admit no point";
        case KELPIE_UNBOUNDED: return "unbounded: the objective is unbounded below on the box";
        default: return "invalid options";
    }
}

bool options_are_valid(const kelpie_options& options) {
    return options.version == KELPIE_OPTIONS_VERSION &&
           (options.method == KELPIE_METHOD_DESCRIBED || options.method == KELPIE_METHOD_ACCELERATED) &&
           options.max_newton_steps >= 0;
}

// The residual of the optimality test and the objective at x, for the info.
void measure_solution(const Problem& p, const double* x, kelpie_info* info) {
    const std::size_t count = static_cast<std::size_t>(p.n);
    HeapArray<double> g(static_cast<double*>(std::malloc(count * sizeof(double))));
    HeapArray<double> sizes(static_cast<double*>(std::malloc(count * sizeof(double))));
    if (!g || !sizes) return;
    compute_gradient(p, x, g.get());
    info->first_order_residual = first_order_residual(p, x, g.get(), sizes.get());
    info->objective = 0.5 * doubled_objective(p.n, x, p.f, g.get());
}

}  // namespace

}  // namespace kelpie

extern "C" int solve_box_qp_with_options(int n, const double* H, const double* f, const double* lower,
                                         const double* upper, double* x, double* lambda_lower, double* lambda_upper,
                                         const kelpie_options* options, kelpie_info* info) {
    const kelpie_options chosen = options != nullptr ? *options : kelpie_options KELPIE_OPTIONS_INIT;
    const bool known_info = info != nullptr && info->version == KELPIE_INFO_VERSION;
    if (known_info) {
        const int version = info->version;
        *info = kelpie_info KELPIE_INFO_INIT;
        info->version = version;
        info->first_order_residual = std::numeric_limits<double>::quiet_NaN();
        info->objective = std::numeric_limits<double>::quiet_NaN();
    }
    if (!kelpie::options_are_valid(chosen)) {
        if (known_info) info->message = kelpie::reason_in_words(KELPIE_INVALID_OPTIONS);
        return KELPIE_INVALID_OPTIONS;
    }
    kelpie::SolveSettings settings;
    settings.newton_limit = chosen.max_newton_steps;
    settings.projected_search = chosen.method == KELPIE_METHOD_ACCELERATED;
    kelpie::SolveStats stats;
    const int result =
        kelpie::solve_box_qp_counted(n, H, f, lower, upper, x, lambda_lower, lambda_upper, &stats, &settings);
    if (known_info) {
        info->passes = stats.passes;
        info->full_sweeps = stats.full_sweeps;
        info->newton_steps = stats.newton_phases;
        info->proximal_steps = stats.proximal_steps;
        info->message = kelpie::reason_in_words(result);
        if (n > 0 && (result == KELPIE_CONVERGED || result == KELPIE_ITERATION_LIMIT || result == KELPIE_UNBOUNDED)) {
            kelpie::measure_solution(kelpie::Problem{n, H, f, lower, upper}, x, info);
        }
    }
    return result;
}

extern "C" int solve_box_qp(int n, const double* H, const double* f, const double* lower, const double* upper,
                            double* x, double* lambda_lower, double* lambda_upper) {
    return kelpie::solve_box_qp_counted(n, H, f, lower, upper, x, lambda_lower, lambda_upper, nullptr);
}
