// solve_box_qp_with_options: the defaults give the bits of solve_box_qp,
// bad options are refused with nothing written, the info says what happened,
// and a chosen Newton-step limit bounds the whole solve.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "box_qp.h"
#include "qp_test_util.h"

namespace {

using kelpie_test::Qp;
using kelpie_test::Solution;

constexpr double kInf = std::numeric_limits<double>::infinity();

Solution solve_with(const Qp& q, const kelpie_options* options, kelpie_info* info) {
    Solution s;
    s.x = q.x0;
    s.lambda_lower.assign(q.n, 0.0);
    s.lambda_upper.assign(q.n, 0.0);
    s.result = solve_box_qp_with_options(q.n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), s.x.data(),
                                         s.lambda_lower.data(), s.lambda_upper.data(), options, info);
    return s;
}

std::vector<Qp> mixed_problems(std::mt19937_64& rng, int n = 30) {
    std::normal_distribution<double> normal;
    std::vector<Qp> problems;
    for (int kind = 0; kind < 4; ++kind) {
        Qp q;
        q.n = n;
        std::vector<double> A;
        if (kind == 0) q.H = kelpie_test::random_spd(n, 1e3, rng);
        if (kind == 1) q.H = kelpie_test::random_gram(n / 3, n, rng, &A);
        if (kind == 2) q.H = kelpie_test::random_gram(n / 2, n, rng, &A);
        if (kind == 3) q.H = kelpie_test::random_symmetric(n, rng);
        q.f.resize(n);
        for (double& e : q.f) e = normal(rng);
        q.lower.assign(n, kind == 2 ? 0.0 : -1.0);
        q.upper.assign(n, kind == 2 ? kInf : 1.0);
        q.x0.assign(n, 0.0);
        problems.push_back(q);
    }
    return problems;
}

TEST(Options, DefaultsGiveTheBitsOfSolveBoxQp) {
    std::mt19937_64 rng(41);
    for (const Qp& q : mixed_problems(rng)) {
        const Solution plain = kelpie_test::solve(q);
        const kelpie_options defaults = KELPIE_OPTIONS_INIT;
        kelpie_info info = KELPIE_INFO_INIT;
        for (const Solution& s : {solve_with(q, nullptr, nullptr), solve_with(q, &defaults, &info)}) {
            EXPECT_EQ(s.result, plain.result);
            EXPECT_EQ(s.x, plain.x);
            EXPECT_EQ(s.lambda_lower, plain.lambda_lower);
            EXPECT_EQ(s.lambda_upper, plain.lambda_upper);
        }
    }
}

// Where every Newton step ends inside the box (here: definite problems whose
// minimiser lies inside it), nothing of the accelerated method's own engages,
// and its full sweeps see the gradient the described method sees: the same
// bits, passes and all.
TEST(Options, AcceleratedGivesTheDescribedBitsWhereNoStepEndsOnABound) {
    std::mt19937_64 rng(47);
    std::normal_distribution<double> normal;
    for (int n : {7, 40, 130}) {
        for (double cond : {1e2, 1e8}) {
            const Qp q = kelpie_test::definite_problem(n, cond, -1e12, 1e12, rng, normal);
            const std::string what = "n " + std::to_string(n) + ", cond " + std::to_string(cond);
            kelpie_options described = KELPIE_OPTIONS_INIT;
            kelpie_options accelerated = KELPIE_OPTIONS_INIT;
            accelerated.method = KELPIE_METHOD_ACCELERATED;
            kelpie_info described_info = KELPIE_INFO_INIT;
            kelpie_info accelerated_info = KELPIE_INFO_INIT;
            const Solution d = solve_with(q, &described, &described_info);
            const Solution a = solve_with(q, &accelerated, &accelerated_info);
            kelpie_test::expect_solution(q, d, what);
            EXPECT_EQ(a.result, d.result) << what;
            EXPECT_EQ(a.x, d.x) << what;
            EXPECT_EQ(a.lambda_lower, d.lambda_lower) << what;
            EXPECT_EQ(a.lambda_upper, d.lambda_upper) << what;
            EXPECT_EQ(accelerated_info.passes, described_info.passes) << what;
        }
    }
}

