// Proximal point steps: what kelpie does where the factor cannot take the
// free block (singular, nearly singular or indefinite to working accuracy),
// and where the main loop's stop rules end short of a solution.
//
// Step k solves, with the main loop, the problem
//
//     minimise  q(x) + rho/2 |x - x_k|^2  on the box,
//
// that is H + rho I and f - rho x_k in place of H and f, starting from x_k.
// Its block on any free set has pivots of at least about rho, so the factor
// takes every free variable and each step is the method's own Newton
// iteration on a definite problem. For a convex q the steps converge to a
// minimiser (Rockafellar, 1976) and lower q at every step: q(x_{k+1}) +
// rho/2 |x_{k+1} - x_k|^2 <= q(x_k). At the solution of step k, g + rho (x_{k+1} -
// x_k) satisfies the optimality conditions, so the first-order residual of q
// falls with the length of the step. Components of the error along
// eigenvalues lambda of H shrink by rho / (lambda + rho) per step: rho is a
// small fraction of H's largest entry, so all but the nearly flat directions
// settle in a step or two, and along those the gradient itself is small.
//
// Where neither block exchanges nor n/20 Newton steps of the main loop solve
// its first step at the usual weight, the accelerated method (from a few
// hundred variables on) starts the steps over, from the point reached, with a
// larger weight, and lowers it tenfold per step down to the usual one (a
// decreasing sequence of weights, for which the same convergence holds). With
// rho that small, the first step on a least-squares problem wider than tall
// can be nearly the whole problem, on a block with a condition number of
// about 1e6, and its solve takes hundreds of passes; each step of the larger
// weights is better conditioned, and the next one starts near its solution.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "blas.h"
#include "block_exchange.h"
#include "box_qp_internal.h"
#include "ldl_factor.h"
#include "optimality.h"
#include "tolerances.h"
#include "workspace.h"

