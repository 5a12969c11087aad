// Triangular solves with the free-set factor for kAppendBlock right-hand
// sides at once, stored side by side: W[r * kAppendBlock + j] is entry r of
// side j, for the member list[r]. One pass over L serves every side, and each
// entry receives the operations, in the order, of the solve with one side.
#ifndef KELPIE_BLOCK_SOLVE_H
#define KELPIE_BLOCK_SOLVE_H

#include "workspace.h"

namespace kelpie {

// Variables whose sides were formed together; `used` of them have been
// taken, in ascending order.
struct VariableBatch {
    int variable[kAppendBlock];
    int count;
    int used;
    // For a batch of dependent variables: the curvature along each one's
    // null direction (see solve_block).
    double curvature[kAppendBlock];
};

// W[r * kAppendBlock + t] = H(list[r], variables[t]) (negated when `negate`)
// for the rows r < m and the sides t < count; the unused sides are zero, so
// that every side holds finite numbers.
void gather_sides(const Problem& p, const int* variables, int count, const int* list, int m, bool negate, double* W);

// Forward substitution with the unit lower factor of the members list[0..count):
// entry r takes its subtractions in ascending column order.
void substitute_block(const double* L, int n, const int* list, int count, double* W);

// The part of it that the columns of the members list[first..last) make:
// each entry r > s takes column s's subtraction, in ascending column order.
// Run over consecutive ranges, it gives the bits of substitute_block; a side
// can be read off between two ranges, having taken only the columns before.
void substitute_block_columns(const double* L, int n, const int* list, int count, int first, int last, double* W);

// Solves L diag(D) L' X = W on the members list[0..count), X overwriting W:
// the forward substitution above, the division by the pivots, and the backward
// substitution, in which entry r takes its subtractions in ascending order of
// the later members. With F the result of the forward substitution, each
// reduced[t] (holding H(i, i) of side t's variable i on entry) loses
// F(r, t) * (F(r, t) / D[list[r]]) for r in ascending order, on the way: for
// a side -H(list, i) that leaves the pivot i would get in the factor, which is
// the curvature d'Hd along i's null direction d.
void solve_block(const double* L, const double* D, int n, const int* list, int count, double* W, double* reduced);

}  // namespace kelpie

#endif
