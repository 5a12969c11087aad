#include "singular_problems.h"

#include "grid_problems.h"
#include "random_orthogonal.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace kelpie_bench {

namespace {

// A' A for A of rows x n entries from N(0, 1); A returned column-major.
std::vector<double> gram(int rows, int n, std::mt19937_64& rng, std::vector<double>* A) {
    std::normal_distribution<double> normal;
    A->resize(static_cast<size_t>(rows) * n);
    for (double& a : *A) a = normal(rng);
    std::vector<double> H(static_cast<size_t>(n) * n);
    for (int j = 0; j < n; ++j) {
        for (int i = j; i < n; ++i) {
            double sum = 0.0;
            for (int r = 0; r < rows; ++r) sum += (*A)[r + static_cast<size_t>(i) * rows] * (*A)[r + static_cast<size_t>(j) * rows];
            H[i + static_cast<size_t>(j) * n] = sum;
            H[j + static_cast<size_t>(i) * n] = sum;
        }
    }
    return H;
}

NamedProblem low_rank(int n, int rank, double shift, double box, std::mt19937_64& rng, const char* name) {
    std::normal_distribution<double> normal;
    std::vector<double> V;
    NamedProblem q{name, n, gram(rank, n, rng, &V), std::vector<double>(n), std::vector<double>(n, -box),
         std::vector<double>(n, box)};
    for (int i = 0; i < n; ++i) q.H[i + static_cast<size_t>(i) * n] += shift;
    for (double& e : q.f) e = normal(rng);
    return q;
}

NamedProblem least_squares(int n, bool exact, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    const int rows = n / 2;
    std::vector<double> A;
    NamedProblem q{exact ? "nnls exact" : "nnls residual", n, gram(rows, n, rng, &A), std::vector<double>(n, 0.0),
         std::vector<double>(n, 0.0), std::vector<double>(n, HUGE_VAL)};
    std::vector<double> b(rows, 0.0);
    for (int j = 0; j < n && exact; ++j) {
        const double t = std::max(0.0, normal(rng));
        for (int r = 0; r < rows; ++r) b[r] += A[r + static_cast<size_t>(j) * rows] * t;
    }
    for (int r = 0; r < rows && !exact; ++r) b[r] = normal(rng);
    for (int j = 0; j < n; ++j) {
        for (int r = 0; r < rows; ++r) q.f[j] -= A[r + static_cast<size_t>(j) * rows] * b[r];
    }
    return q;
}

// Linear-kernel SVM dual with the bias in the kernel, 13 features, two
// overlapping Gaussian classes: Q = (y y') .* (X X' + 1), rank 14.
NamedProblem svm_dual(int n, double C, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    const int features = 13;
    std::vector<double> X(static_cast<size_t>(n) * features), y(n);
    for (int i = 0; i < n; ++i) {
        y[i] = i % 2 == 0 ? 1.0 : -1.0;
        for (int k = 0; k < features; ++k) X[i + static_cast<size_t>(k) * n] = normal(rng) + 0.3 * y[i];
    }
    NamedProblem q{"svm dual", n, std::vector<double>(static_cast<size_t>(n) * n), std::vector<double>(n, -1.0),
         std::vector<double>(n, 0.0), std::vector<double>(n, C)};
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            double k = 1.0;
            for (int f = 0; f < features; ++f) k += X[i + static_cast<size_t>(f) * n] * X[j + static_cast<size_t>(f) * n];
            q.H[i + static_cast<size_t>(j) * n] = y[i] * y[j] * k;
        }
    }
    return q;
}

// H = Q diag(lambda) Q' with lambda log-spaced over [1, cond], Q from the QR
// of a Gaussian matrix (modified Gram-Schmidt), bounds [-1, 1], f random.
NamedProblem definite(int n, double cond, std::mt19937_64& rng, const char* name) {
    std::normal_distribution<double> normal;
    const std::vector<double> Q = random_orthogonal(n, rng, normal);
    NamedProblem q{name, n, std::vector<double>(static_cast<size_t>(n) * n, 0.0), std::vector<double>(n),
         std::vector<double>(n, -1.0), std::vector<double>(n, 1.0)};
    for (int k = 0; k < n; ++k) {
        const double lambda = std::pow(cond, n > 1 ? static_cast<double>(k) / (n - 1) : 0.0);
        const double* qk = &Q[static_cast<size_t>(k) * n];
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) q.H[i + static_cast<size_t>(j) * n] += lambda * qk[i] * qk[j];
        }
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < j; ++i) q.H[i + static_cast<size_t>(j) * n] = q.H[j + static_cast<size_t>(i) * n];
    }
    for (double& e : q.f) e = 3.0 * normal(rng);
    return q;
}

}  // namespace

std::vector<NamedProblem> singular_families(int n) {
    std::mt19937_64 rng(1000 + n);
    const int side = static_cast<int>(std::sqrt(static_cast<double>(n)));  // grid problems: side x side
    // Braced, so the generators draw from rng in this order.
    return std::vector<NamedProblem>{
        low_rank(n, 2, 0.0, 1.0, rng, "rank 2, [-1,1]"),
        low_rank(n, n / 4, 0.0, 1.0, rng, "rank n/4, [-1,1]"),
        low_rank(n, n / 3, 1e-13, 2.0, rng, "A'A+1e-13 I"),
        least_squares(n, true, rng),
        least_squares(n, false, rng),
        svm_dual(n, 20.0, rng),
        definite(n, 1e2, rng, "definite cond 1e2"),
        definite(n, 1e6, rng, "definite cond 1e6"),
        torsion(side, side, 5.0),
        torsion(side, side, 20.0),
        journal_bearing(side, side, 10.0, 0.1),
    };
}

}  // namespace kelpie_bench
