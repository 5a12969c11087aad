// The step rule and the Newton stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "ldl_factor.h"
#include "newton_step.h"
#include "projected_search.h"
#include "qp_test_util.h"
#include "workspace.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ChooseStep, EveryRowOfTheRule) {
    struct Row {
        double t_min, t_max, slope, curvature, step;
        int at_lower_end, at_upper_end;
        const char* name;
    };
    const std::vector<Row> rows = {
        {-1, 3, -2, 2, 1, 0, 0, "interior minimiser"},
        {-1, 0.5, -2, 2, 0.5, 0, 1, "minimiser beyond t_max"},
        {-1, 3, 4, 2, -1, 1, 0, "minimiser below t_min"},
        {1, 1, -2, 2, 1, 0, 1, "both tests hold: upper end wins"},
        {-2, 3, -1, 0, 3, 0, 1, "zero curvature, negative slope"},
        {-2, 3, 1, 0, -2, 1, 0, "zero curvature, positive slope"},
        {-1, 1, 0, 0, 0, 0, 0, "flat model"},
        {-1, 3, 0, -1, 3, 0, 1, "negative curvature, model lower at t_max"},
        {-3, 1, 0, -1, -3, 1, 0, "negative curvature, model lower at t_min"},
        {-2, 2, 0, -1, 2, 0, 1, "negative curvature, tie: upper end"},
        {-1e300, 5, -1, -1, -1e300, 1, 0, "negative curvature takes the sentinel end"},
        {-1e300, 1e300, -1, 0, 1e300, 0, 1, "no bound ahead, zero curvature: the sentinel is the step"},
        {-kInf, 1, 0, -1, 0, 1, 0, "unbounded case on the lower side"},
        {-1, kInf, -1, 0, 0, 1, 0, "unbounded case on the upper side: at_lower_end, not at_upper_end"},
    };
    for (const Row& r : rows) {
        double step = 12345;
        int lower_end = 7, upper_end = 7;
        kelpie::choose_step(r.t_min, r.t_max, r.slope, r.curvature, &step, &lower_end, &upper_end);
        EXPECT_EQ(step, r.step) << r.name;
        EXPECT_EQ(lower_end, r.at_lower_end) << r.name;
        EXPECT_EQ(upper_end, r.at_upper_end) << r.name;
    }
}

// The stage on H = [4 2; 2 3], x = 0, g = (-8, -7), both variables free.
struct StageCase {
    const char* name;
    std::vector<double> lower, upper, g;
    std::vector<double> x_after;
    std::vector<int> is_free_after;
    int sweep_all;
};

TEST(NewtonStage, WorkedCases) {
    const std::vector<StageCase> cases = {
        {"free minimiser in one step", {-10, -10}, {10, 10}, {-8, -7}, {1.25, 1.5}, {1, 1}, 1},
        {"upper[0] = 1 cuts the step at 0.8", {-10, -10}, {1, 10}, {-8, -7}, {1, 0.8 * 1.5}, {0, 1}, 0},
        {"both upper ratios equal the step: both fixed", {-10, -10}, {0.625, 0.75}, {-8, -7}, {0.625, 0.75},
         {0, 0}, 0},
        {"no bounds: the sentinels stay", {-kInf, -kInf}, {kInf, kInf}, {-8, -7}, {1.25, 1.5}, {1, 1}, 1},
        {"zero gradient: empty support", {-10, -10}, {10, 10}, {0, 0}, {0, 0}, {1, 1}, 1},
    };
    const std::vector<double> H = {4, 2, 2, 3};
    for (const StageCase& c : cases) {
        kelpie::Workspace ws;
        ASSERT_TRUE(kelpie::allocate_workspace(2, &ws));
        const std::vector<double> f = {0, 0};
        const kelpie::Problem p{2, H.data(), f.data(), c.lower.data(), c.upper.data()};
        ws.iterate.is_free[0] = ws.iterate.is_free[1] = 1;
        kelpie::update_free_factor(p, ws);
        ASSERT_EQ(kelpie::factor_entry(ws.factor, 2, 1, 0), 0.5);
        std::copy(c.g.begin(), c.g.end(), ws.iterate.g.get());
        std::vector<double> x = {0, 0};
        int sweep_all = 7;
        EXPECT_EQ(kelpie::newton_stage(p, x.data(), ws, &sweep_all), kelpie::NewtonOutcome::kDone) << c.name;
        EXPECT_EQ(x, c.x_after) << c.name;
        EXPECT_EQ(std::vector<int>(ws.iterate.is_free.get(), ws.iterate.is_free.get() + 2), c.is_free_after) << c.name;
        EXPECT_EQ(sweep_all, c.sweep_all) << c.name;
    }
}

