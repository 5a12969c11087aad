#include "problems.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

extern "C" {
void dsyrk_(const char* uplo, const char* trans, const int* n, const int* k, const double* alpha, const double* a,
            const int* lda, const double* beta, double* c, const int* ldc);
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy);
}

namespace kelpie_bench {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// H := (I - 2vv') H (I - 2vv') for a random unit v: keeps the eigenvalues,
// turns the eigenvectors, in O(n^2).
void reflect(std::vector<double>& H, int n, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    std::vector<double> v(n), Hv(n, 0.0);
    double norm = 0;
    for (double& e : v) {
        e = normal(rng);
        norm += e * e;
    }
    for (double& e : v) e /= std::sqrt(norm);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) Hv[i] += H[i + static_cast<size_t>(j) * n] * v[j];
    }
    double vHv = 0;
    for (int i = 0; i < n; ++i) vHv += v[i] * Hv[i];
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            H[i + static_cast<size_t>(j) * n] += -2 * v[i] * Hv[j] - 2 * Hv[i] * v[j] + 4 * vHv * v[i] * v[j];
        }
    }
    for (int j = 0; j < n; ++j) {  // exact symmetry
        for (int i = j + 1; i < n; ++i) H[j + static_cast<size_t>(i) * n] = H[i + static_cast<size_t>(j) * n];
    }
}

std::vector<double> conditioned(int n, double cond, std::mt19937_64& rng) {
    std::vector<double> H(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) H[i + static_cast<size_t>(i) * n] = std::pow(cond, n > 1 ? double(i) / (n - 1) : 0.0);
    for (int r = 0; r < 4; ++r) reflect(H, n, rng);
    return H;
}

// f = -H t for t spread beyond [-1, 1], so that many bounds end up active.
void linear_term_for_target(Problem& p, double spread, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> uniform(-spread, spread);
    std::vector<double> t(p.n);
    for (double& e : t) e = uniform(rng);
    const int one = 1;
    const double minus_one = -1, zero = 0;
    p.f.assign(p.n, 0.0);
    dgemv_("N", &p.n, &p.n, &minus_one, p.H.data(), &p.n, t.data(), &one, &zero, p.f.data(), &one);
}

}  // namespace

const char* family_name(Family family) {
    switch (family) {
        case Family::kCondition1e2: return "cond1e2";
        case Family::kCondition1e6: return "cond1e6";
        case Family::kLeastSquares: return "nnls";
        case Family::kMixedBounds: return "mixed";
        case Family::kNonconvex: return "nonconvex";
    }
    return "?";
}

Problem make_problem(Family family, int n, std::uint64_t seed) {
    std::mt19937_64 rng(seed * 1000003u + static_cast<std::uint64_t>(family) * 7919u + n);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal;
    Problem p;
    p.n = n;
    p.lower.assign(n, -1.0);
    p.upper.assign(n, 1.0);
    switch (family) {
        case Family::kCondition1e2:
        case Family::kCondition1e6:
            p.H = conditioned(n, family == Family::kCondition1e2 ? 1e2 : 1e6, rng);
            linear_term_for_target(p, 1.6, rng);
            break;
        case Family::kMixedBounds:
            p.H = conditioned(n, 1e2, rng);
            linear_term_for_target(p, 3.0, rng);
            for (int i = 0; i < n; ++i) {
                const double kind = unit(rng);
                if (kind < 1.0 / 3) p.upper[i] = kInf;
                else if (kind < 2.0 / 3) p.lower[i] = -kInf;
                else if (kind < 5.0 / 6) p.lower[i] = -kInf, p.upper[i] = kInf;
            }
            break;
        case Family::kLeastSquares: {  // H = A'A, A of n/2 x n; f = -A'b; x >= 0
            const int rows = std::max(1, n / 2);
            std::vector<double> A(static_cast<size_t>(rows) * n), b(rows);
            for (double& e : A) e = normal(rng);
            for (double& e : b) e = normal(rng);
            p.H.assign(static_cast<size_t>(n) * n, 0.0);
            const double one_d = 1, zero = 0, minus_one = -1;
            const int one = 1;
            dsyrk_("U", "T", &n, &rows, &one_d, A.data(), &rows, &zero, p.H.data(), &n);
            for (int j = 0; j < n; ++j) {
                for (int i = j + 1; i < n; ++i) p.H[i + static_cast<size_t>(j) * n] = p.H[j + static_cast<size_t>(i) * n];
            }
            p.f.assign(n, 0.0);
            dgemv_("T", &rows, &n, &minus_one, A.data(), &rows, b.data(), &one, &zero, p.f.data(), &one);
            p.lower.assign(n, 0.0);
            p.upper.assign(n, kInf);
            break;
        }
        case Family::kNonconvex: {  // symmetric Gaussian / sqrt(n) on [0, 1]
            p.H.assign(static_cast<size_t>(n) * n, 0.0);
            const double scale = 1.0 / std::sqrt(double(n));
            for (int j = 0; j < n; ++j) {
                for (int i = j; i < n; ++i) {
                    const double e = normal(rng) * scale;
                    p.H[i + static_cast<size_t>(j) * n] = e;
                    p.H[j + static_cast<size_t>(i) * n] = e;
                }
            }
            p.f.resize(n);
            for (double& e : p.f) e = normal(rng);
            p.lower.assign(n, 0.0);
            p.upper.assign(n, 1.0);
            break;
        }
    }
    return p;
}

double objective(const Problem& p, const std::vector<double>& x) {
    std::vector<double> Hx(p.n, 0.0);
    const int one = 1;
    const double one_d = 1, zero = 0;
    dgemv_("N", &p.n, &p.n, &one_d, p.H.data(), &p.n, x.data(), &one, &zero, Hx.data(), &one);
    double sum = 0;
    for (int i = 0; i < p.n; ++i) sum += x[i] * (0.5 * Hx[i] + p.f[i]);
    return sum;
}

std::vector<double> gradient(const Problem& p, const std::vector<double>& x) {
    std::vector<double> g(p.f);
    const int one = 1;
    const double one_d = 1;
    dgemv_("N", &p.n, &p.n, &one_d, p.H.data(), &p.n, x.data(), &one, &one_d, g.data(), &one);
    return g;
}

double kkt_residual(const Problem& p, const std::vector<double>& x) {
    const std::vector<double> g = gradient(p, x);
    double worst = 0, gmax = 0;
    for (int i = 0; i < p.n; ++i) {
        worst = std::max(worst, std::fabs(x[i] - std::min(std::max(x[i] - g[i], p.lower[i]), p.upper[i])));
        gmax = std::max(gmax, std::fabs(g[i]));
    }
    return worst / std::max(1.0, gmax);
}

double relative_gradient(const Problem& p, const std::vector<double>& x) {
    const std::vector<double> g = gradient(p, x);
    double g_max = 0.0;
    double f_max = 0.0;
    for (int i = 0; i < p.n; ++i) {
        g_max = std::max(g_max, std::fabs(g[i]));
        f_max = std::max(f_max, std::fabs(p.f[i]));
    }
    return f_max > 0 ? g_max / f_max : g_max;
}

}  // namespace kelpie_bench
