// Newton direction on the members of the factor, the interval of feasible
// step lengths along it, and the step rule.
#ifndef KELPIE_NEWTON_STEP_H
#define KELPIE_NEWTON_STEP_H

#include "ldl_factor.h"
#include "tolerances.h"
#include "workspace.h"

namespace kelpie {

// Minimises slope*t + curvature*t^2/2 over [t_min, t_max] and reports whether
// the step is an end of the interval.
void choose_step(double t_min, double t_max, double slope, double curvature, double* step, int* at_lower_end,
                 int* at_upper_end);

enum class NewtonOutcome { kDone, kUnbounded };

// One Newton stage, after update_free_factor. Moves x along the Newton
// direction of the members (or, when a free variable was kept out of the
// factor, along the direction its dependence on the members defines), fixes
// the variables it puts on a bound, and sets *sweep_all. Reports kUnbounded,
// with x untouched, when the chosen step would be an infinite end.
//
// When a free variable kept out of the factor moves along its null direction
// and puts members on a bound, the stage removes those members from the
// factor, tries to add that variable, and takes the Newton step of the new
// members; what this changed in the factor is added to *changes (when not
// null).
//
// With projected_search the Newton step of the members is first followed
// along the projected path (take_projected_step); the step rule above is
// taken where that finds no point.
NewtonOutcome newton_stage(const Problem& p, double* x, Workspace& ws, int* sweep_all,
                           FactorChanges* changes = nullptr, bool projected_search = false);

// The Newton direction of the members list[0..members): dir = -H_FF^-1 g_F,
// solved with the factor, at the member positions of dir.
void newton_direction(int n, const FreeFactor& factor, const int* list, int members, const double* g, double* dir);

// w[k] = sum over the support of H(k, i) dir[i], for k in the support, each
// w[k] summing in ascending support order; reads the lower triangle of H on
// the support once.
void multiply_on_support(const Problem& p, const int* support, int count, const double* dir, double* w);

}  // namespace kelpie

#endif