// A slope whose terms cancel to below 1e-13 of their magnitudes is 0: with
// positive curvature the step is 0 and nothing moves. The factor is set by
// hand (pivots 1 and -1) so that g . dir = -1 + (1 + 1e-15) cancels.
TEST(NewtonStage, CancelledSlopeMovesNothing) {
    const std::vector<double> H = {1, 0, 0, 1};
    const std::vector<double> f = {0, 0}, lower = {-5, -5}, upper = {5, 5};
    for (double g1 : {1 + 1e-15, 1 + 1e-12}) {
        kelpie::Workspace ws;
        ASSERT_TRUE(kelpie::allocate_workspace(2, &ws));
        const kelpie::Problem p{2, H.data(), f.data(), lower.data(), upper.data()};
        ws.iterate.is_free[0] = ws.iterate.is_free[1] = 1;
        // A factor the pivot guard would never accept, written by hand.
        ws.factor.in_factor[0] = ws.factor.in_factor[1] = 1;
        ws.factor.D[0] = 1.0;
        ws.factor.D[1] = -1.0;
        ws.factor.L[1] = 0.0;
        ws.iterate.g[0] = 1.0;
        ws.iterate.g[1] = g1;
        std::vector<double> x = {0.5, 0.5};
        int sweep_all = 0;
        kelpie::newton_stage(p, x.data(), ws, &sweep_all);
        EXPECT_EQ(sweep_all, 1);
        if (g1 == 1 + 1e-15) {
            EXPECT_EQ(x, (std::vector<double>{0.5, 0.5}));
        } else {  // a slope of 1e-12 against a sum of 2 is kept, and the model moves x
            EXPECT_NE(x, (std::vector<double>{0.5, 0.5}));
        }
    }
}

// The worked stage cases through the whole solver: the problem whose free
// minimiser is the first Newton step.
TEST(NewtonStage, WorkedCasesThroughTheSolver) {
    struct Case {
        std::vector<double> lower, upper, x;
    };
    // g(0) = f = (-8, -7): the unconstrained minimiser is H^-1 (8, 7) = (1.25, 1.5).
    const std::vector<Case> cases = {
        {{-10, -10}, {10, 10}, {1.25, 1.5}},
        {{-kInf, -kInf}, {kInf, kInf}, {1.25, 1.5}},
        {{-10, -10}, {0.625, 0.75}, {0.625, 0.75}},
        // upper[0] = 1: x0 = 1 and x1 minimises 3/2 x1^2 + (2 - 7) x1: x1 = 5/3.
        {{-10, -10}, {1, 10}, {1, 5.0 / 3.0}},
    };
    for (const Case& c : cases) {
        kelpie_test::Qp q{2, {4, 2, 2, 3}, {-8, -7}, c.lower, c.upper, {0, 0}};
        const kelpie_test::Solution s = kelpie_test::solve(q);
        EXPECT_EQ(s.result, KELPIE_CONVERGED);
        EXPECT_NEAR(s.x[0], c.x[0], 1e-14);
        EXPECT_NEAR(s.x[1], c.x[1], 1e-14);
        EXPECT_LT(kelpie_test::kkt_residual(q, s.x), 1e-14);
    }
}

// Variables 0 and 1 have equal columns, so 1 stays out of the factor; its
// null direction (-1, 1, 0) is flat. Its own bounds are far away, so the
// move goes to the nearer end, where member 0 reaches its lower bound. The
// factor then trades 0 for 1 and the Newton step of members 1 and 2 follows
// in the same stage: x1 and x2 minimise (x1 - 1)^2 / 2 + (x2 - 0.6)^2 / 2.
TEST(NewtonStage, FlatMoveThatFixesAMemberIsFollowedByTheNewtonStep) {
    const std::vector<double> H = {1, 1, 0, 1, 1, 0, 0, 0, 1};
    const std::vector<double> f = {-1, -1, -0.6}, lower = {0, -10, 0}, upper = {1, 10, 1};
    kelpie::Workspace ws;
    ASSERT_TRUE(kelpie::allocate_workspace(3, &ws));
    const kelpie::Problem p{3, H.data(), f.data(), lower.data(), upper.data()};
    std::vector<double> x = {0.2, 0.5, 0.3};
    for (int i = 0; i < 3; ++i) ws.iterate.is_free[i] = 1;
    const kelpie::FactorChanges first = kelpie::update_free_factor(p, ws);
    ASSERT_EQ(first.kept_out, 1);
    ASSERT_FALSE(kelpie::is_member(ws.factor, 1));
    kelpie::compute_gradient(p, x.data(), ws.iterate.g.get());

    int sweep_all = 0;
    kelpie::FactorChanges changes{0, 0, 0};
    ASSERT_EQ(kelpie::newton_stage(p, x.data(), ws, &sweep_all, &changes), kelpie::NewtonOutcome::kDone);
    EXPECT_EQ(x[0], 0.0);
    EXPECT_NEAR(x[1], 1.0, 1e-15);
    EXPECT_NEAR(x[2], 0.6, 1e-15);
    EXPECT_EQ(sweep_all, 1);  // the Newton step ended inside the box
    EXPECT_EQ((std::vector<int>{ws.iterate.is_free[0], ws.iterate.is_free[1], ws.iterate.is_free[2]}), (std::vector<int>{0, 1, 1}));
    EXPECT_EQ((std::vector<bool>{kelpie::is_member(ws.factor, 0), kelpie::is_member(ws.factor, 1), kelpie::is_member(ws.factor, 2)}),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(changes.left, 1);
    EXPECT_EQ(changes.entered, 1);
    EXPECT_EQ(kelpie::factor_pivot(ws.factor, 1), 1.0);  // the factor of the block of 1 and 2: identity
    EXPECT_EQ(kelpie::factor_pivot(ws.factor, 2), 1.0);
    EXPECT_EQ(kelpie::factor_entry(ws.factor, 3, 2, 1), 0.0);
}

}  // namespace

