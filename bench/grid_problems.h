// Two bound-constrained quadratic problems on a grid, from their published
// definitions (the MINPACK-2 collection, Averick, Carter, More and Xue, 1992),
// with piecewise linear finite elements on the triangles of an nx x ny grid of
// interior points; the boundary values are 0.
#ifndef KELPIE_BENCH_GRID_PROBLEMS_H
#define KELPIE_BENCH_GRID_PROBLEMS_H

#include "singular_problems.h"

namespace kelpie_bench {

// Elastic-plastic torsion: minimise 1/2 int |grad v|^2 - c int v on the unit
// square, subject to |v(x)| <= dist(x, boundary).
NamedProblem torsion(int nx, int ny, double c);

// Journal bearing: minimise int 1/2 w_q |grad v|^2 - w_l v on (0, 2 pi) x
// (0, 2 b), subject to v >= 0, with w_q = (1 + eps cos x1)^3, w_l = eps sin x1.
NamedProblem journal_bearing(int nx, int ny, double b, double eps);

// For the torsion problem with c small enough that no bound holds (c < 2.9),
// the value of the continuous problem: -c^2 J / 8, with J the torsion
// constant of the unit square (Saint-Venant's series).
double elastic_torsion_value(double c);

}  // namespace kelpie_bench

#endif
