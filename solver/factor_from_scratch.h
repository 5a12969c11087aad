// The free-set factor built anew in one piece, by LAPACK's blocked Cholesky
// factorization, for the accelerated method.
#ifndef KELPIE_FACTOR_FROM_SCRATCH_H
#define KELPIE_FACTOR_FROM_SCRATCH_H

#include "ldl_factor.h"
#include "workspace.h"

namespace kelpie {

// With no member in the factor and at least kSmallestBlockBuild free
// variables, factors the block of H on every free
// variable as C C' (dpotrf) and stores it in the factor's form: D = diag(C)^2,
// L = C diag(C)^-1. Succeeds, with every free variable a member, only when
// the block is definite to dpotrf and every pivot passes the factor's guard;
// otherwise returns false with the factor still empty, for the additions one
// at a time to build it and keep out what the guard refuses. The result is
// the factor the additions would build, with other rounding.
bool build_factor_from_scratch(const Problem& p, Workspace& ws, FactorChanges* changes);

// update_free_factor, except that a factor with no member is first tried in
// one piece by build_factor_from_scratch.
FactorChanges update_or_build_free_factor(const Problem& p, Workspace& ws, Additions additions = Additions::kBatched);

}  // namespace kelpie

#endif
