// The accelerated step rule: the Newton step followed along the projected
// path, which can fix many variables on their bounds in one step.
#ifndef KELPIE_PROJECTED_SEARCH_H
#define KELPIE_PROJECTED_SEARCH_H

#include "workspace.h"

namespace kelpie {

// With the Newton direction of the members in ws.scratch.direction (on members[0..count)),
// tries x(t) = clip(x + t d) for t = 1, 1/2, 1/4, ... while x(t) still puts
// some member on a bound, and takes the first with
//     q(x(t)) - q(x) <= kSufficientDecrease * g'(x(t) - x) < 0.
// The members it puts on a bound get exactly that bound and leave the free
// set; *sweep_all becomes 0. Returns false, with x and the flags untouched,
// when no such t lies beyond the first bound (the described step rule is then
// the right one). Uses index[1], index[2] and vector[1..3] of ws.scratch.
bool take_projected_step(const Problem& p, double* x, Workspace& ws, const int* members, int count, int* sweep_all);

}  // namespace kelpie

#endif
