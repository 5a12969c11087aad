// Whole-solver properties on seeded random problems: first-order optimality,
// agreement with an independent method, multipliers that match the gradient,
// both loop orders giving the same bits, and calls from many threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "qp_test_util.h"

namespace {

using kelpie_test::Qp;
using kelpie_test::Solution;

constexpr double kInf = std::numeric_limits<double>::infinity();

enum class Family { kConvex, kIllConditioned, kLeastSquares, kNonconvex };

// Bounds of mixed kinds (finite, one-sided, none, equal) and a start inside,
// outside or on the box. f = -H t for a target t that lies partly outside,
// so that a good share of the bounds end up active.
Qp random_problem(Family family, int n, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0), wide(-3.0, 3.0);
    Qp q;
    q.n = n;
    std::vector<double> A;
    switch (family) {
        case Family::kConvex: q.H = kelpie_test::random_spd(n, 1e2, rng); break;
        case Family::kIllConditioned: q.H = kelpie_test::random_spd(n, 1e6, rng); break;
        case Family::kLeastSquares: q.H = kelpie_test::random_gram(std::max(1, n / 2), n, rng, &A); break;
        case Family::kNonconvex: q.H = kelpie_test::random_symmetric(n, rng); break;
    }
    q.f.assign(n, 0.0);
    q.lower.resize(n);
    q.upper.resize(n);
    q.x0.resize(n);
    if (family == Family::kLeastSquares) {  // f = -A'b, x >= 0
        const int rows = std::max(1, n / 2);
        std::normal_distribution<double> normal;
        std::vector<double> b(rows);
        for (double& e : b) e = normal(rng);
        q.f = kelpie_test::least_squares_linear_term(A, rows, n, b);
        for (int j = 0; j < n; ++j) {
            q.lower[j] = 0.0;
            q.upper[j] = kInf;
            q.x0[j] = unit(rng) < 0.5 ? 0.0 : unit(rng);
        }
        return q;
    }
    std::vector<double> target(n);
    for (double& t : target) t = wide(rng);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) q.f[i] -= q.H[i + static_cast<size_t>(j) * n] * target[j];
        const double kind = unit(rng);
        q.lower[i] = -1.0;
        q.upper[i] = 1.0;
        if (family != Family::kNonconvex) {
            if (kind < 0.15) q.lower[i] = -kInf;
            else if (kind < 0.3) q.upper[i] = kInf;
            else if (kind < 0.4) q.lower[i] = -kInf, q.upper[i] = kInf;
            else if (kind < 0.45) q.lower[i] = q.upper[i] = 0.25;
        }
        const double start = unit(rng);
        q.x0[i] = start < 0.4 ? wide(rng) : (start < 0.6 ? q.lower[i] : 0.0);
        if (!std::isfinite(q.x0[i])) q.x0[i] = 0.0;
    }
    return q;
}

// x in the box, finite multipliers that carry the gradient of the variables
// held at bounds, and a multiplier only on a side whose bound x rests on.
void expect_sound_solution(const Qp& q, const Solution& s, double tolerance, const char* what) {
    const std::vector<double> g = kelpie_test::gradient(q, s.x);
    double gmax = 1.0;
    for (double e : g) gmax = std::max(gmax, std::fabs(e));
    for (int i = 0; i < q.n; ++i) {
        ASSERT_TRUE(std::isfinite(s.x[i])) << what << " i " << i;
        EXPECT_GE(s.x[i], q.lower[i]) << what;
        EXPECT_LE(s.x[i], q.upper[i]) << what;
        EXPECT_TRUE(s.lambda_lower[i] >= 0 && std::isfinite(s.lambda_lower[i])) << what;
        EXPECT_TRUE(s.lambda_upper[i] >= 0 && std::isfinite(s.lambda_upper[i])) << what;
        EXPECT_LE(std::fabs(g[i] - (s.lambda_lower[i] - s.lambda_upper[i])), tolerance * gmax) << what << " i " << i;
        if (s.lambda_lower[i] > tolerance * gmax) {
            EXPECT_EQ(s.x[i], q.lower[i]) << what << " i " << i;
        }
        if (s.lambda_upper[i] > tolerance * gmax) {
            EXPECT_EQ(s.x[i], q.upper[i]) << what << " i " << i;
        }
    }
    EXPECT_LT(kelpie_test::kkt_residual(q, s.x), tolerance) << what;
}

