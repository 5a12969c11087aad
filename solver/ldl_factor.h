// LDL' factor of the block of H on the free variables, kept in step with the
// free set by rank-one modifications as variables leave and enter.
#ifndef KELPIE_LDL_FACTOR_H
#define KELPIE_LDL_FACTOR_H

#include "tolerances.h"
#include "workspace.h"

namespace kelpie {

// Replaces the factor of the block idx[0..m) by that of the block plus
// alpha * y * y' (method C1 of Gill, Golub, Murray and Saunders). y is
// addressed by variable number and consumed. Touches only L(idx[k'], idx[k])
// for k' > k, D[idx[k]] and y[idx[k]]. Stops as soon as alpha becomes exactly 0.
void ldl_rank_one_update(int m, double* L, int n, double* D, const int* idx, double* y, double alpha);

struct FactorChanges {
    int left;      // members removed
    int entered;   // free variables added
    int kept_out;  // free variables whose pivot failed the guard
    int built_in_one_piece = 0;  // 1: by LAPACK (factor_from_scratch.h), not by these changes
};

// How the addition phase forms the entering variables' columns: several that
// share a pass over L at once (the shipped way), or each on its own (the
// reference the tests compare it with; the same bits).
enum class Additions { kBatched, kOneAtATime };

// Removal phase, then addition phase. On return in_factor[i] equals is_free[i]
// for every variable except free ones whose pivot failed the tolerance; those
// stay out (in_factor 0) and L, D factor the block of the members.
FactorChanges update_free_factor(const Problem& p, Workspace& ws, Additions additions = Additions::kBatched);

// After a move along the null direction of dependent variable i has put
// members on a bound: removes those members and, when i is still free, tries
// to add i (the guard applies). With a member gone whose direction component
// was non-zero, i no longer lies in the span of the members. Other variables
// kept out are left for the next update_free_factor.
FactorChanges exchange_for_dependent(const Problem& p, Workspace& ws, int i);

// An empty factor: no members, none kept out.
void clear_factor(int n, FreeFactor& factor);

// Whether bringing the factor in step member by member costs more than
// building the factor of the new free set anew. Among m members a removal
// costs about m^2 / 6 multiply-adds on average (the rank-one modification of
// the later block); an addition before the last member about 2 m^2 / 3 (m^2 / 2
// for its column, wherever it goes, and m^2 / 6 for the downdate of the later
// block); additions past the last member cost the same either way. Building K
// members anew costs about K^3 / 6, done kBatchedBuildSpeedup times as fast.
bool rebuilding_is_cheaper(int n, const Workspace& ws);

// What the tests and benchmarks read of the factor: membership, the pivot of
// a member and, for members row > col, the entry L(row, col).
inline bool is_member(const FreeFactor& factor, int i) { return factor.in_factor[i] != 0; }
inline double factor_pivot(const FreeFactor& factor, int i) { return factor.D[i]; }
inline double factor_entry(const FreeFactor& factor, int n, int row, int col) {
    return factor.L[row + static_cast<std::size_t>(col) * n];
}

// The members in ascending order, with `extra` (a variable number, or -1)
// among them; returns their number.
int list_members(int n, const FreeFactor& factor, int extra, int* list);

}  // namespace kelpie

#endif
