#include "qp_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "random_orthogonal.h"
#include "tolerances.h"

namespace kelpie_test {

namespace {

Solution run(const Qp& q, int (*solver)(int, const double*, const double*, const double*, const double*, double*,
                                         double*, double*)) {
    Solution s;
    s.x = q.x0;
    s.lambda_lower.assign(q.n, 0.0);
    s.lambda_upper.assign(q.n, 0.0);
    s.result = solver(q.n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), s.x.data(), s.lambda_lower.data(),
                      s.lambda_upper.data());
    return s;
}

}  // namespace

Solution solve(const Qp& q) { return run(q, solve_box_qp); }
Solution solve_one_at_a_time(const Qp& q) {
    Solution s{0, q.x0, std::vector<double>(q.n, 0.0), std::vector<double>(q.n, 0.0)};
    kelpie::SolveSettings settings;
    settings.additions = kelpie::Additions::kOneAtATime;
    s.result = kelpie::solve_box_qp_counted(q.n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), s.x.data(),
                                            s.lambda_lower.data(), s.lambda_upper.data(), nullptr, &settings);
    return s;
}

std::vector<double> random_spd(int n, double cond, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    const std::vector<double> Q = kelpie_bench::random_orthogonal(n, rng, normal);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> lambda(n);
    for (int k = 0; k < n; ++k) lambda[k] = std::pow(cond, n == 1 ? 0.0 : unit(rng));
    if (n > 1) {
        lambda[0] = 1.0;
        lambda[1] = cond;
    }
    std::vector<double> H(static_cast<size_t>(n) * n, 0.0);
    for (int j = 0; j < n; ++j) {
        for (int i = j; i < n; ++i) {
            double sum = 0;
            for (int k = 0; k < n; ++k) sum += Q[i + static_cast<size_t>(k) * n] * lambda[k] * Q[j + static_cast<size_t>(k) * n];
            H[i + static_cast<size_t>(j) * n] = sum;
            H[j + static_cast<size_t>(i) * n] = sum;
        }
    }
    return H;
}

std::vector<double> random_gram(int rows, int n, std::mt19937_64& rng, std::vector<double>* A) {
    std::normal_distribution<double> normal;
    A->assign(static_cast<size_t>(rows) * n, 0.0);
    for (double& e : *A) e = normal(rng);
    std::vector<double> H(static_cast<size_t>(n) * n);
    for (int j = 0; j < n; ++j) {
        for (int i = j; i < n; ++i) {
            double sum = 0;
            for (int r = 0; r < rows; ++r) sum += (*A)[r + static_cast<size_t>(i) * rows] * (*A)[r + static_cast<size_t>(j) * rows];
            H[i + static_cast<size_t>(j) * n] = sum;
            H[j + static_cast<size_t>(i) * n] = sum;
        }
    }
    return H;
}

std::vector<double> random_symmetric(int n, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    std::vector<double> H(static_cast<size_t>(n) * n);
    for (int j = 0; j < n; ++j) {
        for (int i = j; i < n; ++i) {
            const double e = normal(rng);
            H[i + static_cast<size_t>(j) * n] = e;
            H[j + static_cast<size_t>(i) * n] = e;
        }
    }
    return H;
}

std::vector<double> gradient(const Qp& q, const std::vector<double>& x) {
    std::vector<double> g(q.f);
    for (int j = 0; j < q.n; ++j) {
        for (int i = 0; i < q.n; ++i) g[i] += q.H[i + static_cast<size_t>(j) * q.n] * x[j];
    }
    return g;
}

double objective(const Qp& q, const std::vector<double>& x) {
    const std::vector<double> g = gradient(q, x);
    double sum = 0;
    for (int i = 0; i < q.n; ++i) sum += x[i] * (q.f[i] + g[i]);
    return 0.5 * sum;
}

Qp definite_problem(int n, double cond, double lower, double upper, std::mt19937_64& rng,
                    std::normal_distribution<double>& normal) {
    Qp q;
    q.n = n;
    q.H = random_spd(n, cond, rng);
    q.f.resize(n);
    for (double& e : q.f) e = normal(rng);
    q.lower.assign(n, lower);
    q.upper.assign(n, upper);
    q.x0.assign(n, 0.0);
    return q;
}

