// The shipped kernels, which walk L and H in blocks of columns or positions,
// against the plain one-at-a-time loops of reference_kernels.h: the same bits
// on every size around the block widths (1, 4, 6, 8 and their remainders),
// on index lists with gaps, and, for the rank-one modification, with alpha
// reaching exactly 0 anywhere inside a group or in the remainder.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "block_solve.h"
#include "box_qp_internal.h"
#include "ldl_factor.h"
#include "newton_step.h"
#include "qp_test_util.h"
#include "reference_kernels.h"
#include "triangular_kernels.h"
#include "workspace.h"

namespace {

struct Data {
    int n;
    std::vector<int> list;  // ascending, with gaps of 1 and 2
    std::vector<double> L, D, y;
};

Data random_data(int m, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    Data d;
    d.n = 2 * m + 3;
    for (int k = 0; k < m; ++k) d.list.push_back(2 * k + 1 + (k % 3 == 0 ? 1 : 0));
    d.L.resize(static_cast<size_t>(d.n) * d.n);
    for (double& e : d.L) e = unit(rng);
    for (int i = 0; i < d.n; ++i) {
        d.D.push_back(1.0 + 0.5 * unit(rng));
        d.y.push_back(unit(rng));
    }
    return d;
}

TEST(Kernels, RankOneUpdateGivesTheBitsOfOnePositionAtATime) {
    struct Case {
        int m;
        int zero_pivot_at;  // position whose old pivot is 0 (alpha becomes 0 there), or -1
        double alpha;
    };
    const Case cases[] = {{0, -1, 1.0},  {1, -1, 1.0},  {4, -1, -0.7}, {5, -1, 2.0}, {11, -1, -0.3},
                          {13, -1, 1.5}, {24, -1, 0.8}, {9, 0, 1.0},   {9, 1, 1.0}, {9, 2, -1.0},
                          {9, 3, 1.0},   {9, 6, 1.0},   {10, 9, 1.0},  {17, 7, 1.0}, {17, 3, -1.0},
                          {19, 15, 1.0}, {21, 18, 1.0}, {6, -1, 0.0}};
    std::mt19937_64 rng(5);
    for (const Case& c : cases) {
        Data d = random_data(c.m, rng);
        if (c.zero_pivot_at >= 0) d.D[d.list[c.zero_pivot_at]] = 0.0;
        Data ref = d;
        kelpie::ldl_rank_one_update(c.m, d.L.data(), d.n, d.D.data(), d.list.data(), d.y.data(), c.alpha);
        kelpie_reference::rank_one_update(c.m, ref.L.data(), ref.n, ref.D.data(), ref.list.data(), ref.y.data(),
                                          c.alpha);
        EXPECT_EQ(d.L, ref.L) << "m " << c.m << " zero pivot at " << c.zero_pivot_at;
        EXPECT_EQ(d.D, ref.D) << "m " << c.m << " zero pivot at " << c.zero_pivot_at;
        EXPECT_EQ(d.y, ref.y) << "m " << c.m << " zero pivot at " << c.zero_pivot_at;
    }
}

TEST(Kernels, TriangularPassesGiveTheBitsOfTheRowOrderLoops) {
    std::mt19937_64 rng(6);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int m : {0, 1, 5, 7, 8, 9, 15, 16, 17, 30}) {
        const Data d = random_data(m, rng);
        std::vector<double> b(m), b_ref(m);
        for (int j = 0; j < m; ++j) b[j] = b_ref[j] = unit(rng);
        kelpie::substitute_forward(d.L.data(), d.n, d.list.data(), m, [&b](int j) -> double& { return b[j]; });
        kelpie_reference::substitute_forward(d.L.data(), d.n, d.list.data(), m, b_ref.data());
        EXPECT_EQ(b, b_ref) << "forward substitution, m " << m;

        // Columns: the first half of the list; rows: the rest.
        const int cols = m / 2;
        std::vector<double> z(d.n), z_ref(d.n);
        for (int i = 0; i < d.n; ++i) z[i] = z_ref[i] = unit(rng);
        kelpie::subtract_columns(d.L.data(), d.n, d.list.data(), cols, b.data(), d.list.data() + cols, m - cols, z.data());
        kelpie_reference::subtract_columns(d.L.data(), d.n, d.list.data(), cols, b.data(), d.list.data() + cols, m - cols,
                                           z_ref.data());
        EXPECT_EQ(z, z_ref) << "subtract_columns, m " << m;
    }
}

