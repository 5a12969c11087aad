// Pieces of the driver that the tests exercise on their own.
#ifndef KELPIE_BOX_QP_INTERNAL_H
#define KELPIE_BOX_QP_INTERNAL_H

#include "workspace.h"

namespace kelpie {

enum class SweepOutcome { kDone, kUnbounded, kVisitLimit };

// A sweep may make at most this many visits per variable. A symmetric H never
// comes near it; a non-symmetric one can make the sweep cycle forever.
constexpr long long kMaxSweepVisitsPerVariable = 100;

// One coordinate sweep: updates x, g and is_free. sweep_all 0 handles only
// variables whose is_free flag is set.
SweepOutcome coordinate_sweep(const Problem& p, int sweep_all, double* x, double* g, int* is_free);

// What one solve did, for tests and benchmarks. The times are measured only
// when `timed` is set on entry.
struct SolveStats {
    bool timed = false;
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
    double gradient_seconds = 0;
    double sweep_seconds = 0;
    double factor_seconds = 0;
    double newton_seconds = 0;
};

// solve_box_qp with its counts reported in *stats (which may be null).
int solve_box_qp_counted(int n, const double* H, const double* f, const double* lower, const double* upper,
                         double* x, double* lambda_lower, double* lambda_upper, SolveStats* stats);

// g = H x + f from scratch.
void compute_gradient(const Problem& p, const double* x, double* g);

// The doubled objective sum_i x_i (f_i + g_i), in index order.
double doubled_objective(int n, const double* x, const double* f, const double* g);

}  // namespace kelpie

#endif