std::vector<double> least_squares_linear_term(const std::vector<double>& A, int rows, int n,
                                              const std::vector<double>& b) {
    std::vector<double> f(n, 0.0);
    for (int j = 0; j < n; ++j) {
        for (int r = 0; r < rows; ++r) f[j] -= A[r + static_cast<std::size_t>(j) * rows] * b[r];
    }
    return f;
}

Qp nonconvex_problem(int n, std::mt19937_64& rng, std::normal_distribution<double>& normal) {
    Qp q;
    q.n = n;
    q.H = random_symmetric(n, rng);
    q.f.resize(n);
    for (double& e : q.f) e = normal(rng);
    q.lower.assign(n, -1.0);
    q.upper.assign(n, 1.0);
    q.x0.assign(n, 0.0);
    return q;
}

double documented_residual(const Qp& q, const std::vector<double>& x) {
    const std::vector<double> g = gradient(q, x);
    double largest = 0.0;
    for (int i = 0; i < q.n; ++i) {
        double pg = g[i];
        if (q.lower[i] == q.upper[i]) pg = 0.0;
        else if (x[i] <= q.lower[i]) pg = std::min(g[i], 0.0);
        else if (x[i] >= q.upper[i]) pg = std::max(g[i], 0.0);
        if (pg == 0) continue;
        double terms = std::fabs(q.f[i]);
        for (int j = 0; j < q.n; ++j) terms += std::fabs(q.H[i + static_cast<size_t>(j) * q.n] * x[j]);
        largest = std::max(largest, std::fabs(pg) / terms);
    }
    return largest;
}

void expect_solution(const Qp& q, const Solution& s, const std::string& what) {
    ASSERT_EQ(s.result, KELPIE_CONVERGED) << what;
    EXPECT_LE(documented_residual(q, s.x), kelpie::kOptimalityTolerance) << what;
    const std::vector<double> g = gradient(q, s.x);
    for (int i = 0; i < q.n; ++i) {
        EXPECT_TRUE(s.x[i] >= q.lower[i] && s.x[i] <= q.upper[i]) << what;
        EXPECT_TRUE(s.lambda_lower[i] >= 0 && s.lambda_upper[i] >= 0) << what << " i " << i;
        EXPECT_TRUE(s.lambda_lower[i] == 0 || s.lambda_upper[i] == 0) << what << " i " << i;
        const bool inside = q.lower[i] < s.x[i] && s.x[i] < q.upper[i];
        EXPECT_TRUE(!inside || (s.lambda_lower[i] == 0 && s.lambda_upper[i] == 0)) << what << " i " << i;
        double terms = std::fabs(q.f[i]);
        for (int j = 0; j < q.n; ++j) terms += std::fabs(q.H[i + static_cast<size_t>(j) * q.n] * s.x[j]);
        EXPECT_LE(std::fabs(g[i] - (s.lambda_lower[i] - s.lambda_upper[i])), kelpie::kOptimalityTolerance * terms)
            << what << " i " << i;
    }
}

double kkt_residual(const Qp& q, const std::vector<double>& x) {
    const std::vector<double> g = gradient(q, x);
    double worst = 0, gmax = 0;
    for (int i = 0; i < q.n; ++i) {
        const double projected = std::min(std::max(x[i] - g[i], q.lower[i]), q.upper[i]);
        worst = std::max(worst, std::fabs(x[i] - projected));
        gmax = std::max(gmax, std::fabs(g[i]));
    }
    return worst / std::max(1.0, gmax);
}

std::vector<double> projected_gradient(const Qp& q, int max_iterations) {
    double norm = 0;  // Frobenius norm bounds the largest eigenvalue
    for (double e : q.H) norm += e * e;
    const double step = 1.0 / std::sqrt(norm);
    std::vector<double> x(q.n);
    for (int i = 0; i < q.n; ++i) x[i] = std::min(std::max(q.x0[i], q.lower[i]), q.upper[i]);
    for (int it = 0; it < max_iterations; ++it) {
        const std::vector<double> g = gradient(q, x);
        double change = 0;
        for (int i = 0; i < q.n; ++i) {
            const double next = std::min(std::max(x[i] - step * g[i], q.lower[i]), q.upper[i]);
            change = std::max(change, std::fabs(next - x[i]));
            x[i] = next;
        }
        if (change == 0) break;
    }
    return x;
}

}  // namespace kelpie_test