TEST(Kernels, MultiplyOnSupportGivesTheBitsOfTheRowOrderLoop) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int count : {0, 1, 3, 4, 5, 8, 13, 40}) {
        const int n = 2 * count + 3;
        const std::vector<double> H = kelpie_test::random_symmetric(n, rng);
        std::vector<int> support;
        for (int k = 0; k < count; ++k) support.push_back(2 * k + (k % 2));
        std::vector<double> dir(n), w(n, 9.0), w_ref(n, 9.0);
        for (double& e : dir) e = unit(rng);
        const std::vector<double> zeros(n, 0.0);
        const kelpie::Problem p{n, H.data(), zeros.data(), zeros.data(), zeros.data()};
        kelpie::multiply_on_support(p, support.data(), count, dir.data(), w.data());
        kelpie_reference::multiply_on_support(H.data(), n, support.data(), count, dir.data(), w_ref.data());
        EXPECT_EQ(w, w_ref) << "count " << count;
    }
}

// Eight sides solved side by side: each gets the bits of its own solve, its
// reduced diagonal included.
TEST(Kernels, BlockSolveGivesTheBitsOfOneSideAtATime) {
    constexpr int K = kelpie::kAppendBlock;
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int m : {0, 1, 5, 6, 7, 12, 13, 31}) {
        const Data d = random_data(m, rng);
        std::vector<double> W(static_cast<size_t>(K) * (m + 1));
        for (double& e : W) e = unit(rng);
        double reduced[K];
        for (double& r : reduced) r = unit(rng);
        std::vector<double> W_block = W;
        double reduced_block[K];
        for (int t = 0; t < K; ++t) reduced_block[t] = reduced[t];
        kelpie::solve_block(d.L.data(), d.D.data(), d.n, d.list.data(), m, W_block.data(), reduced_block);
        for (int t = 0; t < K; ++t) {
            std::vector<double> side(m);
            for (int r = 0; r < m; ++r) side[r] = W[static_cast<size_t>(r) * K + t];
            double reduced_one = reduced[t];
            kelpie_reference::solve_with_factor(d.L.data(), d.D.data(), d.n, d.list.data(), m, side.data(), &reduced_one);
            for (int r = 0; r < m; ++r) EXPECT_EQ(W_block[static_cast<size_t>(r) * K + t], side[r]) << "m " << m;
            EXPECT_EQ(reduced_block[t], reduced_one) << "m " << m << " side " << t;
        }
    }
}

// The gradient the accelerated method steers by reads only the lower
// triangle (NaN above the diagonal must not show), agrees with the gradient
// from all of H to the rounding of its terms on every size around its blocks
// of four columns, and gives the same bits wherever its vectors lie.
TEST(Kernels, GradientFromTheLowerTriangle) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int n : {1, 2, 3, 4, 5, 7, 8, 9, 12, 13, 67}) {
        const std::vector<double> H = kelpie_test::random_symmetric(n, rng);
        std::vector<double> lower_only = H;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < j; ++i) lower_only[i + static_cast<size_t>(j) * n] = std::numeric_limits<double>::quiet_NaN();
        }
        std::vector<double> f(n), x(n), g_full(n), g(n);
        for (double& e : f) e = unit(rng);
        for (double& e : x) e = unit(rng);
        const std::vector<double> zeros(n, 0.0);
        kelpie::compute_gradient(kelpie::Problem{n, H.data(), f.data(), zeros.data(), zeros.data()}, x.data(), g_full.data());
        const kelpie::Problem triangle{n, lower_only.data(), f.data(), zeros.data(), zeros.data()};
        kelpie::compute_gradient_from_triangle(triangle, x.data(), g.data());
        for (int i = 0; i < n; ++i) {
            double terms = std::fabs(f[i]);
            for (int j = 0; j < n; ++j) terms += std::fabs(H[i + static_cast<size_t>(j) * n] * x[j]);
            EXPECT_LE(std::fabs(g[i] - g_full[i]), 2.5e-16 * n * terms) << "n " << n << ", row " << i;
        }
        for (int shift = 1; shift < 4; ++shift) {
            std::vector<double> x_shifted(n + shift), g_shifted(n + shift);
            std::copy(x.begin(), x.end(), x_shifted.begin() + shift);
            kelpie::compute_gradient_from_triangle(triangle, x_shifted.data() + shift, g_shifted.data() + shift);
            EXPECT_TRUE(std::equal(g.begin(), g.end(), g_shifted.begin() + shift)) << "n " << n << ", shift " << shift;
        }
    }
}

}  // namespace
