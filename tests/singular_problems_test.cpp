// Problems whose free blocks are singular or nearly so, and warm starts:
// every exitflag 0 must come with a point that passes the documented
// optimality test, and convex problems must end with exitflag 0 at an
// objective no worse than an independent method's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "grid_problems.h"
#include "optimality.h"
#include "qp_test_util.h"
#include "workspace.h"

namespace {

using kelpie_test::Qp;
using kelpie_test::Solution;
using kelpie_test::documented_residual;
using kelpie_test::expect_solution;

constexpr double kInf = std::numeric_limits<double>::infinity();

enum class Bounds { kTwoSided, kOneSided, kNone };
enum class Linear { kInRange, kRandom };

// H = V V' + shift I with V of n x rank entries from N(0, 1); f = H t (in the
// range of H) or random. Starts at 0 or inside the box.
Qp low_rank_problem(int n, int rank, double shift, Bounds bounds, Linear linear, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    Qp q;
    q.n = n;
    std::vector<double> V;
    q.H = kelpie_test::random_gram(rank, n, rng, &V);
    for (int i = 0; i < n; ++i) q.H[i + static_cast<size_t>(i) * n] += shift;
    q.f.assign(n, 0.0);
    std::vector<double> t(n);
    for (double& e : t) e = 2.0 * normal(rng);
    for (int i = 0; i < n; ++i) {
        if (linear == Linear::kRandom) {
            q.f[i] = normal(rng);
        } else {
            for (int j = 0; j < n; ++j) q.f[i] += q.H[i + static_cast<size_t>(j) * n] * t[j];
        }
    }
    q.lower.assign(n, bounds == Bounds::kNone ? -kInf : (bounds == Bounds::kOneSided ? 0.0 : -1.0));
    q.upper.assign(n, bounds == Bounds::kTwoSided ? 1.0 : kInf);
    q.x0.assign(n, 0.0);
    return q;
}

// Least squares with more unknowns than equations: H = A'A, f = -A'b, x >= 0,
// b = A t for a non-negative t (an exact fit) or random (a residual).
Qp wide_least_squares(int n, bool exact, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    const int rows = std::max(1, n / 2);
    std::vector<double> A;
    Qp q;
    q.n = n;
    q.H = kelpie_test::random_gram(rows, n, rng, &A);
    std::vector<double> b(rows, 0.0);
    for (int r = 0; r < rows; ++r) {
        if (!exact) b[r] = normal(rng);
    }
    if (exact) {
        for (int j = 0; j < n; ++j) {
            const double t = std::max(0.0, normal(rng));
            for (int r = 0; r < rows; ++r) b[r] += A[r + static_cast<size_t>(j) * rows] * t;
        }
    }
    q.f = kelpie_test::least_squares_linear_term(A, rows, n, b);
    q.lower.assign(n, 0.0);
    q.upper.assign(n, kInf);
    q.x0.assign(n, 0.0);
    return q;
}

// The dual of a linear support vector machine with a bias folded into the
// kernel: Q = (y y') .* (X X' + 1), f = -1, 0 <= alpha <= C, on two
// overlapping Gaussian classes with few features (rank of Q: features + 1).
Qp svm_dual(int n, int features, double C, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    std::vector<double> X(static_cast<size_t>(n) * features), y(n);
    for (int i = 0; i < n; ++i) {
        y[i] = i % 2 == 0 ? 1.0 : -1.0;
        for (int k = 0; k < features; ++k) X[i + static_cast<size_t>(k) * n] = normal(rng) + 0.5 * y[i];
    }
    Qp q;
    q.n = n;
    q.H.assign(static_cast<size_t>(n) * n, 0.0);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            double k = 1.0;
            for (int f = 0; f < features; ++f) k += X[i + static_cast<size_t>(f) * n] * X[j + static_cast<size_t>(f) * n];
            q.H[i + static_cast<size_t>(j) * n] = y[i] * y[j] * k;
        }
    }
    q.f.assign(n, -1.0);
    q.lower.assign(n, 0.0);
    q.upper.assign(n, C);
    q.x0.assign(n, 0.0);
    return q;
}

struct Case {
    std::string name;
    Qp q;
};

