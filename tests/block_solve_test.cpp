// Blocked solves with the free-set factor: the null directions of variables
// outside the factor and the curvature along them that the solve reports.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "block_solve.h"
#include "ldl_factor.h"
#include "qp_test_util.h"
#include "workspace.h"

namespace {

// For each variable i outside the factor, solve_block on the side -H(M, i)
// must give d_M with H_MM d_M = -H(M, i), and the curvature d'Hd of
// d = (d_M, 1), which is computed here straight from H. Covers variables in
// the span of the members (curvature 0), independent ones (positive) and,
// after lowering H(i, i), ones along which the objective bends down.
TEST(SolveBlock, ReportsTheCurvatureAlongEachNullDirection) {
    struct Case {
        const char* name;
        int n;
        int rank;          // 0: positive definite H
        double diagonal_shift;  // added to H(i, i) of the variables outside the factor
    };
    const Case cases[] = {{"semidefinite", 30, 12, 0.0},
                          {"definite, members every other variable", 23, 0, 0.0},
                          {"definite, diagonal lowered", 23, 0, -40.0}};
    std::mt19937_64 rng(77);
    for (const Case& c : cases) {
        const int n = c.n;
        std::vector<double> A;
        std::vector<double> H = c.rank > 0 ? kelpie_test::random_gram(c.rank, n, rng, &A)
                                           : kelpie_test::random_spd(n, 1e2, rng);
        std::vector<double> zeros(n, 0.0);
        kelpie::Workspace ws;
        ASSERT_TRUE(kelpie::allocate_workspace(n, &ws));
        kelpie::Problem p{n, H.data(), zeros.data(), zeros.data(), zeros.data()};
        for (int i = 0; i < n; ++i) ws.iterate.is_free[i] = (c.rank > 0 || i % 2 == 0) ? 1 : 0;
        kelpie::update_free_factor(p, ws);  // with a rank-deficient H the guard keeps the dependent ones out

        std::vector<int> members, outside;
        for (int i = 0; i < n; ++i) (kelpie::is_member(ws.factor, i) ? members : outside).push_back(i);
        ASSERT_FALSE(outside.empty()) << c.name;
        for (int i : outside) H[i + static_cast<size_t>(i) * n] += c.diagonal_shift;

        const int m = static_cast<int>(members.size());
        for (size_t first = 0; first < outside.size(); first += kelpie::kAppendBlock) {
            const int count = static_cast<int>(std::min<size_t>(kelpie::kAppendBlock, outside.size() - first));
            const int* variables = outside.data() + first;
            std::vector<double> W(static_cast<size_t>(kelpie::kAppendBlock) * n);
            double reduced[kelpie::kAppendBlock] = {};
            for (int t = 0; t < count; ++t) reduced[t] = H[variables[t] + static_cast<size_t>(variables[t]) * n];
            kelpie::gather_sides(p, variables, count, members.data(), m, true, W.data());
            kelpie::solve_block(ws.factor.L.get(), ws.factor.D.get(), n, members.data(), m, W.data(), reduced);

            for (int t = 0; t < count; ++t) {
                const int i = variables[t];
                std::vector<double> d(n, 0.0);
                d[i] = 1.0;
                for (int r = 0; r < m; ++r) d[members[r]] = W[static_cast<size_t>(r) * kelpie::kAppendBlock + t];
                double curvature = 0, size = 0, residual = 0, residual_size = 0;
                for (int a = 0; a < n; ++a) {
                    double row = 0, row_size = 0;
                    for (int b = 0; b < n; ++b) {
                        row += H[a + static_cast<size_t>(b) * n] * d[b];
                        row_size += std::fabs(H[a + static_cast<size_t>(b) * n] * d[b]);
                    }
                    curvature += d[a] * row;
                    size += std::fabs(d[a]) * row_size;
                    if (kelpie::is_member(ws.factor, a)) {
                        residual = std::max(residual, std::fabs(row));
                        residual_size = std::max(residual_size, row_size);
                    }
                }
                EXPECT_LE(residual, 1e-10 * residual_size) << c.name << ": H_MM d_M = -H(M, i) for i = " << i;
                EXPECT_NEAR(reduced[t], curvature, 1e-10 * size) << c.name << ": variable " << i;
                if (c.diagonal_shift < 0) {
                    EXPECT_LT(reduced[t], 0) << c.name << ": variable " << i;
                }
            }
            for (int t = count; t < kelpie::kAppendBlock; ++t) EXPECT_EQ(reduced[t], 0.0) << c.name << ": unused side";
        }
    }
}

}  // namespace
