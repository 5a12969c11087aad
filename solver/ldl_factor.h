// LDL' factor of the block of H on the free variables, kept in step with the
// free set by rank-one modifications as variables leave and enter.
#ifndef KELPIE_LDL_FACTOR_H
#define KELPIE_LDL_FACTOR_H

#include "workspace.h"

namespace kelpie {

// A pivot is accepted only when it exceeds this fraction of |H(i,i)|: a
// smaller one means column i is, to working accuracy, a combination of the
// columns already in the factor (or the block is not positive definite), and
// dividing by it would fill L, D and the Newton direction with noise or Inf.
constexpr double kPivotTolerance = 1e-10;

// Replaces the factor of the block idx[0..m) by that of the block plus
// alpha * y * y' (method C1 of Gill, Golub, Murray and Saunders). y is
// addressed by variable number and consumed. Touches only L(idx[k'], idx[k])
// for k' > k, D[idx[k]] and y[idx[k]]. Stops as soon as alpha becomes exactly 0.
void ldl_rank_one_update(int m, double* L, int n, double* D, const int* idx, double* y, double alpha);

struct FactorChanges {
    int left;      // members removed
    int entered;   // free variables added
    int kept_out;  // free variables whose pivot failed the guard
};

// Removal phase, then addition phase. On return in_factor[i] equals is_free[i]
// for every variable except free ones whose pivot failed the tolerance above;
// those stay out (in_factor 0) and L, D factor the block of the members.
FactorChanges update_free_factor(const Problem& p, Workspace& ws);

// After a move along the null direction of dependent variable i has put
// members on a bound: removes those members and, when i is still free, tries
// to add i (the guard applies). With a member gone whose direction component
// was non-zero, i no longer lies in the span of the members. Other variables
// kept out are left for the next update_free_factor.
FactorChanges exchange_for_dependent(const Problem& p, Workspace& ws, int i);

// An empty factor: no members, none kept out.
void clear_factor(int n, Workspace& ws);

// Whether removing the members that are no longer free, one rank-one
// modification each (about k m^2 operations for k of m members), costs more
// than building the factor of the rest anew (about (m - k)^3).
bool rebuilding_is_cheaper(int n, const Workspace& ws);

}  // namespace kelpie

#endif