std::vector<Case> convex_cases(int n, std::mt19937_64& rng) {
    std::vector<Case> cases;
    for (int rank : {1, 2, std::max(1, n / 4), std::max(1, n / 2)}) {
        for (Bounds b : {Bounds::kTwoSided, Bounds::kOneSided, Bounds::kNone}) {
            for (Linear l : {Linear::kInRange, Linear::kRandom}) {
                // A random f with no bounds on a side is unbounded below.
                if (l == Linear::kRandom && b != Bounds::kTwoSided) continue;
                cases.push_back({"rank " + std::to_string(rank) + " bounds " + std::to_string(static_cast<int>(b)) +
                                     (l == Linear::kRandom ? " f random" : " f in range"),
                                 low_rank_problem(n, rank, 0.0, b, l, rng)});
            }
        }
    }
    for (double eps : {1e-13, 1e-10, 1e-8}) {
        Qp q = low_rank_problem(n, std::max(1, n / 3), eps, Bounds::kTwoSided, Linear::kRandom, rng);
        for (double& e : q.lower) e = -2.0;
        for (double& e : q.upper) e = 2.0;
        cases.push_back({"A'A + " + std::to_string(eps) + " I", q});
    }
    cases.push_back({"least squares, exact fit", wide_least_squares(n, true, rng)});
    cases.push_back({"least squares, residual", wide_least_squares(n, false, rng)});
    for (double C : {1.0, 20.0, 100.0}) cases.push_back({"svm dual C " + std::to_string(C), svm_dual(n, 5, C, rng)});
    return cases;
}

Solution solve_counted(const Qp& q, kelpie::SolveStats* stats, const kelpie::SolveSettings* settings = nullptr) {
    Solution s;
    s.x = q.x0;
    s.lambda_lower.assign(q.n, 0.0);
    s.lambda_upper.assign(q.n, 0.0);
    s.result = kelpie::solve_box_qp_counted(q.n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), s.x.data(),
                                            s.lambda_lower.data(), s.lambda_upper.data(), stats, settings);
    return s;
}

TEST(SingularProblems, ConvexFamiliesEndAtSolutionsWithExitflagZero) {
    std::mt19937_64 rng(17);
    for (int n : {6, 24, 60}) {
        for (const Case& c : convex_cases(n, rng)) {
            kelpie::SolveStats stats;
            const Solution s = solve_counted(c.q, &stats);
            const std::string what = c.name + ", n " + std::to_string(n);
            expect_solution(c.q, s, what);
            if (n <= 24) {
                const std::vector<double> reference = kelpie_test::projected_gradient(c.q, 400000);
                const double mine = kelpie_test::objective(c.q, s.x);
                const double theirs = kelpie_test::objective(c.q, reference);
                EXPECT_LE(mine, theirs + 1e-9 * std::max(1.0, std::fabs(theirs))) << what;
            }
        }
    }
}

// The accelerated method on the same families, and on definite and
// nonconvex problems: result 0 at a solution, the objective of the described
// method to 1e-9, multipliers that carry the gradient; the proximal steps
// end, as the described method's do, at the rounding of the gradient in a
// handful of steps.
TEST(SingularProblems, AcceleratedMethodReachesTheSameSolutions) {
    std::mt19937_64 rng(37);
    std::normal_distribution<double> normal;
    for (int n : {6, 24, 60, 200}) {
        std::vector<Case> cases = convex_cases(n, rng);
        Qp definite = low_rank_problem(n, n + 4, 0.0, Bounds::kTwoSided, Linear::kRandom, rng);
        cases.push_back({"definite", definite});
        cases.push_back({"nonconvex", kelpie_test::nonconvex_problem(n, rng, normal)});
        for (const Case& c : cases) {
            const std::string what = c.name + ", n " + std::to_string(n);
            kelpie::SolveStats stats;
            kelpie::SolveSettings accelerated;
            accelerated.projected_search = true;
            const Solution s = solve_counted(c.q, &stats, &accelerated);
            expect_solution(c.q, s, what);
            EXPECT_LE(documented_residual(c.q, s.x), 1e-13) << what;
            EXPECT_LE(stats.proximal_steps, 30) << what;
            if (c.name == "nonconvex") continue;  // local solutions may differ
            const double mine = kelpie_test::objective(c.q, s.x);
            const double described = kelpie_test::objective(c.q, kelpie_test::solve(c.q).x);
            EXPECT_NEAR(mine, described, 1e-9 * std::max(1.0, std::fabs(described))) << what;
        }
    }
}

