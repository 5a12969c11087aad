// The test that a point is a solution: first-order optimality measured by the
// projected gradient, each entry scaled by the size of the terms it is made of.
#ifndef KELPIE_OPTIMALITY_H
#define KELPIE_OPTIMALITY_H

#include "tolerances.h"
#include "workspace.h"

namespace kelpie {

// max_i |pg_i| / s_i, where pg is the projected gradient (g_i for a variable
// strictly inside its bounds, min(g_i, 0) at its lower bound, max(g_i, 0) at
// its upper, 0 when the two bounds are equal) and s_i = |f_i| + sum_j
// |H_ij x_j|, the size of the terms g_i is made of: each entry is judged
// against what it was computed from, so a huge entry of f or H in one row
// cannot hide a large gradient in another. The same for a problem multiplied
// by any positive number. 0 when pg is 0; else reads H once, column by column,
// summing the row sizes into term_sizes (n values).
double first_order_residual(const Problem& p, const double* x, const double* g, double* term_sizes);

// first_order_residual(...) <= tolerance, without the pass over H where each
// entry already passes against part of its row's terms (|f_i| + |H_ii x_i|).
bool passes_optimality_test(const Problem& p, const double* x, const double* g, double tolerance,
                            double* term_sizes);

}  // namespace kelpie

#endif
