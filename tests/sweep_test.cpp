// The coordinate sweep and the driver's stop rules, on cases small enough to
// follow by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "qp_test_util.h"

namespace {

using kelpie::SweepOutcome;
using kelpie_test::Qp;
using kelpie_test::Solution;

constexpr double kInf = std::numeric_limits<double>::infinity();

struct SweepCase {
    const char* name;
    int n;
    std::vector<double> H, lower, upper, x, g;
    std::vector<int> is_free;
    int sweep_all;
    SweepOutcome outcome;
    std::vector<double> x_after, g_after;
    std::vector<int> is_free_after;
};

TEST(CoordinateSweep, WorkedCases) {
    const std::vector<SweepCase> cases = {
        {"at lower bound, step clipped to distance 0", 1, {2}, {0}, {5}, {0}, {3}, {1}, 1,
         SweepOutcome::kDone, {0}, {3}, {0}},
        {"interior one-variable minimiser", 1, {2}, {-10}, {10}, {0}, {-2}, {0}, 1,
         SweepOutcome::kDone, {1}, {0}, {1}},
        {"minimiser beyond upper bound: exactly on the bound, g by the distance", 1, {2}, {-10}, {0.5}, {0}, {-2},
         {0}, 1, SweepOutcome::kDone, {0.5}, {-1}, {0}},
        {"step equal to dist_lower is a bound move", 1, {2}, {-1}, {5}, {0}, {2}, {1}, 1,
         SweepOutcome::kDone, {-1}, {0}, {0}},
        {"step equal to dist_upper is a bound move", 1, {2}, {-5}, {1}, {0}, {-2}, {1}, 1,
         SweepOutcome::kDone, {1}, {0}, {0}},
        {"restricted sweep with nothing free changes nothing", 2, {2, 0, 0, 2}, {-9, -9}, {9, 9}, {0, 0}, {-2, -2},
         {0, 0}, 0, SweepOutcome::kDone, {0, 0}, {-2, -2}, {0, 0}},
        {"restricted sweep handles only the free variable", 2, {2, 0, 0, 2}, {-9, -9}, {9, 9}, {0, 0}, {-2, -2},
         {0, 1}, 0, SweepOutcome::kDone, {0, 1}, {-2, 0}, {0, 1}},
        {"zero gradient inside keeps its free flag", 2, {2, 0, 0, 2}, {-9, -9}, {9, 9}, {0, 0}, {0, 0}, {1, 0}, 1,
         SweepOutcome::kDone, {0, 0}, {0, 0}, {1, 0}},
        {"H_jj = +0, g_j > 0: onto the finite lower bound", 1, {0.0}, {-3}, {4}, {1}, {2}, {0}, 1,
         SweepOutcome::kDone, {-3}, {2}, {0}},
        {"H_jj = -0 acts as +0", 1, {-0.0}, {-3}, {4}, {1}, {2}, {0}, 1, SweepOutcome::kDone, {-3}, {2}, {0}},
        {"flat coordinate (H_jj = 0, g_j = 0) moves nothing", 1, {0.0}, {-3}, {4}, {1}, {0}, {0}, 1,
         SweepOutcome::kDone, {1}, {0}, {0}},
        {"both bounds infinite: interior move", 1, {4}, {-kInf}, {kInf}, {0}, {8}, {0}, 1, SweepOutcome::kDone,
         {-2}, {0}, {1}},
        {"H_jj = 0 with no bound downhill is unbounded", 1, {0.0}, {-kInf}, {4}, {1}, {2}, {0}, 1,
         SweepOutcome::kUnbounded, {1}, {2}, {0}},
        // phi(t) = g t + h t^2 / 2 on [-1, 3] from x = 0: phi(-1) = -1, phi(3) = -3 + ... with h = -2, g = 1:
        // phi(-1) = -2, phi(3) = -6: the upper end is lower.
        {"H_jj < 0 goes to the end with the lower value (upper)", 1, {-2}, {-1}, {3}, {0}, {1}, {1}, 1,
         SweepOutcome::kDone, {3}, {-5}, {0}},
        // g = 5: phi(-1) = -5 - 1 = -6, phi(3) = 15 - 9 = 6: the lower end.
        {"H_jj < 0 goes to the end with the lower value (lower)", 1, {-2}, {-1}, {3}, {0}, {5}, {0}, 1,
         SweepOutcome::kDone, {-1}, {7}, {0}},
        // g = 2, h = -2 on [-2, 2]: phi(-2) = -4 - 4 = -8, phi(2) = 4 - 4 = 0: lower. g = 0: tie, upper.
        {"H_jj < 0 on a tie takes the upper end", 1, {-2}, {-2}, {2}, {0}, {0}, {0}, 1, SweepOutcome::kDone,
         {2}, {-4}, {0}},
        {"H_jj < 0 with an infinite bound is unbounded", 1, {-2}, {-1}, {kInf}, {0}, {5}, {0}, 1,
         SweepOutcome::kUnbounded, {0}, {5}, {0}},
        {"equal bounds: lower branch, no move", 1, {2}, {1}, {1}, {1}, {-4}, {0}, 1, SweepOutcome::kDone,
         {1}, {-4}, {0}},
    };
    for (const SweepCase& c : cases) {
        std::vector<double> f(c.n, 0.0);
        const kelpie::Problem p{c.n, c.H.data(), f.data(), c.lower.data(), c.upper.data()};
        std::vector<double> x = c.x, g = c.g;
        std::vector<int> is_free = c.is_free;
        const SweepOutcome outcome = kelpie::coordinate_sweep(p, c.sweep_all, x.data(), g.data(), is_free.data());
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(x, c.x_after) << c.name;
        EXPECT_EQ(g, c.g_after) << c.name;
        EXPECT_EQ(is_free, c.is_free_after) << c.name;
    }
}

// After the bound move at j = 1 the sweep handles 2, 0, 1 again and stops:
// coordinate 0 is re-minimised with the gradient that the move left.
TEST(CoordinateSweep, VisitsEveryCoordinateOnceMoreAfterABoundMove) {
    const std::vector<double> H = {2, 1, 0, 1, 2, 1, 0, 1, 2};
    const std::vector<double> f = {-2, -6, -2};
    const std::vector<double> lower = {-10, -10, -10}, upper = {10, 0.5, 10};
    std::vector<double> x = {0, 0, 0}, g = f;
    std::vector<int> is_free = {0, 0, 0};
    const kelpie::Problem p{3, H.data(), f.data(), lower.data(), upper.data()};
    ASSERT_EQ(kelpie::coordinate_sweep(p, 1, x.data(), g.data(), is_free.data()), SweepOutcome::kDone);
    EXPECT_EQ(x, (std::vector<double>{0.75, 0.5, 0.75}));
    EXPECT_EQ(g, (std::vector<double>{0, -3.5, 0}));
    EXPECT_EQ(is_free, (std::vector<int>{1, 0, 1}));
}

// With a non-symmetric H a sweep can chase its own tail: x0 moving onto a
// bound pushes x1 off its bound and back again forever. The visit limit ends it.
TEST(CoordinateSweep, VisitLimitEndsACyclingSweep) {
    // Column-major: H(0,1) = 4 couples x1 into g0, H(1,0) = -4 couples x0 into g1 with the opposite sign.
    const std::vector<double> H = {1, -4, 4, 1};
    const std::vector<double> f = {0, 0};
    const std::vector<double> lower = {-1, -1}, upper = {1, 1};
    std::vector<double> x = {0.5, 0.5};
    std::vector<double> g(2);
    const kelpie::Problem p{2, H.data(), f.data(), lower.data(), upper.data()};
    kelpie::compute_gradient(p, x.data(), g.data());
    std::vector<int> is_free = {0, 0};
    EXPECT_EQ(kelpie::coordinate_sweep(p, 1, x.data(), g.data(), is_free.data()), SweepOutcome::kVisitLimit);

    kelpie_test::Qp q{2, H, f, lower, upper, {0.5, 0.5}};
    const Solution s = kelpie_test::solve(q);
    EXPECT_EQ(s.result, KELPIE_ITERATION_LIMIT);
    for (double xi : s.x) EXPECT_TRUE(xi >= -1 && xi <= 1);
}

struct DriverCase {
    const char* name;
    Qp q;
    int result;
    std::vector<double> x, lambda_lower, lambda_upper;
};

TEST(SolveBoxQp, WorkedCases) {
    const std::vector<DriverCase> cases = {
        {"interior minimiser, multipliers zero", {1, {2}, {-2}, {-10}, {10}, {0}}, 0, {1}, {0}, {0}},
        {"upper bound active: lambda_upper = -g", {1, {2}, {-2}, {-10}, {0.5}, {0}}, 0, {0.5}, {0}, {1}},
        {"start below the box is projected to lower exactly", {1, {2}, {4}, {-1.25}, {3}, {-7}}, 0, {-1.25},
         {1.5}, {0}},
        {"start above the box is projected to upper exactly", {1, {2}, {-8}, {-1}, {3.75}, {9}}, 0, {3.75}, {0},
         {0.5}},
        {"start at the unconstrained minimiser stays", {2, {2, 0, 0, 2}, {-2, 4}, {-9, -9}, {9, 9}, {1, -2}}, 0,
         {1, -2}, {0, 0}, {0, 0}},
        {"all on bounds, gradient outwards: magnitudes on the gradient's side",
         {2, {1, 0, 0, 1}, {3, -5}, {0, 0}, {1, 1}, {0, 1}}, 0, {0, 1}, {3, 0}, {0, 4}},
        {"positive gradient on an upper bound still goes to lambda_lower",
         {1, {1}, {1}, {2}, {2}, {5}}, 0, {2}, {3}, {0}},
        {"equal bounds fix the variable; its multiplier follows g", {2, {2, 1, 1, 2}, {-2, -2}, {0.5, -5}, {0.5, 5},
         {0, 0}}, 0, {0.5, 0.75}, {0, 0}, {0.25, 0}},
        {"one-sided bounds", {2, {1, 0, 0, 1}, {1, -1}, {0, -kInf}, {kInf, 0}, {3, -3}}, 0, {0, 0}, {1, 0},
         {0, 1}},
    };
    for (const DriverCase& c : cases) {
        const Solution s = kelpie_test::solve(c.q);
        EXPECT_EQ(s.result, c.result) << c.name;
        EXPECT_EQ(s.x, c.x) << c.name;
        EXPECT_EQ(s.lambda_lower, c.lambda_lower) << c.name;
        EXPECT_EQ(s.lambda_upper, c.lambda_upper) << c.name;
    }
}

TEST(SolveBoxQp, RefusedOrTrivialInputsTouchNothing) {
    struct Case {
        const char* name;
        int n;
        std::vector<double> lower, upper;
        int result;
    };
    const std::vector<Case> cases = {
        {"n = 0", 0, {1}, {0}, KELPIE_CONVERGED},
        {"n < 0", -4, {1}, {0}, KELPIE_CONVERGED},
        {"crossed bounds", 2, {0, 2}, {1, 1}, KELPIE_INFEASIBLE},
        {"NaN lower bound", 2, {0, std::nan("")}, {1, 1}, KELPIE_INFEASIBLE},
        {"NaN upper bound", 2, {0, 0}, {std::nan(""), 1}, KELPIE_INFEASIBLE},
        {"lower = +Inf", 2, {kInf, 0}, {kInf, 1}, KELPIE_INFEASIBLE},
        {"upper = -Inf", 2, {0, -kInf}, {1, -kInf}, KELPIE_INFEASIBLE},
    };
    for (const Case& c : cases) {
        const std::vector<double> H = {1, 0, 0, 1}, f = {-1, -1};
        std::vector<double> x = {7, 7}, ll = {5, 5}, lu = {6, 6};
        const int result = solve_box_qp(c.n, H.data(), f.data(), c.lower.data(), c.upper.data(), x.data(),
                                        ll.data(), lu.data());
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(x, (std::vector<double>{7, 7})) << c.name;
        EXPECT_EQ(ll, (std::vector<double>{5, 5})) << c.name;
        EXPECT_EQ(lu, (std::vector<double>{6, 6})) << c.name;
    }
}

// Unbounded problems stop with -3, x finite and in the box, the multipliers
// untouched.
TEST(SolveBoxQp, UnboundedBelowIsReported) {
    const std::vector<Qp> cases = {
        {1, {0}, {1}, {-kInf}, {kInf}, {0}},                  // linear, no bounds
        {1, {-1}, {0}, {-1}, {kInf}, {0}},                    // concave coordinate
        {2, {1, 1, 1, 1}, {1, -1}, {-kInf, -kInf}, {kInf, kInf}, {0, 0}},  // singular, slope along null space
        {2, {1, 2, 2, 1}, {0, 0}, {-kInf, -kInf}, {kInf, kInf}, {0.5, 0.25}},  // indefinite
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        const Solution s = kelpie_test::solve(cases[k]);
        EXPECT_EQ(s.result, KELPIE_UNBOUNDED) << "case " << k;
        for (int i = 0; i < cases[k].n; ++i) {
            EXPECT_TRUE(std::isfinite(s.x[i])) << "case " << k;
            EXPECT_GE(s.x[i], cases[k].lower[i]);
            EXPECT_LE(s.x[i], cases[k].upper[i]);
            EXPECT_EQ(s.lambda_lower[i], 0.0);
            EXPECT_EQ(s.lambda_upper[i], 0.0);
        }
    }
}

}  // namespace