namespace kelpie {

namespace {

// The largest entry of H in size; 1 for H = 0, which then needs no scale.
double largest_entry_size(const Problem& p) {
    const std::size_t count = static_cast<std::size_t>(p.n) * p.n;
    double largest = 0.0;
    for (std::size_t k = 0; k < count; ++k) largest = std::fabs(p.H[k]) > largest ? std::fabs(p.H[k]) : largest;
    return largest > 0 ? largest : 1.0;
}

// The diagonal of `shifted` becomes that of H plus rho.
void shift_diagonal(const Problem& p, double rho, double* shifted) {
    const std::size_t n = static_cast<std::size_t>(p.n);
    for (std::size_t j = 0; j < n; ++j) shifted[j + j * n] = p.H[j + j * n] + rho;
}

void copy_with_shifted_diagonal(const Problem& p, double rho, double* shifted) {
    const std::size_t n = static_cast<std::size_t>(p.n);
    for (std::size_t k = 0; k < n * n; ++k) shifted[k] = p.H[k];
    shift_diagonal(p, rho, shifted);
}

// Free flags from where x lies: strictly inside the bounds or not.
void mark_free_by_position(const Problem& p, const double* x, int* is_free) {
    for (int i = 0; i < p.n; ++i) is_free[i] = (p.lower[i] < x[i] && x[i] < p.upper[i]) ? 1 : 0;
}

// Whether q falls without limit along d from x, where g is the gradient at
// x: no bound stops d, the slope g'd is negative, and the curvature d'Hd is 0
// to the rounding of its terms (at most kNullCurvature of d'|H||d|). A step
// that ran along such a direction shows it: the proximal term alone held it.
bool unbounded_along(const Problem& p, const double* d, const double* g, double* Hd, double* abs_Hd) {
    const int n = p.n;
    double slope = 0.0;
    for (int i = 0; i < n; ++i) {
        if ((d[i] > 0 && p.upper[i] != HUGE_VAL) || (d[i] < 0 && p.lower[i] != -HUGE_VAL)) return false;
        slope = slope + g[i] * d[i];
    }
    if (!(slope < 0)) return false;
    for (int i = 0; i < n; ++i) {
        Hd[i] = 0.0;
        abs_Hd[i] = 0.0;
    }
    for (int j = 0; j < n; ++j) {
        if (d[j] == 0) continue;
        const double* col = column(p, j);
        for (int i = 0; i < n; ++i) {
            Hd[i] = Hd[i] + col[i] * d[j];
            abs_Hd[i] = abs_Hd[i] + std::fabs(col[i]) * std::fabs(d[j]);
        }
    }
    double curvature = 0.0;
    double size = 0.0;
    for (int i = 0; i < n; ++i) {
        curvature = curvature + d[i] * Hd[i];
        size = size + std::fabs(d[i]) * abs_Hd[i];
    }
    return curvature <= kNullCurvature * size;
}

}  // namespace

LoopEnd take_proximal_steps(const Problem& p, Workspace& ws, double* x, const SolveSettings& settings,
                            SolveStats* stats) {
    const int n = p.n;
    const std::size_t count = static_cast<std::size_t>(n);
    double* g = ws.iterate.g.get();
    HeapArray<double> shifted_H(static_cast<double*>(std::malloc(count * count * sizeof(double))));
    HeapArray<double> shifted_f(static_cast<double*>(std::malloc(count * sizeof(double))));
    HeapArray<double> previous_x(static_cast<double*>(std::malloc(count * sizeof(double))));
    HeapArray<double> previous_g(static_cast<double*>(std::malloc(count * sizeof(double))));
    HeapArray<double> step_taken(static_cast<double*>(std::malloc(count * sizeof(double))));
    HeapArray<double> curvature_terms(static_cast<double*>(std::malloc(count * sizeof(double))));
    LoopEnd end = LoopEnd::kNotSolved;
    compute_gradient(p, x, g);
    if (!all_finite(n, g)) return LoopEnd::kUnbounded;
    if (shifted_H && shifted_f && previous_x && previous_g && step_taken && curvature_terms) {
        const double largest_entry = largest_entry_size(p);
        const double usual_weight = kProximalWeight * largest_entry;
        double rho = usual_weight;
        copy_with_shifted_diagonal(p, rho, shifted_H.get());
        clear_factor(n, ws.factor);
        const Problem shifted{n, shifted_H.get(), shifted_f.get(), p.lower, p.upper};
        double value = doubled_objective(n, x, p.f, g);
        double best_residual = HUGE_VAL;
        double previous_residual = first_order_residual(p, x, g, ws.scratch.term_sizes.get());
        if (previous_residual <= kOptimalityTolerance) end = LoopEnd::kSolution;
        int steps_without_progress = 0;
        // The accelerated method first tries each subproblem by exchanges of
        // whole sets, until an attempt fails: the blocks of later steps with
        // the same weight are those of the same matrix (a new weight tries
        // again). Each exchange is a Newton point of a block, so where the
        // caller limits the Newton steps none is tried.
        const bool exchanges_allowed = settings.projected_search && settings.newton_limit == 0;
        bool try_exchanges = exchanges_allowed;
        for (int step = 0; step < kMaxProximalSteps; ++step) {
            ++stats->proximal_steps;
            for (int i = 0; i < n; ++i) {
                previous_x[i] = x[i];
                previous_g[i] = g[i];
                shifted_f[i] = p.f[i] - rho * x[i];
            }
            if (try_exchanges) {
                try_exchanges = solve_by_block_exchange(shifted, ws, x);
                stats->exchange_attempts += 1;
                stats->exchange_successes += try_exchanges ? 1 : 0;
            }
            // The first step's solve at the usual weight, where the exchanges
            // left it to the main loop, on a budget of Newton steps (inside
            // any limit of the caller's).
            SolveSettings step_settings = settings;
            const long long budget_end = stats->newton_phases + n / kFirstStepNewtonShare;
            const bool on_budget = step == 0 && settings.projected_search && !try_exchanges &&
                                   n >= kSmallestContinuation &&
                                   (settings.newton_limit == 0 || budget_end < settings.newton_limit);
            if (on_budget) step_settings.newton_limit = budget_end;
            const LoopEnd inner = run_main_loop(shifted, ws, x, kStepTolerance, false, step_settings, stats);
            // Where the budget ran out, the point reached still lowered
            // q + rho/2 |x - x_0|^2, and is taken like any step's; the steps
            // go on from there with the larger weight.
            const bool budget_ran_out = on_budget && inner == LoopEnd::kNewtonLimit;
            if (inner == LoopEnd::kUnbounded || inner == LoopEnd::kVisitLimit) {
                // q + rho/2 |x - x_k|^2 >= q - const: unbounded below means q is too.
                compute_gradient(p, x, g);
                if (inner == LoopEnd::kUnbounded || !all_finite(n, g)) return LoopEnd::kUnbounded;
                end = inner;
                break;
            }
            for (int i = 0; i < n; ++i) step_taken[i] = x[i] - previous_x[i];
            // Only from a point that fails the test: at a solution the
            // gradient is rounding, and so is a step it drives.
            if (previous_residual > kOptimalityTolerance &&
                unbounded_along(p, step_taken.get(), previous_g.get(), shifted_f.get(), curvature_terms.get())) {
                compute_gradient(p, x, g);
                return LoopEnd::kUnbounded;
            }
            compute_gradient(p, x, g);
            if (!all_finite(n, g)) return LoopEnd::kUnbounded;
            // A step lowers q (to the accuracy of its solve); one that raised
            // it went wrong, and the point before it is kept.
            const double new_value = doubled_objective(n, x, p.f, g);
            const double size = objective_term_size(n, x, p.f, g);
            if (new_value - value > kObjectiveRounding * size) {
                for (int i = 0; i < n; ++i) x[i] = previous_x[i];
                compute_gradient(p, x, g);
                break;
            }
            value = new_value;
            // Past the optimality test the steps go on while they still
            // halve the residual, down to the rounding of the gradient.
            const double residual = first_order_residual(p, x, g, ws.scratch.term_sizes.get());
            const double step_start_residual = previous_residual;
            previous_residual = residual;
            end = residual <= kOptimalityTolerance ? LoopEnd::kSolution : LoopEnd::kNotSolved;
            if (residual < 0.5 * best_residual) {
                best_residual = residual;
                steps_without_progress = 0;
            } else {
                ++steps_without_progress;
            }
            // Slow contraction means eigenvalues of the free block below rho:
            // a smaller rho contracts faster there, at the price of a factor
            // built anew (the matrix changed). The accelerated method does not
            // read a residual at the rounding of the gradient as slow
            // contraction: a smaller weight cannot lower rounding, and its
            // subproblems are the hardest to solve.
            const bool slow = residual > kSlowContraction * step_start_residual &&
                              !(settings.projected_search && residual <= kRoundingResidual);
            double next_rho = rho;
            if (budget_ran_out) {
                next_rho = kFirstAcceleratedWeight * largest_entry;
            } else if (rho > usual_weight) {
                next_rho = std::max(rho * kWeightContinuation, usual_weight);
            } else if (slow && rho > kSmallestWeight * largest_entry) {
                next_rho = rho * kWeightReduction;
            }
            // A new weight changes the matrix: the factor is built anew, and
            // the exchanges may be tried again.
            if (next_rho != rho) {
                rho = next_rho;
                shift_diagonal(p, rho, shifted_H.get());
                clear_factor(n, ws.factor);
                try_exchanges = exchanges_allowed;
            }
            if (residual <= kRefinementTarget || (end == LoopEnd::kSolution && steps_without_progress >= kPatience)) {
                break;
            }
            // The caller's limit is spent (not the first step's budget).
            if (inner == LoopEnd::kNewtonLimit && settings.newton_limit > 0 && !budget_ran_out) break;
            if (std::equal(x, x + n, previous_x.get())) break;
        }
    }
    mark_free_by_position(p, x, ws.iterate.is_free.get());
    return end;
}

}  // namespace kelpie
