// The singular and nearly singular benchmark families, with two definite
// ones for reference, generated from a seed, and the grid problems of
// grid_problems.h.
#ifndef KELPIE_BENCH_SINGULAR_PROBLEMS_H
#define KELPIE_BENCH_SINGULAR_PROBLEMS_H

#include <string>
#include <vector>

namespace kelpie_bench {

struct NamedProblem {
    std::string name;
    int n = 0;
    std::vector<double> H, f, lower, upper;
};

// The eight families at size n, in a fixed order, from the seed 1000 + n, then
// torsion with c = 5 and c = 20 and the journal bearing on a grid of
// floor(sqrt(n))^2 points.
std::vector<NamedProblem> singular_families(int n);

}  // namespace kelpie_bench

#endif
