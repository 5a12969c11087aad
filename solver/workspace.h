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

// Variables entering after the last member are added this many at a time,
// sharing one pass over the factor; the null directions of dependent
// variables are solved this many at a time too.
constexpr int kAppendBlock = 8;

// What persists from one pass of the main loop to the next, besides x itself
// (the caller's array).
struct Iterate {
    HeapArray<double> g;     // H x + f
    HeapArray<int> is_free;  // 1: the variable was left strictly inside its bounds
};

// The LDL' factor of the block of H on its members, kept in step with the
// free set across passes.
struct FreeFactor {
    HeapArray<double> L;         // n x n, column-major; L(r, c) for members r > c
    HeapArray<double> D;         // pivots, by variable number
    HeapArray<int> in_factor;    // 1: the variable is a member
    HeapArray<int> kept_out;     // 1: failed the pivot guard, and no member has left since
};

// Scratch for the factor's modifications and the Newton stage: each function
// names the role it gives an array where it takes it. Only the direction is
// handed on, from the solve that forms it to the move along it.
struct Scratch {
    HeapArray<int> index[3];        // n each: lists of variables
    HeapArray<double> vector[4];    // n each
    HeapArray<double> block[2];     // kAppendBlock x n each: several right-hand sides side by side
    HeapArray<double> direction;    // n: a direction of x, by variable number
    HeapArray<double> term_sizes;   // n: per row, the size of the terms of H x + f
};

struct Workspace {
    Iterate iterate;
    FreeFactor factor;
    Scratch scratch;
};

// A member of the factor that is no longer free: the next update removes it.
inline bool leaving(const Workspace& ws, int i) { return ws.factor.in_factor[i] != 0 && ws.iterate.is_free[i] == 0; }
// A free variable that is not a member: the next update tries to add it.
inline bool entering(const Workspace& ws, int i) { return ws.factor.in_factor[i] == 0 && ws.iterate.is_free[i] != 0; }

// Allocates every array for n variables and zeroes the flags. Returns false,
// holding nothing, when memory is short or n * n doubles overflow size_t.
bool allocate_workspace(int n, Workspace* ws);

}  // namespace kelpie

#endif
