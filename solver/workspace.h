// The arrays one call of solve_box_qp owns, allocated together on entry and
// released together when the Workspace goes out of scope, on every path.
#ifndef KELPIE_WORKSPACE_H
#define KELPIE_WORKSPACE_H

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace kelpie {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using HeapArray = std::unique_ptr<T[], FreeDeleter>;

// The problem as the caller passed it; every array is read only.
struct Problem {
    int n;
    const double* H;  // n x n, column-major
    const double* f;
    const double* lower;
    const double* upper;
};

inline const double* column(const Problem& p, int j) { return p.H + static_cast<std::size_t>(j) * p.n; }

struct Workspace {
    HeapArray<int> in_factor;  // 1: the variable is a member of the factor L, D
    HeapArray<int> is_free;    // 1: the variable was left strictly inside its bounds
    HeapArray<double> L;       // n x n, column-major; strictly lower part of members only
    HeapArray<double> D;       // pivots, by variable number
    HeapArray<double> g;       // gradient H x + f
    HeapArray<double> dir;     // Newton direction, by variable number
    HeapArray<int> list_a;     // scratch index lists shared by factor and Newton stage
    HeapArray<int> list_b;
    HeapArray<double> w;       // scratch vectors shared by factor and Newton stage
    HeapArray<double> v;
    HeapArray<double> z;
    HeapArray<double> trial;   // copy of the downdate vector for the pivot check of an addition
    HeapArray<int> kept_out;   // 1: failed the pivot guard, and no member has left since
    HeapArray<double> block_w; // kAppendBlock x n: solves for a block of appended or dependent variables
    HeapArray<double> block_v;
    HeapArray<double> term_sizes; // per row, the size of the terms of H x + f, for the optimality test
};

// Variables entering after the last member are added this many at a time,
// sharing one pass over the factor; the null directions of dependent
// variables are solved this many at a time too.
constexpr int kAppendBlock = 8;

// Allocates every array for n variables and zeroes the flags. Returns false,
// holding nothing, when memory is short or n * n doubles overflow size_t.
bool allocate_workspace(int n, Workspace* ws);

}  // namespace kelpie

#endif