namespace {

// d = -H^-1 g by a dense Cholesky factorisation of H (positive definite): the
// Newton direction when every variable is a member.
std::vector<double> newton_direction(const kelpie_test::Qp& q, const std::vector<double>& g) {
    const int n = q.n;
    std::vector<double> c(q.H);  // its lower triangle becomes the factor C, H = C C'
    for (int j = 0; j < n; ++j) {
        double s = c[j + j * n];
        for (int k = 0; k < j; ++k) s -= c[j + k * n] * c[j + k * n];
        c[j + j * n] = std::sqrt(s);
        for (int i = j + 1; i < n; ++i) {
            double t = c[i + j * n];
            for (int k = 0; k < j; ++k) t -= c[i + k * n] * c[j + k * n];
            c[i + j * n] = t / c[j + j * n];
        }
    }
    std::vector<double> d(n);
    for (int i = 0; i < n; ++i) {
        double t = -g[i];
        for (int k = 0; k < i; ++k) t -= c[i + k * n] * d[k];
        d[i] = t / c[i + i * n];
    }
    for (int i = n - 1; i >= 0; --i) {
        double t = d[i];
        for (int k = i + 1; k < n; ++k) t -= c[k + i * n] * d[k];
        d[i] = t / c[i + i * n];
    }
    return d;
}

// The accelerated step along the projected path x(t) = clip(x + t d), d the
// Newton direction: a step it takes lowers the objective, as computed here
// from scratch, by at least the sufficient-decrease share of its slope; every
// larger t of the halvings does not (the rule is neither loose nor
// needlessly strict); and only the variables it puts on a bound leave the
// free set. Boxes from tight (most of the path clipped) to loose (a few
// variables clipped) reach both ways it computes the curvature of a clipped
// step.
TEST(ProjectedSearch, AcceptedStepsLowerTheObjectiveEnough) {
    std::mt19937_64 rng(29);
    std::normal_distribution<double> normal;
    int taken = 0;
    for (double width : {0.05, 0.3, 1.0, 3.0}) {
        for (int trial = 0; trial < 10; ++trial) {
            const int n = 30;
            kelpie_test::Qp q;
            q.n = n;
            q.H = kelpie_test::random_spd(n, 1e3, rng);
            for (int i = 0; i < n; ++i) {
                q.f.push_back(10.0 * normal(rng));
                q.lower.push_back(-width * (1.0 + std::fabs(normal(rng))));
                q.upper.push_back(width * (1.0 + std::fabs(normal(rng))));
                q.x0.push_back(0.0);
            }
            kelpie::Workspace ws;
            ASSERT_TRUE(kelpie::allocate_workspace(n, &ws));
            const kelpie::Problem p{n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data()};
            std::vector<double> x = q.x0;
            const std::vector<double> g = kelpie_test::gradient(q, x);
            const std::vector<double> d = newton_direction(q, g);
            std::vector<int> members(n);
            for (int i = 0; i < n; ++i) {
                members[i] = i;
                ws.iterate.g[i] = g[i];
                ws.iterate.is_free[i] = 1;
                ws.scratch.direction[i] = d[i];
            }
            int sweep_all = 7;
            if (!kelpie::take_projected_step(p, x.data(), ws, members.data(), n, &sweep_all)) continue;
            ++taken;
            // The margin by which the rule holds at a point, from scratch.
            auto margin = [&](const std::vector<double>& at) {
                double slope = 0.0;
                for (int i = 0; i < n; ++i) slope += g[i] * (at[i] - q.x0[i]);
                const double change = kelpie_test::objective(q, at) - kelpie_test::objective(q, q.x0);
                return (kelpie::kSufficientDecrease * slope - change) / std::fabs(slope);
            };
            EXPECT_GE(margin(x), -1e-12) << "width " << width;
            double t = 1.0;
            for (;; t *= 0.5) {
                ASSERT_GT(t, 1e-12) << "the step is not on the path";
                std::vector<double> on_path(n);
                for (int i = 0; i < n; ++i) on_path[i] = std::min(std::max(q.x0[i] + t * d[i], q.lower[i]), q.upper[i]);
                if (on_path == x) break;
                EXPECT_LT(margin(on_path), 1e-12) << "t " << t << " was good enough, width " << width;
            }
            EXPECT_EQ(sweep_all, 0);
            for (int i = 0; i < n; ++i) {
                const bool on_bound = x[i] == q.lower[i] || x[i] == q.upper[i];
                EXPECT_EQ(ws.iterate.is_free[i], on_bound ? 0 : 1) << i;
                EXPECT_TRUE(x[i] >= q.lower[i] && x[i] <= q.upper[i]);
            }
        }
    }
    EXPECT_GT(taken, 8);
}

}  // namespace