TEST(Options, BadOptionsAreRefusedWithNothingWritten) {
    const Qp q{2, {2, 0, 0, 2}, {-1, 1}, {-1, -1}, {1, 1}, {0.5, 0.5}};
    struct Row {
        const char* name;
        kelpie_options options;
    };
    const Row rows[] = {
        {"version 0", {0, KELPIE_METHOD_DESCRIBED, 0}},
        {"version 2", {KELPIE_OPTIONS_VERSION + 1, KELPIE_METHOD_DESCRIBED, 0}},
        {"unknown method", {KELPIE_OPTIONS_VERSION, 2, 0}},
        {"negative method", {KELPIE_OPTIONS_VERSION, -1, 0}},
        {"negative limit", {KELPIE_OPTIONS_VERSION, KELPIE_METHOD_ACCELERATED, -5}},
    };
    for (const Row& row : rows) {
        kelpie_info info = KELPIE_INFO_INIT;
        const Solution s = solve_with(q, &row.options, &info);
        EXPECT_EQ(s.result, KELPIE_INVALID_OPTIONS) << row.name;
        EXPECT_EQ(s.x, q.x0) << row.name;
        EXPECT_EQ(s.lambda_lower, std::vector<double>(2, 0.0)) << row.name;
        EXPECT_EQ(s.lambda_upper, std::vector<double>(2, 0.0)) << row.name;
        EXPECT_STREQ(info.message, "invalid options") << row.name;
    }
}

TEST(Options, InfoTellsWhatHappened) {
    struct Row {
        const char* name;
        Qp q;
        int result;
        const char* message_start;
    };
    const Row rows[] = {
        {"solved", {2, {4, 2, 2, 3}, {-8, -7}, {-10, -10}, {1, 10}, {0, 0}}, KELPIE_CONVERGED, "converged"},
        {"infeasible", {1, {1}, {0}, {1}, {0}, {0}}, KELPIE_INFEASIBLE, "infeasible"},
        {"unbounded", {1, {0}, {1}, {-kInf}, {kInf}, {0}}, KELPIE_UNBOUNDED, "unbounded"},
    };
    for (const Row& row : rows) {
        kelpie_info info = KELPIE_INFO_INIT;
        const kelpie_options options = KELPIE_OPTIONS_INIT;
        const Solution s = solve_with(row.q, &options, &info);
        EXPECT_EQ(s.result, row.result) << row.name;
        ASSERT_NE(info.message, nullptr) << row.name;
        EXPECT_EQ(std::strncmp(info.message, row.message_start, std::strlen(row.message_start)), 0)
            << row.name << ": " << info.message;
        if (row.result == KELPIE_CONVERGED) {
            EXPECT_GE(info.passes, 1);
            EXPECT_GE(info.full_sweeps, 1);
            EXPECT_LE(info.first_order_residual, 1e-9);
            EXPECT_NEAR(info.objective, kelpie_test::objective(row.q, s.x), 1e-12);
        }
        if (row.result == KELPIE_INFEASIBLE) {
            EXPECT_TRUE(std::isnan(info.objective)) << row.name;
        }
    }
    // An info of a version this library does not know is left alone.
    kelpie_info unknown = KELPIE_INFO_INIT;
    unknown.version = KELPIE_INFO_VERSION + 1;
    solve_with(rows[0].q, nullptr, &unknown);
    EXPECT_EQ(unknown.passes, 0);
    EXPECT_EQ(unknown.message, nullptr);
}

// A chosen limit bounds every Newton phase of the solve (the main loop and
// the proximal steps together, stall runs included); where it stops short,
// the result is 99. (Some of the least-squares problems with x >= 0 are
// unbounded below; a limited solve may find that too, or stop before.)
TEST(Options, ChosenNewtonLimitBoundsTheWholeSolve) {
    std::mt19937_64 rng(43);
    std::vector<Qp> problems;
    for (int draw = 0; draw < 3; ++draw) {
        for (int n : {11, 19, 22, 30, 45}) {
            for (const Qp& q : mixed_problems(rng, n)) problems.push_back(q);
        }
    }
    for (const Qp& q : problems) {
        const bool unbounded = kelpie_test::solve(q).result == KELPIE_UNBOUNDED;
        for (long long limit : {1LL, 2LL, 3LL, 5LL, 10LL}) {
            for (int method : {KELPIE_METHOD_DESCRIBED, KELPIE_METHOD_ACCELERATED}) {
                const kelpie_options options = {KELPIE_OPTIONS_VERSION, method, limit};
                kelpie_info info = KELPIE_INFO_INIT;
                const Solution s = solve_with(q, &options, &info);
                EXPECT_LE(info.newton_steps, limit) << "n " << q.n << ", method " << method;
                if (unbounded && s.result == KELPIE_UNBOUNDED) continue;
                ASSERT_TRUE(s.result == KELPIE_CONVERGED || s.result == KELPIE_ITERATION_LIMIT) << s.result;
                EXPECT_EQ(s.result == KELPIE_CONVERGED, info.first_order_residual <= 1e-9)
                    << "limit " << limit << " residual " << info.first_order_residual;
                if (s.result == KELPIE_CONVERGED) kelpie_test::expect_solution(q, s, "limited solve");
            }
        }
    }
}

}  // namespace