// From a few hundred variables on, where neither block exchanges nor a budget
// of Newton steps solve the first proximal step, the accelerated method
// starts the steps over from a larger weight and lowers it step by step
// (all but the exact fit here take that road). They must still end where the
// described method's do: at its objective, at the rounding of the gradient,
// in a handful of steps (not stalled at a weight too large to contract).
TEST(SingularProblems, AcceleratedProximalStepsFromALargerWeightEndAtTheRounding) {
    std::mt19937_64 rng(43);
    const int n = 400;
    std::vector<Case> cases;
    cases.push_back({"least squares, exact fit", wide_least_squares(n, true, rng)});
    cases.push_back({"least squares, residual", wide_least_squares(n, false, rng)});
    cases.push_back({"rank n/4", low_rank_problem(n, n / 4, 0.0, Bounds::kTwoSided, Linear::kRandom, rng)});
    cases.push_back({"svm dual C 20", svm_dual(n, 5, 20.0, rng)});
    for (const Case& c : cases) {
        kelpie::SolveStats stats;
        kelpie::SolveSettings accelerated;
        accelerated.projected_search = true;
        const Solution s = solve_counted(c.q, &stats, &accelerated);
        expect_solution(c.q, s, c.name);
        EXPECT_LE(documented_residual(c.q, s.x), 1e-13) << c.name;
        EXPECT_LE(stats.proximal_steps, 30) << c.name;
        const double described = kelpie_test::objective(c.q, kelpie_test::solve(c.q).x);
        EXPECT_NEAR(kelpie_test::objective(c.q, s.x), described, 1e-9 * std::max(1.0, std::fabs(described))) << c.name;
        // Under a caller's limit far above what the solve needs (no
        // exchanges then), the first step's own budget must not pass for it.
        kelpie::SolveSettings limited = accelerated;
        limited.newton_limit = 1000000;
        const Solution l = solve_counted(c.q, &stats, &limited);
        const std::string what = c.name + ", caller's limit";
        expect_solution(c.q, l, what);
        EXPECT_NEAR(kelpie_test::objective(c.q, l.x), described, 1e-9 * std::max(1.0, std::fabs(described))) << what;
    }
}

// Free sets of several hundred variables, where the accelerated method has
// LAPACK build its factors anew in one piece: wide least squares with a
// residual (x >= 0) and low rank (n/2) in a two-sided box, both ending at a
// solution with the described method's objective.
TEST(SingularProblems, AcceleratedFactorsBuiltInOnePieceReachTheSolution) {
    std::mt19937_64 rng(38);
    const int n = 700;
    long long one_piece_builds = 0;
    for (const std::string what : {"wide least squares", "low rank, two-sided"}) {
        const Qp q = what == "wide least squares"
                         ? wide_least_squares(n, false, rng)
                         : low_rank_problem(n, n / 2, 0.0, Bounds::kTwoSided, Linear::kRandom, rng);
        kelpie::SolveStats stats;
        kelpie::SolveSettings accelerated;
        accelerated.projected_search = true;
        const Solution s = solve_counted(q, &stats, &accelerated);
        expect_solution(q, s, what);
        const double mine = kelpie_test::objective(q, s.x);
        const double described = kelpie_test::objective(q, kelpie_test::solve(q).x);
        EXPECT_NEAR(mine, described, 1e-9 * std::max(1.0, std::fabs(described))) << what;
        one_piece_builds += stats.one_piece_builds;
    }
    EXPECT_GE(one_piece_builds, 1);
}

// The grid problems of the benchmark (torsion and journal bearing), where
// the accelerated method's projected steps fix many bounds at once and clip
// large parts of the path: both methods end at a solution with the same
// objective, the objective of projected gradient run to convergence.
TEST(SingularProblems, GridProblemsInBothMethods) {
    std::vector<kelpie_bench::NamedProblem> problems;
    for (int side : {6, 11, 16}) {
        for (double c : {1.0, 5.0, 20.0}) problems.push_back(kelpie_bench::torsion(side, side + 1, c));
        problems.push_back(kelpie_bench::journal_bearing(side, side, 10.0, 0.1));
    }
    for (const kelpie_bench::NamedProblem& g : problems) {
        const Qp q{g.n, g.H, g.f, g.lower, g.upper, std::vector<double>(g.n, 0.0)};
        const std::string what = g.name + ", n " + std::to_string(g.n);
        const Solution described = kelpie_test::solve(q);
        kelpie::SolveStats stats;
        kelpie::SolveSettings settings;
        settings.projected_search = true;
        const Solution accelerated = solve_counted(q, &stats, &settings);
        expect_solution(q, described, what + " (described)");
        expect_solution(q, accelerated, what + " (accelerated)");
        const double d = kelpie_test::objective(q, described.x);
        const double a = kelpie_test::objective(q, accelerated.x);
        EXPECT_NEAR(a, d, 1e-9 * std::fabs(d)) << what;
        const double reference = kelpie_test::objective(q, kelpie_test::projected_gradient(q, 20000));
        EXPECT_NEAR(d, reference, 1e-7 * std::fabs(reference)) << what;
    }
}