TEST(SolverProperties, ConvexProblemsAreSolvedAndMatchProjectedGradient) {
    std::mt19937_64 rng(1);
    for (int n : {1, 2, 3, 5, 8, 13, 20}) {
        for (int trial = 0; trial < 12; ++trial) {
            const Qp q = random_problem(Family::kConvex, n, rng);
            kelpie::SolveStats stats;
            Solution s;
            s.x = q.x0;
            s.lambda_lower.assign(n, 0.0);
            s.lambda_upper.assign(n, 0.0);
            s.result = kelpie::solve_box_qp_counted(n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(),
                                                    s.x.data(), s.lambda_lower.data(), s.lambda_upper.data(), &stats);
            EXPECT_EQ(s.result, KELPIE_CONVERGED) << "n " << n << " trial " << trial;
            EXPECT_LE(stats.newton_phases, 2LL * n);
            // A positive definite free block never trips the pivot guard.
            EXPECT_EQ(stats.dependent_phases, 0);
            EXPECT_EQ(stats.kept_out, 0);
            EXPECT_GE(stats.full_sweeps, 1);
            expect_sound_solution(q, s, 1e-9, "convex");
            const std::vector<double> reference = kelpie_test::projected_gradient(q, 200000);
            const double f_solver = kelpie_test::objective(q, s.x), f_ref = kelpie_test::objective(q, reference);
            EXPECT_NEAR(f_solver, f_ref, 1e-9 * std::max(1.0, std::fabs(f_ref))) << "n " << n << " trial " << trial;
        }
    }
}

TEST(SolverProperties, LargerAndIllConditionedProblemsReachKkt) {
    std::mt19937_64 rng(2);
    for (int n : {50, 200}) {
        for (int trial = 0; trial < 3; ++trial) {
            const Qp q = random_problem(Family::kConvex, n, rng);
            const Solution s = kelpie_test::solve(q);
            EXPECT_EQ(s.result, KELPIE_CONVERGED);
            expect_sound_solution(q, s, 1e-9, "convex, larger n");
        }
    }
    for (int n : {5, 20, 100}) {
        for (int trial = 0; trial < 4; ++trial) {
            const Qp q = random_problem(Family::kIllConditioned, n, rng);
            const Solution s = kelpie_test::solve(q);
            EXPECT_EQ(s.result, KELPIE_CONVERGED);
            expect_sound_solution(q, s, 1e-7, "condition 1e6");
        }
    }
}

// H = A'A with A wider than tall: singular free blocks. The answer must be a
// finite KKT point, never NaN, with result 0.
TEST(SolverProperties, SemidefiniteLeastSquaresReachKkt) {
    std::mt19937_64 rng(3);
    for (int n : {2, 3, 6, 11, 40, 150}) {
        for (int trial = 0; trial < 6; ++trial) {
            const Qp q = random_problem(Family::kLeastSquares, n, rng);
            const Solution s = kelpie_test::solve(q);
            EXPECT_EQ(s.result, KELPIE_CONVERGED);
            expect_sound_solution(q, s, 1e-9, "least squares");
        }
    }
    // The plainest singular case, from several starts.
    for (double start : {0.0, 0.3, 5.0}) {
        const Qp q{2, {1, 1, 1, 1}, {-1, -1}, {0, 0}, {kInf, kInf}, {start, 0.0}};
        const Solution s = kelpie_test::solve(q);
        EXPECT_EQ(s.result, KELPIE_CONVERGED);
        expect_sound_solution(q, s, 1e-12, "H = [1 1; 1 1]");
        EXPECT_NEAR(kelpie_test::objective(q, s.x), -0.5, 1e-12);
    }
}

