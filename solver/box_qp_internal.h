// Pieces of the driver that the tests exercise on their own.
#ifndef KELPIE_BOX_QP_INTERNAL_H
#define KELPIE_BOX_QP_INTERNAL_H

#include "ldl_factor.h"
#include "workspace.h"

namespace kelpie {

enum class SweepOutcome { kDone, kUnbounded, kVisitLimit };

// One coordinate sweep: updates x, g and is_free. sweep_all 0 handles only
// variables whose is_free flag is set.
SweepOutcome coordinate_sweep(const Problem& p, int sweep_all, double* x, double* g, int* is_free);

// What one solve did, for tests, benchmarks and the info of
// solve_box_qp_with_options.
struct SolveStats {
    long long passes = 0;
    long long sweeps = 0;
    long long full_sweeps = 0;  // sweeps that visited every variable
    long long newton_phases = 0;
    // Newton phases that found free variables the pivot guard kept out of the
    // factor: phases that work on a free set wider than the rank of its block.
    long long dependent_phases = 0;
    long long entered = 0;   // variables added to the factor
    long long left = 0;      // variables removed from it
    long long kept_out = 0;  // free variables the pivot guard kept out, summed over Newton phases
    long long one_piece_builds = 0;  // factors the main loop had LAPACK build in one piece
    long long proximal_steps = 0;  // outer steps of take_proximal_steps
    long long exchange_attempts = 0;   // proximal subproblems tried by block exchanges first
    long long exchange_successes = 0;  // ... that the exchanges solved
};

// What a caller may choose: the Newton-step limit of each run of the main
// loop (0: 2n) and whether Newton steps follow the projected path. The tests
// also choose how the factor adds variables (the same bits either way).
struct SolveSettings {
    long long newton_limit = 0;
    bool projected_search = false;
    Additions additions = Additions::kBatched;
};

// solve_box_qp with its counts reported in *stats (which may be null), with
// the settings given (null: the defaults, the bits of solve_box_qp).
int solve_box_qp_counted(int n, const double* H, const double* f, const double* lower, const double* upper,
                         double* x, double* lambda_lower, double* lambda_upper, SolveStats* stats,
                         const SolveSettings* settings = nullptr);

// How a run of the main loop ended.
enum class LoopEnd {
    kSolution,     // at a point that passes the optimality test
    kNotSolved,    // the stop rules kept ending it at points that fail the test
    kStalled,      // ... the last time with the objective still falling
    kNewtonLimit,  // 2n Newton phases
    kSingular,     // the factor kept a free variable out (only when asked to leave then)
    kVisitLimit,   // a sweep ran past its visit limit (a non-symmetric H)
    kUnbounded
};

// The main loop from x, with the free flags and the factor as ws holds them.
// A stop rule ends it at a point whose first-order residual is at most
// `tolerance` (kSolution); at another point the loop goes on, a few times,
// before it gives up (kNotSolved, kStalled). With leave_when_singular it ends
// at the first Newton phase whose free variables the factor cannot all take,
// before that phase moves x. On return ws.iterate.g holds H x + f (from scratch
// unless the loop left in a Newton phase).
LoopEnd run_main_loop(const Problem& p, Workspace& ws, double* x, double tolerance, bool leave_when_singular,
                      const SolveSettings& settings, SolveStats* stats);

// Proximal point steps from x, for where the main loop could not end at a
// solution: x_{k+1} minimises q(x) + rho/2 |x - x_k|^2 on the box. Ends with
// kSolution, kNotSolved (no progress, or out of steps or memory), kVisitLimit or
// kUnbounded; on return ws.iterate.g holds H x + f from scratch and the free flags
// say which variables lie strictly inside their bounds.
LoopEnd take_proximal_steps(const Problem& p, Workspace& ws, double* x, const SolveSettings& settings,
                            SolveStats* stats);

// g = H x + f from scratch.
void compute_gradient(const Problem& p, const double* x, double* g);

// g := g + scale * H(:, j) (daxpy, which leaves g as it is for a zero scale).
void add_column(const Problem& p, int j, double scale, double* g);

// The same from the lower triangle of H alone: half the reading of H, so
// about twice as fast, with other rounding, in an order fixed by the indices
// (the same bits whatever the alignment, the threads or the instruction set).
// The accelerated method steers by it; every optimality test still uses
// compute_gradient, which reads all of H.
void compute_gradient_from_triangle(const Problem& p, const double* x, double* g);

// Whether every entry of v is finite.
bool all_finite(int n, const double* v);

// sum_i |x_i (f_i + g_i)|: the size of the terms of the doubled objective,
// against which a change of it is judged to be more than rounding.
double objective_term_size(int n, const double* x, const double* f, const double* g);

// The doubled objective sum_i x_i (f_i + g_i), in index order.
double doubled_objective(int n, const double* x, const double* f, const double* g);

}  // namespace kelpie

#endif
