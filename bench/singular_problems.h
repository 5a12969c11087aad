// The singular and nearly singular benchmark families, with two definite
// ones for reference, generated from a seed.
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

// The eight families at size n, in a fixed order, from the seed 1000 + n.
std::vector<NamedProblem> singular_families(int n);

}  // namespace kelpie_bench

#endif
