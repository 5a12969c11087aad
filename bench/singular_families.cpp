// Singular and nearly singular families, timed with kelpie and written to
// files that bench/ip_reference.py solves with an interior-point method in
// the same run (bench/singular.sh runs both and prints the ratios).
//
//   singular_families OUT_DIR N [N ...]
//
// Prints one line per problem: family, n, then for the described and the
// accelerated method each: result, first-order residual (the test behind
// result 0), objective, seconds (median of 3, or one solve when it takes
// over 0.5 s), passes and proximal steps. Two definite families stand beside
// the singular ones for reference.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "optimality.h"
#include "workspace.h"

namespace {

struct Qp {
    std::string name;
    int n = 0;
    std::vector<double> H, f, lower, upper;
};

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

Qp low_rank(int n, int rank, double shift, double box, std::mt19937_64& rng, const char* name) {
    std::normal_distribution<double> normal;
    std::vector<double> V;
    Qp q{name, n, gram(rank, n, rng, &V), std::vector<double>(n), std::vector<double>(n, -box),
         std::vector<double>(n, box)};
    for (int i = 0; i < n; ++i) q.H[i + static_cast<size_t>(i) * n] += shift;
    for (double& e : q.f) e = normal(rng);
    return q;
}

Qp least_squares(int n, bool exact, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    const int rows = n / 2;
    std::vector<double> A;
    Qp q{exact ? "nnls exact" : "nnls residual", n, gram(rows, n, rng, &A), std::vector<double>(n, 0.0),
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
Qp svm_dual(int n, double C, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    const int features = 13;
    std::vector<double> X(static_cast<size_t>(n) * features), y(n);
    for (int i = 0; i < n; ++i) {
        y[i] = i % 2 == 0 ? 1.0 : -1.0;
        for (int k = 0; k < features; ++k) X[i + static_cast<size_t>(k) * n] = normal(rng) + 0.3 * y[i];
    }
    Qp q{"svm dual", n, std::vector<double>(static_cast<size_t>(n) * n), std::vector<double>(n, -1.0),
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

struct Run {
    int result = 0;
    double seconds = 0.0;
    double residual = 0.0;
    double objective = 0.0;
    kelpie::SolveStats stats;
};

// H = Q diag(lambda) Q' with lambda log-spaced over [1, cond], Q from the QR
// of a Gaussian matrix (modified Gram-Schmidt), bounds [-1, 1], f random.
Qp definite(int n, double cond, std::mt19937_64& rng, const char* name) {
    std::normal_distribution<double> normal;
    std::vector<double> Q(static_cast<size_t>(n) * n);
    for (double& e : Q) e = normal(rng);
    for (int j = 0; j < n; ++j) {
        double* qj = &Q[static_cast<size_t>(j) * n];
        for (int k = 0; k < j; ++k) {
            const double* qk = &Q[static_cast<size_t>(k) * n];
            double dot = 0.0;
            for (int i = 0; i < n; ++i) dot += qk[i] * qj[i];
            for (int i = 0; i < n; ++i) qj[i] -= dot * qk[i];
        }
        double norm = 0.0;
        for (int i = 0; i < n; ++i) norm += qj[i] * qj[i];
        norm = std::sqrt(norm);
        for (int i = 0; i < n; ++i) qj[i] /= norm;
    }
    Qp q{name, n, std::vector<double>(static_cast<size_t>(n) * n, 0.0), std::vector<double>(n),
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

Run solve(const Qp& q, bool accelerated) {
    const int n = q.n;
    std::vector<double> times;
    Run run;
    for (int k = 0; k < 3; ++k) {
        std::vector<double> x(n, 0.0), lambda_lower(n, 0.0), lambda_upper(n, 0.0);
        const auto start = std::chrono::steady_clock::now();
        kelpie::SolveSettings settings;
        settings.projected_search = accelerated;
        run.result = kelpie::solve_box_qp_counted(n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), x.data(),
                                                  lambda_lower.data(), lambda_upper.data(), &run.stats, &settings);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::vector<double> g(q.f), sizes(n);
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) g[i] += q.H[i + static_cast<size_t>(j) * n] * x[j];
        }
        const kelpie::Problem p{n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data()};
        run.residual = kelpie::first_order_residual(p, x.data(), g.data(), sizes.data());
        run.objective = 0.0;
        for (int i = 0; i < n; ++i) run.objective += 0.5 * x[i] * (g[i] + q.f[i]);
        if (times.back() > 0.5) break;
    }
    std::sort(times.begin(), times.end());
    run.seconds = times[times.size() / 2];
    return run;
}

void write(const Qp& q, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const int n = q.n;
    std::fwrite(&n, sizeof n, 1, file);
    std::fwrite(q.H.data(), sizeof(double), q.H.size(), file);
    std::fwrite(q.f.data(), sizeof(double), n, file);
    std::fwrite(q.lower.data(), sizeof(double), n, file);
    std::fwrite(q.upper.data(), sizeof(double), n, file);
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR N [N ...]\n", argv[0]);
        return 2;
    }
    int index = 0;
    for (int a = 2; a < argc; ++a) {
        const int n = std::atoi(argv[a]);
        std::mt19937_64 rng(1000 + n);
        const std::vector<Qp> problems = {
            low_rank(n, 2, 0.0, 1.0, rng, "rank 2, [-1,1]"),
            low_rank(n, n / 4, 0.0, 1.0, rng, "rank n/4, [-1,1]"),
            low_rank(n, n / 3, 1e-13, 2.0, rng, "A'A+1e-13 I"),
            least_squares(n, true, rng),
            least_squares(n, false, rng),
            svm_dual(n, 20.0, rng),
            definite(n, 1e2, rng, "definite cond 1e2"),
            definite(n, 1e6, rng, "definite cond 1e6"),
        };
        for (const Qp& q : problems) {
            write(q, std::string(argv[1]) + "/problem" + std::to_string(index++) + ".bin");
            std::printf("%-18s %5d", q.name.c_str(), n);
            for (bool accelerated : {false, true}) {
                const Run r = solve(q, accelerated);
                std::printf("  result %3d residual %.1e objective %.12g %.6f s passes %lld proximal %lld", r.result,
                            r.residual, r.objective, r.seconds, r.stats.passes, r.stats.proximal_steps);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