// The steps taken where the factor cannot take the free block lower the
// objective: a solve never ends above its (projected) start, in either method.
TEST(SingularProblems, ObjectiveEndsNoHigherThanTheStart) {
    std::mt19937_64 rng(19);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int trial = 0; trial < 30; ++trial) {
        const int n = 5 + trial;
        Qp q = low_rank_problem(n, 1 + trial % 4, trial % 3 == 0 ? 1e-12 : 0.0, Bounds::kTwoSided, Linear::kRandom, rng);
        for (double& e : q.x0) e = unit(rng);
        const double start = kelpie_test::objective(q, q.x0);
        for (bool accelerated : {false, true}) {
            kelpie::SolveSettings settings;
            settings.projected_search = accelerated;
            kelpie::SolveStats stats;
            const Solution s = solve_counted(q, &stats, &settings);
            const std::string what = "trial " + std::to_string(trial) + (accelerated ? ", accelerated" : "");
            expect_solution(q, s, what);
            EXPECT_LE(kelpie_test::objective(q, s.x), start) << what;
        }
    }
}

// Warm starts near the solution of a positive definite problem (as a model
// predictive controller makes them) end at the cold start's solution, not
// where the first sweep can no longer see a decrease.
TEST(SingularProblems, WarmStartsEndAtTheSolution) {
    std::mt19937_64 rng(23);
    std::normal_distribution<double> normal;
    for (int n : {10, 60, 150}) {
        for (double perturbation : {1e-9, 1e-6, 1e-3}) {
            Qp q = kelpie_test::definite_problem(n, 1e4, -1.0, 1.0, rng, normal);
            for (double& e : q.f) e = 3.0 * e;
            const Solution cold = kelpie_test::solve(q);
            ASSERT_EQ(cold.result, KELPIE_CONVERGED);
            for (int i = 0; i < n; ++i) q.x0[i] = cold.x[i] + perturbation * normal(rng);
            for (bool accelerated : {false, true}) {
                kelpie::SolveSettings settings;
                settings.projected_search = accelerated;
                kelpie::SolveStats stats;
                const Solution warm = solve_counted(q, &stats, &settings);
                const std::string what = "n " + std::to_string(n) + " perturbation " + std::to_string(perturbation) +
                                         (accelerated ? ", accelerated" : "");
                expect_solution(q, warm, what);
                EXPECT_LE(documented_residual(q, warm.x), 1e-12) << what;
                for (int i = 0; i < n; ++i) EXPECT_NEAR(warm.x[i], cold.x[i], 1e-8) << what << " i " << i;
            }
        }
    }
}

// The optimality test must never turn a sound answer into 99: positive
// definite problems with condition numbers up to 1e12 keep exitflag 0.
TEST(SingularProblems, IllConditionedDefiniteProblemsKeepExitflagZero) {
    std::mt19937_64 rng(31);
    std::normal_distribution<double> normal;
    for (double cond : {1e8, 1e10, 1e12}) {
        for (int n : {8, 40, 120}) {
            Qp q = kelpie_test::definite_problem(n, cond, -1.0, 1.0, rng, normal);
            for (int i = 0; i < n; i += 3) q.upper[i] = kInf;
            for (bool accelerated : {false, true}) {
                kelpie::SolveSettings settings;
                settings.projected_search = accelerated;
                kelpie::SolveStats stats;
                const Solution s = solve_counted(q, &stats, &settings);
                const std::string what =
                    "cond " + std::to_string(cond) + " n " + std::to_string(n) + (accelerated ? ", accelerated" : "");
                expect_solution(q, s, what);
                // Up to 1e10 the factor takes every free block; at 1e12 pivots
                // fall below its guard and the proximal steps finish the solve.
                EXPECT_LE(documented_residual(q, s.x), cond <= 1e10 ? 1e-12 : kelpie::kOptimalityTolerance) << what;
                if (cond <= 1e10) {
                    EXPECT_EQ(stats.proximal_steps, 0) << what;
                }
            }
        }
    }
}

