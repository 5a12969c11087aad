// Benchmark problem families, generated in-process from a seed.
#ifndef KELPIE_BENCH_PROBLEMS_H
#define KELPIE_BENCH_PROBLEMS_H

#include <cstdint>
#include <string>
#include <vector>

namespace kelpie_bench {

enum class Family { kCondition1e2, kCondition1e6, kLeastSquares, kMixedBounds, kNonconvex };

struct Problem {
    int n = 0;
    std::vector<double> H, f, lower, upper;
};

const char* family_name(Family family);
Problem make_problem(Family family, int n, std::uint64_t seed);

double objective(const Problem& p, const std::vector<double>& x);
double kkt_residual(const Problem& p, const std::vector<double>& x);
// g = H x + f.
std::vector<double> gradient(const Problem& p, const std::vector<double>& x);
// max|g| / max|f| at x. On the least-squares family it tells an exact fit (b
// in the cone of A's columns: g = A'(Ax - b) vanishes everywhere, to rounding)
// from a fit with a residual.
double relative_gradient(const Problem& p, const std::vector<double>& x);

}  // namespace kelpie_bench

#endif