// Indefinite H on [-1, 1]: a finite first-order KKT point with result 0 or 99.
TEST(SolverProperties, NonconvexProblemsEndAtKktPoints) {
    std::mt19937_64 rng(4);
    for (int n : {1, 2, 4, 9, 30, 80}) {
        for (int trial = 0; trial < 8; ++trial) {
            const Qp q = random_problem(Family::kNonconvex, n, rng);
            const Solution s = kelpie_test::solve(q);
            EXPECT_TRUE(s.result == KELPIE_CONVERGED || s.result == KELPIE_ITERATION_LIMIT) << s.result;
            expect_sound_solution(q, s, 1e-9, "nonconvex");
        }
    }
}

// The accelerated method, through the options interface, on every family
// here (mixed, one-sided, missing and equal bounds, starts outside the box):
// a sound solution, result 0 at a point that passes the documented test, the
// objective of the described method to 1e-9 on convex problems, and on
// nonconvex ones an objective no higher than at the projected start. The
// info reports that objective and a residual within the test.
TEST(SolverProperties, AcceleratedMethodOnEveryFamily) {
    std::mt19937_64 rng(9);
    const struct {
        Family family;
        const char* name;
        std::vector<int> sizes;
    } families[] = {
        {Family::kConvex, "convex", {1, 3, 8, 20, 60, 150}},
        {Family::kIllConditioned, "condition 1e6", {2, 5, 20, 100}},
        {Family::kLeastSquares, "least squares wider than tall", {2, 6, 11, 40, 150}},
        {Family::kNonconvex, "nonconvex", {1, 4, 9, 30, 80}},
    };
    int differing = 0;  // solves that took another path than the described method
    for (const auto& entry : families) {
        for (int n : entry.sizes) {
            for (int trial = 0; trial < 4; ++trial) {
                const Qp q = random_problem(entry.family, n, rng);
                const std::string what = std::string(entry.name) + ", n " + std::to_string(n) + " trial " +
                                         std::to_string(trial);
                Solution s{0, q.x0, std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
                kelpie_options options = KELPIE_OPTIONS_INIT;
                options.method = KELPIE_METHOD_ACCELERATED;
                kelpie_info info = KELPIE_INFO_INIT;
                s.result = solve_box_qp_with_options(n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(),
                                                     s.x.data(), s.lambda_lower.data(), s.lambda_upper.data(),
                                                     &options, &info);
                const Solution described = kelpie_test::solve(q);
                differing += s.x != described.x ? 1 : 0;
                expect_sound_solution(q, s, 1e-7, what.c_str());
                const double mine = kelpie_test::objective(q, s.x);
                EXPECT_NEAR(info.objective, mine, 1e-12 * std::max(1.0, std::fabs(mine))) << what;
                if (entry.family == Family::kNonconvex) {
                    ASSERT_TRUE(s.result == KELPIE_CONVERGED || s.result == KELPIE_ITERATION_LIMIT) << what;
                    std::vector<double> start = q.x0;
                    for (int i = 0; i < n; ++i) start[i] = std::min(std::max(start[i], q.lower[i]), q.upper[i]);
                    const double at_start = kelpie_test::objective(q, start);
                    EXPECT_LE(mine, at_start + 1e-12 * std::max(1.0, std::fabs(at_start))) << what;
                    if (s.result == KELPIE_ITERATION_LIMIT) continue;
                } else {
                    ASSERT_EQ(s.result, KELPIE_CONVERGED) << what;
                    const double theirs = kelpie_test::objective(q, described.x);
                    EXPECT_NEAR(mine, theirs, 1e-9 * std::max(1.0, std::fabs(theirs))) << what;
                }
                kelpie_test::expect_solution(q, s, what);
                EXPECT_LE(info.first_order_residual, 1e-9) << what;
            }
        }
    }
    EXPECT_GT(differing, 20);  // 34 of the 80 when written
}

// The batched additions to the factor must give exactly the bits of adding
// one variable at a time, over whole solves.
TEST(SolverProperties, BatchedAdditionsAgreeBitForBit) {
    std::mt19937_64 rng(5);
    for (Family family : {Family::kConvex, Family::kIllConditioned, Family::kLeastSquares, Family::kNonconvex}) {
        for (int n : {3, 17, 64, 150}) {
            const Qp q = random_problem(family, n, rng);
            const Solution a = kelpie_test::solve(q);
            const Solution b = kelpie_test::solve_one_at_a_time(q);
            EXPECT_EQ(a.result, b.result);
            EXPECT_EQ(a.x, b.x) << "n " << n;
            EXPECT_EQ(a.lambda_lower, b.lambda_lower);
            EXPECT_EQ(a.lambda_upper, b.lambda_upper);
        }
    }
}

// More free variables than the rank of H, on least-squares problems that
// fit exactly, so that the pivot guard keeps many variables out and the
// factor's additions fail in runs (tried in batches) and succeed again as
// members leave. The bits must agree with additions one at a time.
TEST(SolverProperties, KeptOutVariablesInBatchesGiveTheBitsOfSingleAdditions) {
    std::mt19937_64 rng(8);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    long long kept_out = 0;
    const int n = 120;
    const int rows = n / 2;
    for (int problem = 0; problem < 3; ++problem) {
        Qp q;
        q.n = n;
        std::vector<double> A;
        q.H = kelpie_test::random_gram(rows, n, rng, &A);
        std::vector<double> b(rows, 0.0);
        for (int j = 0; j < n; ++j) {
            const double weight = unit(rng) < 0.5 ? 0.0 : unit(rng);
            for (int r = 0; r < rows; ++r) b[r] += A[r + static_cast<size_t>(j) * rows] * weight;
        }
        q.f = kelpie_test::least_squares_linear_term(A, rows, n, b);
        q.lower.assign(n, 0.0);
        q.upper.assign(n, kInf);
        q.x0.resize(n);
        for (double& e : q.x0) e = unit(rng);  // every variable starts free
        const Solution a = kelpie_test::solve(q);
        const Solution c = kelpie_test::solve_one_at_a_time(q);
        EXPECT_EQ(a.result, KELPIE_CONVERGED);
        EXPECT_EQ(a.result, c.result);
        EXPECT_EQ(a.x, c.x) << "problem " << problem;
        EXPECT_EQ(a.lambda_lower, c.lambda_lower);
        EXPECT_EQ(a.lambda_upper, c.lambda_upper);
        expect_sound_solution(q, a, 1e-9, "exact fit");

        std::vector<double> x = q.x0, lower(n), upper(n);
        kelpie::SolveStats stats;
        kelpie::solve_box_qp_counted(n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), x.data(),
                                     lower.data(), upper.data(), &stats);
        kept_out += stats.kept_out;
        // Phases with variables kept out are counted, and only Newton phases are.
        EXPECT_GT(stats.dependent_phases, 0) << "problem " << problem;
        EXPECT_LE(stats.dependent_phases, stats.newton_phases);
    }
    // Enough variables were kept out for several batches to be used up.
    EXPECT_GT(kept_out, 100);
}

