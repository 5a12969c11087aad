/* kelpie: dense quadratic programmes with simple bounds.
 *
 *   minimise  1/2 x'Hx + f'x   subject to  lower <= x <= upper
 *
 * solve_box_qp(n, H, f, lower, upper, x, lambda_lower, lambda_upper)
 *
 *   n             number of variables; n <= 0 returns 0 and touches nothing.
 *   H             n-by-n, column-major (H(i,j) at i + j*n), read only. H must be
 *                 symmetric: the gradient uses whole columns and the factor reads
 *                 a column where it needs the row. It may be indefinite or singular.
 *   f             n values, read only.
 *   lower, upper  n values each, read only; -INFINITY / +INFINITY mean no bound.
 *   x             on entry the starting point (finite values; it is projected
 *                 onto the box first), on return the solution.
 *   lambda_lower, lambda_upper
 *                 n values each, zero on entry. On return with 0 or 99 a
 *                 variable held at a bound has the magnitude of its gradient
 *                 entry on one side: lambda_lower when the entry is positive,
 *                 lambda_upper when negative. Free variables get 0 on both.
 *
 * Result codes:
 *    0  x is a solution: it passes the first-order optimality test
 *
 *           |pg_i|  <=  1e-9 * (|f_i| + sum_j |H_ij x_j|)   for every i,
 *
 *       where g = H x + f is computed afresh at x and pg is the projected
 *       gradient: g_i for a variable strictly inside its bounds, min(g_i, 0)
 *       at its lower bound, max(g_i, 0) at its upper, 0 when lower_i =
 *       upper_i. Each entry is judged against the size of the terms it is
 *       made of, so the test means the same for a problem multiplied by any
 *       positive number, and a huge entry in one row hides nothing in
 *       another. For a convex problem x is then a minimiser; for a nonconvex
 *       one, a first-order (KKT) point.
 *   99  x is not known to be a solution: the method ran out of steps (2n
 *       Newton steps, then 200 proximal steps), its steps stopped making
 *       progress, or one sweep ran past its visit limit (which only a
 *       non-symmetric H can reach). x is the last iterate and the
 *       multipliers are computed from it.
 *   -1  the workspace could not be allocated; nothing was written.
 *   -2  the box holds no point (lower > upper, a NaN bound, lower = +Inf or
 *       upper = -Inf); nothing was written.
 *   -3  the objective is unbounded below on the box, or cannot be followed
 *       within the range of doubles (the gradient overflows, or H or f hold
 *       NaN or Inf); x holds the last finite iterate (inside the box) and the
 *       multipliers are not written.
 *   -4  (solve_box_qp_with_options only) the options are not valid; nothing
 *       was written.
 *
 * The method is described at the head of box_qp.cpp.
 *
 * The function keeps no state between calls and may be called from several
 * threads at once on separate arrays.
 */
#ifndef KELPIE_BOX_QP_H
#define KELPIE_BOX_QP_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KELPIE_CONVERGED = 0,
    KELPIE_ITERATION_LIMIT = 99,
    KELPIE_OUT_OF_MEMORY = -1,
    KELPIE_INFEASIBLE = -2,
    KELPIE_UNBOUNDED = -3
};

int solve_box_qp(int n, const double* H, const double* f, const double* lower, const double* upper,
                 double* x, double* lambda_lower, double* lambda_upper);

/* Options and diagnostics.
 *
 *   kelpie_options options = KELPIE_OPTIONS_INIT;      (the defaults)
 *   options.method = KELPIE_METHOD_ACCELERATED;
 *   kelpie_info info = KELPIE_INFO_INIT;
 *   int result = solve_box_qp_with_options(n, H, f, lower, upper, x, lambda_lower,
 *                                          lambda_upper, &options, &info);
 *
 * solve_box_qp_with_options takes the arguments of solve_box_qp and returns
 * its result codes, plus KELPIE_INVALID_OPTIONS (nothing written) for options
 * whose version is not one this library knows or whose values are out of
 * range. options may be NULL (the defaults); info may be NULL. With the
 * defaults, x, the multipliers and the result are those of solve_box_qp, bit
 * for bit.
 *
 * Both structs begin with a version: set it with the initialisers, and later
 * versions of the library add fields at the end, reading and writing only the
 * fields of the version the caller names.
 *
 * method
 *   KELPIE_METHOD_DESCRIBED     the method of solve_box_qp: each Newton step
 *                               stops at the first bound it meets.
 *   KELPIE_METHOD_ACCELERATED   once two Newton steps in a row have stopped
 *                               at a bound, each Newton step is followed along
 *                               the projected path clip(x + t d), from t = 1
 *                               down by halves, to the first point that lowers
 *                               the objective by at least 1e-4 of the slope's
 *                               promise (Armijo); it fixes every variable it
 *                               puts on a bound at once, and the factor is
 *                               built anew where that is cheaper than removing
 *                               the members one by one (with LAPACK's Cholesky
 *                               factorization, dpotrf, where the block is
 *                               safely definite). Where no such point
 *                               lies beyond the first bound, the step is that
 *                               of the described method. Where the free
 *                               block is singular or nearly so, each proximal
 *                               step is first tried by exchanging whole sets
 *                               of variables between free and held (block
 *                               principal pivoting), given up as soon as the
 *                               exchanges stop converging; where neither they
 *                               nor n/20 Newton steps solve the first
 *                               proximal step (n >= 300), the steps start
 *                               over with a weight of 1e-4 of H's largest
 *                               entry, falling tenfold per step to the
 *                               described method's 1e-6. It ends with the
 *                               same optimality test.
 * max_newton_steps
 *   0 (the default): 2n Newton steps for each run of the main loop, as in
 *   solve_box_qp. A positive value: a limit on the Newton steps of the whole
 *   solve, proximal steps included; where it stops the solve short of a
 *   solution, the result is 99.
 */
#define KELPIE_OPTIONS_VERSION 1
#define KELPIE_INFO_VERSION 1

enum { KELPIE_INVALID_OPTIONS = -4 };
enum { KELPIE_METHOD_DESCRIBED = 0, KELPIE_METHOD_ACCELERATED = 1 };

typedef struct {
    int version;                 /* KELPIE_OPTIONS_VERSION */
    int method;                  /* KELPIE_METHOD_DESCRIBED (default) or KELPIE_METHOD_ACCELERATED */
    long long max_newton_steps;  /* >= 0; 0 (default): 2n */
} kelpie_options;

typedef struct {
    int version;                   /* KELPIE_INFO_VERSION, set by the caller */
    long long passes;              /* passes of the main loop (gradient from scratch, sweep) */
    long long full_sweeps;         /* sweeps that visited every variable */
    long long newton_steps;        /* Newton phases */
    long long proximal_steps;      /* proximal point steps (singular free blocks, stops short of a solution) */
    double first_order_residual;   /* the optimality test's value at x (result 0 needs <= 1e-9); NaN if not computed */
    double objective;              /* 1/2 x'Hx + f'x at x; NaN if not computed */
    const char* message;           /* the result code's reason in words (a static string) */
} kelpie_info;

#define KELPIE_OPTIONS_INIT {KELPIE_OPTIONS_VERSION, KELPIE_METHOD_DESCRIBED, 0}
#define KELPIE_INFO_INIT {KELPIE_INFO_VERSION, 0, 0, 0, 0, 0.0, 0.0, 0}

int solve_box_qp_with_options(int n, const double* H, const double* f, const double* lower, const double* upper,
                              double* x, double* lambda_lower, double* lambda_upper,
                              const kelpie_options* options, kelpie_info* info);

#ifdef __cplusplus
}
#endif

#endif
