// Block principal pivoting for the proximal subproblems of the accelerated
// method (block_exchange.cpp).
#ifndef KELPIE_BLOCK_EXCHANGE_H
#define KELPIE_BLOCK_EXCHANGE_H

#include "workspace.h"

namespace kelpie {

// Tries to solve p, from the point x inside the box, by exchanging whole sets
// of variables between free and held. p's H must be definite on the blocks
// the exchanges reach; a block the factor does not take ends the attempt, and
// a start with no variable on a bound is not tried. On success (true) x holds
// a point where no variable is on the wrong side of the optimality
// conditions, to the accuracy of the factor's solve, and q is no higher there
// than at the start; otherwise x is as it was. Either way the free flags are
// those of x's position; g is left as scratch, and the factor for the next
// update_free_factor to bring in step.
bool solve_by_block_exchange(const Problem& p, Workspace& ws, double* x);

}  // namespace kelpie

#endif