// Solves from several threads at once give the bits of the solves one by one:
// the solver shares nothing between calls.
TEST(SolverProperties, ConcurrentSolvesMatchSequentialOnes) {
    std::mt19937_64 rng(6);
    std::vector<Qp> problems;
    for (int k = 0; k < 32; ++k) {
        const Family family = static_cast<Family>(k % 4);
        problems.push_back(random_problem(family, 10 + 7 * (k % 9), rng));
    }
    std::vector<Solution> sequential;
    for (const Qp& q : problems) sequential.push_back(kelpie_test::solve(q));
    const int threads = 8;
    std::vector<std::vector<Solution>> concurrent(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (size_t k = t; k < problems.size() + t; ++k) {
                    concurrent[t].push_back(kelpie_test::solve(problems[k % problems.size()]));
                }
            }
        });
    }
    for (std::thread& th : pool) th.join();
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ(concurrent[t].size(), 3 * problems.size());
        for (size_t r = 0; r < concurrent[t].size(); ++r) {
            const Solution& expected = sequential[(t + r) % problems.size()];
            EXPECT_EQ(concurrent[t][r].result, expected.result);
            EXPECT_EQ(concurrent[t][r].x, expected.x);
            EXPECT_EQ(concurrent[t][r].lambda_lower, expected.lambda_lower);
            EXPECT_EQ(concurrent[t][r].lambda_upper, expected.lambda_upper);
        }
    }
}

}  // namespace