// Unbounded problems whose free block is singular are reported as such.
TEST(SingularProblems, UnboundedAlongANullDirectionIsReported) {
    std::mt19937_64 rng(29);
    for (int n : {3, 12, 40}) {
        Qp q = low_rank_problem(n, std::max(1, n / 3), 0.0, Bounds::kNone, Linear::kRandom, rng);
        for (bool accelerated : {false, true}) {
            kelpie::SolveSettings settings;
            settings.projected_search = accelerated;
            kelpie::SolveStats stats;
            EXPECT_EQ(solve_counted(q, &stats, &settings).result, KELPIE_UNBOUNDED)
                << "n " << n << (accelerated ? ", accelerated" : "");
        }
    }
}

// The optimality measure itself: the side of each bound, equal bounds, and
// the same value for a problem multiplied by a positive number.
TEST(FirstOrderResidual, ProjectsTheGradientAndIgnoresScale) {
    const double H[4] = {2, 0, 0, 2};  // the first two variables' block
    struct Row {
        const char* name;
        double lower0, upper0, x0;
        double f0;
        double expected;  // |projected gradient| / scale, with x1 = 0 and f1 = 0
    };
    // g0 = 2 x0 + f0; its terms |f0| + 2 |x0|. Row 1 (x1 = 0, f1 = 0 on
    // [-1, 1]) has no gradient; a huge f on a fixed variable must not hide
    // row 0's gradient either (the third variable, fixed at 0, f = 1e300).
    const Row rows[] = {
        {"inside", -1, 1, 0.5, 1.0, 2.0 / 2.0},
        {"at lower, pushed in", -1, 1, -1, 3.0, 0.0},
        {"at lower, pulled out", -1, 1, -1, 1.0, 1.0 / 3.0},
        {"at upper, pushed in", -1, 1, 1, -3.0, 0.0},
        {"at upper, pulled out", -1, 1, 1, -1.0, 1.0 / 3.0},
        {"equal bounds", 1, 1, 1, 5.0, 0.0},
        {"stationary", -1, 1, 0.25, -0.5, 0.0},
    };
    for (const Row& r : rows) {
        for (double factor : {1.0, 1e6}) {
            const double Hs[9] = {H[0] * factor, 0, 0, 0, H[3] * factor, 0, 0, 0, factor};
            const double f[3] = {r.f0 * factor, 0, 1e300};
            const double lower[3] = {r.lower0, -1, 0}, upper[3] = {r.upper0, 1, 0};
            const double x[3] = {r.x0, 0, 0};
            const double g[3] = {Hs[0] * x[0] + f[0], 0, 1e300};
            double sizes[3];
            const kelpie::Problem p{3, Hs, f, lower, upper};
            const double residual = kelpie::first_order_residual(p, x, g, sizes);
            EXPECT_DOUBLE_EQ(residual, r.expected) << r.name << " x" << factor;
            for (double tolerance : {1e-9, 0.3, 0.5, 2.0}) {
                EXPECT_EQ(kelpie::passes_optimality_test(p, x, g, tolerance, sizes), residual <= tolerance)
                    << r.name << " tolerance " << tolerance;
            }
        }
    }
}

// The shortcut of the test (the diagonal term of a row alone) decides only
// where it is enough; a coupled row needs the whole sum.
TEST(FirstOrderResidual, ShortcutAgreesWhereTheOffDiagonalTermsDecide) {
    const double H[4] = {1, 10, 10, 200};
    const double f[2] = {-10.2, -205};
    const double lower[2] = {-1, -1}, upper[2] = {1, 2};
    const double x[2] = {0.5, 1};
    const double g[2] = {0.5 + 10 + f[0], 5 + 200 + f[1]};  // 0.3 and 0
    const kelpie::Problem p{2, H, f, lower, upper};
    double sizes[2];
    const double residual = kelpie::first_order_residual(p, x, g, sizes);
    EXPECT_NEAR(residual, 0.3 / 20.7, 1e-15);
    EXPECT_TRUE(kelpie::passes_optimality_test(p, x, g, 0.02, sizes));   // 0.3 / 10.7 alone would fail
    EXPECT_FALSE(kelpie::passes_optimality_test(p, x, g, 0.01, sizes));
}

}  // namespace
