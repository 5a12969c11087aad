// A random orthogonal matrix, for the generators of definite problems in the
// benchmarks and the tests.
#ifndef KELPIE_BENCH_RANDOM_ORTHOGONAL_H
#define KELPIE_BENCH_RANDOM_ORTHOGONAL_H

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace kelpie_bench {

// Columns of a random Gaussian matrix made orthonormal by modified Gram-Schmidt,
// n x n, column-major. The entries come from `normal`, which the caller may
// go on drawing from.
inline std::vector<double> random_orthogonal(int n, std::mt19937_64& rng, std::normal_distribution<double>& normal) {
    std::vector<double> Q(static_cast<std::size_t>(n) * n);
    for (double& e : Q) e = normal(rng);
    for (int j = 0; j < n; ++j) {
        double* qj = &Q[static_cast<std::size_t>(j) * n];
        for (int k = 0; k < j; ++k) {
            const double* qk = &Q[static_cast<std::size_t>(k) * n];
            double dot = 0.0;
            for (int i = 0; i < n; ++i) dot += qk[i] * qj[i];
            for (int i = 0; i < n; ++i) qj[i] -= dot * qk[i];
        }
        double norm = 0.0;
        for (int i = 0; i < n; ++i) norm += qj[i] * qj[i];
        norm = std::sqrt(norm);
        for (int i = 0; i < n; ++i) qj[i] /= norm;
    }
    return Q;
}

}  // namespace kelpie_bench

#endif
