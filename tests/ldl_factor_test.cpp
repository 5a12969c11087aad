// The free-set factor: the rank-one modification, removal and addition, the
// guard that keeps dependent variables out, and the build in one piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "factor_from_scratch.h"
#include "ldl_factor.h"
#include "qp_test_util.h"
#include "workspace.h"

namespace {

// A workspace over H with the given free flags; the factor starts empty.
struct FactorFixture {
    int n;
    std::vector<double> H, zeros;
    kelpie::Workspace ws;
    kelpie::Problem p;

    FactorFixture(int n_, std::vector<double> H_) : n(n_), H(std::move(H_)), zeros(n_, 0.0) {
        EXPECT_TRUE(kelpie::allocate_workspace(n, &ws));
        p = kelpie::Problem{n, H.data(), zeros.data(), zeros.data(), zeros.data()};
    }
    void set_free(const std::vector<int>& free) {
        std::copy(free.begin(), free.end(), ws.iterate.is_free.get());
        kelpie::update_free_factor(p, ws);
    }
    int member(int i) const { return kelpie::is_member(ws.factor, i) ? 1 : 0; }
    double pivot(int i) const { return kelpie::factor_pivot(ws.factor, i); }
    double L(int r, int c) const { return kelpie::factor_entry(ws.factor, n, r, c); }
};

// Largest |(L D L')(r, c) - H(r, c)| over the members, relative to max |H|.
double factor_error(const FactorFixture& fx) {
    std::vector<int> members;
    for (int i = 0; i < fx.n; ++i) {
        if (fx.member(i)) members.push_back(i);
    }
    double worst = 0, scale = 0;
    for (double e : fx.H) scale = std::max(scale, std::fabs(e));
    const int m = static_cast<int>(members.size());
    for (int a = 0; a < m; ++a) {
        for (int b = 0; b <= a; ++b) {
            double sum = 0;
            for (int k = 0; k <= b; ++k) {
                const double lak = (k == a) ? 1.0 : fx.L(members[a], members[k]);
                const double lbk = (k == b) ? 1.0 : fx.L(members[b], members[k]);
                sum += lak * fx.pivot(members[k]) * lbk;
            }
            worst = std::max(worst, std::fabs(sum - fx.H[members[a] + static_cast<size_t>(members[b]) * fx.n]));
        }
    }
    return worst / scale;
}

TEST(LdlFactor, WorkedTwoByTwoExampleExactValues) {
    FactorFixture fx(2, {4, 2, 2, 3});
    fx.set_free({1, 1});
    EXPECT_EQ(fx.pivot(0), 4.0);
    EXPECT_EQ(fx.pivot(1), 2.0);
    EXPECT_EQ(fx.L(1, 0), 0.5);
    fx.set_free({0, 1});  // variable 0 leaves: D[1] becomes H(1, 1)
    EXPECT_EQ(fx.member(0), 0);
    EXPECT_EQ(fx.pivot(1), 3.0);
    fx.set_free({1, 1});  // variable 0 enters again in front of 1
    EXPECT_EQ(fx.pivot(0), 4.0);
    EXPECT_EQ(fx.L(1, 0), 0.5);
    EXPECT_EQ(fx.pivot(1), 2.0);
    const double D0 = fx.pivot(0), L10 = fx.L(1, 0);
    fx.set_free({1, 0});  // the last variable leaving only clears its flag
    EXPECT_EQ(fx.member(1), 0);
    EXPECT_EQ(fx.pivot(0), D0);
    EXPECT_EQ(fx.pivot(1), 2.0);
    EXPECT_EQ(fx.L(1, 0), L10);
}

TEST(LdlFactor, EnteringWithOnlyLaterMembersTakesColumnOverDiagonal) {
    FactorFixture fx(3, {4, 2, 1, 2, 5, 3, 1, 3, 6});
    fx.set_free({0, 1, 1});
    fx.set_free({1, 1, 1});
    EXPECT_EQ(fx.pivot(0), 4.0);
    EXPECT_EQ(fx.L(1, 0), 0.5);
    EXPECT_EQ(fx.L(2, 0), 0.25);
    EXPECT_LT(factor_error(fx), 1e-15);
}

// The rank-one routine's boundary cases: what changes and what must not.
TEST(LdlRankOneUpdate, EmptyZeroWeightAndExactStop) {
    const int n = 3;
    // Factor of diag-free block {0, 1, 2} with L(1,0) = 0.5, L(2,0) = 0.25, L(2,1) = -1.
    const std::vector<double> L0 = {9, 0.5, 0.25, 9, 9, -1, 9, 9, 9};
    const std::vector<double> D0 = {2, 3, 4};
    const std::vector<int> idx = {0, 1, 2};
    {  // m = 0: nothing changes, y included
        std::vector<double> L = L0, D = D0, y = {1, 2, 3};
        kelpie::ldl_rank_one_update(0, L.data(), n, D.data(), idx.data(), y.data(), 5.0);
        EXPECT_EQ(L, L0);
        EXPECT_EQ(D, D0);
        EXPECT_EQ(y, (std::vector<double>{1, 2, 3}));
    }
    {  // alpha = 0 on entry: the first position only; its pivot and column stay, later y reduced
        std::vector<double> L = L0, D = D0, y = {2, 1, 1};
        kelpie::ldl_rank_one_update(3, L.data(), n, D.data(), idx.data(), y.data(), 0.0);
        EXPECT_EQ(L, L0);
        EXPECT_EQ(D, D0);
        EXPECT_EQ(y, (std::vector<double>{2, 1 - 0.5 * 2, 1 - 0.25 * 2}));
    }
    {  // untouched outside idx: a block of positions {0, 2}
        std::vector<double> L = L0, D = D0, y = {1, 7, 1};
        const std::vector<int> sub = {0, 2};
        kelpie::ldl_rank_one_update(2, L.data(), n, D.data(), sub.data(), y.data(), 1.0);
        EXPECT_EQ(D[1], D0[1]);
        EXPECT_EQ(y[1], 7.0);
        EXPECT_EQ(L[1], L0[1]);
        EXPECT_EQ(L[5], L0[5]);
        EXPECT_NE(L[2], L0[2]);
    }
}

// Random free-set sequences on positive definite H: after every phase the
// members are the free variables and L D L' is their block of H.
TEST(LdlFactor, FactorMatchesFreeBlockAfterEveryPhase) {
    std::mt19937_64 rng(20261208);
    for (int n : {1, 2, 5, 17, 60, 200}) {
        FactorFixture fx(n, kelpie_test::random_spd(n, 1e3, rng));
        std::bernoulli_distribution coin(0.5), rare(0.1);
        std::vector<int> free(n, 0);
        for (int phase = 0; phase < 12; ++phase) {
            for (int i = 0; i < n; ++i) {
                if (phase % 3 == 2 ? rare(rng) : coin(rng)) free[i] = 1 - free[i];  // leave and re-enter
            }
            fx.set_free(free);
            for (int i = 0; i < n; ++i) ASSERT_EQ(fx.member(i), free[i]) << "n " << n << " phase " << phase;
            EXPECT_LT(factor_error(fx), 1e-11) << "n " << n << " phase " << phase;
        }
    }
}

// Semidefinite blocks: a dependent variable stays out, and what stays in is
// factored exactly, with nothing non-finite in L or D.
TEST(LdlFactor, DependentVariablesStayOutOfTheFactor) {
    {  // H = [1 1; 1 1], adding both at once: the second is dependent
        FactorFixture fx(2, {1, 1, 1, 1});
        fx.set_free({1, 1});
        EXPECT_EQ(fx.member(0), 1);
        EXPECT_EQ(fx.member(1), 0);
        EXPECT_EQ(fx.pivot(0), 1.0);
    }
    {  // variable 1 a member first, 0 entering in front: the later pivot would vanish
        FactorFixture fx(2, {1, 1, 1, 1});
        fx.set_free({0, 1});
        fx.set_free({1, 1});
        EXPECT_EQ(fx.member(0), 0);
        EXPECT_EQ(fx.member(1), 1);
        EXPECT_EQ(fx.pivot(1), 1.0);
    }
    {  // a zero column and a negative diagonal never enter
        FactorFixture fx(3, {0, 0, 0, 0, 2, 0, 0, 0, -1});
        fx.set_free({1, 1, 1});
        EXPECT_EQ(fx.member(0), 0);
        EXPECT_EQ(fx.member(1), 1);
        EXPECT_EQ(fx.member(2), 0);
    }
    std::mt19937_64 rng(7);
    for (int n : {6, 30, 120}) {  // H = A'A with A of n/2 rows: rank n/2
        std::vector<double> A;
        FactorFixture fx(n, kelpie_test::random_gram(n / 2, n, rng, &A));
        std::bernoulli_distribution coin(0.6);
        std::vector<int> free(n);
        for (int phase = 0; phase < 8; ++phase) {
            for (int i = 0; i < n; ++i) free[i] = coin(rng);
            fx.set_free(free);
            int members = 0;
            for (int i = 0; i < n; ++i) {
                EXPECT_LE(fx.member(i), free[i]);
                members += fx.member(i);
                if (fx.member(i)) {
                    EXPECT_TRUE(std::isfinite(fx.pivot(i)) && fx.pivot(i) > 0);
                }
            }
            EXPECT_LE(members, n / 2) << "n " << n;
            EXPECT_LT(factor_error(fx), 1e-9) << "n " << n << " phase " << phase;
        }
    }
}

// Variables entering after the last member are added in blocks that share
// one pass over L. The factor must hold the bits of adding them one phase at
// a time, in ascending order, including when some of them fail the pivot
// guard in the middle of a block (H = A'A of low rank).
TEST(LdlFactor, AppendedBlocksGiveTheBitsOfOneVariableAtATime) {
    std::mt19937_64 rng(11);
    for (int n : {9, 40, 150}) {
        for (bool low_rank : {false, true}) {
            std::vector<double> A;
            const std::vector<double> H =
                low_rank ? kelpie_test::random_gram(n / 3, n, rng, &A) : kelpie_test::random_spd(n, 1e4, rng);
            FactorFixture block(n, H), single(n, H);
            std::bernoulli_distribution coin(0.7);
            std::vector<int> first(n, 0);
            for (int i = 0; i < n / 4; ++i) first[i] = coin(rng);  // some members at the front
            block.set_free(first);
            single.set_free(first);
            std::vector<int> all = first, one_by_one = first;
            for (int i = n / 4; i < n; ++i) all[i] = coin(rng);
            block.set_free(all);
            for (int i = n / 4; i < n; ++i) {
                if (all[i] == 0) continue;
                one_by_one[i] = 1;
                single.set_free(one_by_one);
            }
            int kept_out = 0;
            for (int r = 0; r < n; ++r) {
                ASSERT_EQ(block.member(r), single.member(r)) << "n " << n << " variable " << r;
                kept_out += all[r] - block.member(r);
                if (!block.member(r)) continue;
                EXPECT_EQ(block.pivot(r), single.pivot(r)) << "n " << n << " pivot " << r;
                for (int c = 0; c < r; ++c) {
                    if (!block.member(c)) continue;
                    EXPECT_EQ(block.L(r, c), single.L(r, c)) << "n " << n << " L(" << r << ", " << c << ")";
                }
            }
            if (low_rank) {
                EXPECT_GT(kept_out, 0) << "n " << n;
            }
            EXPECT_LT(factor_error(block), low_rank ? 1e-9 : 1e-11) << "n " << n;
        }
    }
}

// Variables entering in the middle of the elimination order, where tries
// that fail and tries that succeed alternate: every other one repeats, up to
// a factor, the column of A of a member before or after it (its own pivot or
// a later one fails the guard), the others are independent. After a failure
// the tries go in batches; the factor must hold the bits of trying them one
// phase at a time, and a success must not let the rest of a batch be used.
TEST(LdlFactor, TriesInTheMiddleGiveTheBitsOfOneVariableAtATime) {
    std::mt19937_64 rng(12);
    std::normal_distribution<double> normal;
    for (int n : {24, 48, 96}) {
        const int front = n / 8, back = 3 * n / 4, rows = n;  // members: [0, front) and [back, n)
        std::vector<int> base;
        for (int i = 0; i < n; ++i) {
            if (i < front || i >= back) base.push_back(i);
        }
        std::vector<double> A(static_cast<size_t>(rows) * n);
        for (int j = 0; j < n; ++j) {
            const bool repeat = j >= front && j < back && (j - front) % 2 == 0;
            const int source = base[static_cast<size_t>(rng() % base.size())];
            const double scale = 0.5 + std::fabs(normal(rng));
            for (int r = 0; r < rows; ++r) {
                double& e = A[r + static_cast<size_t>(j) * rows];
                e = repeat ? 0.0 : normal(rng);
                if (repeat && source < j) e = scale * A[r + static_cast<size_t>(source) * rows];
            }
        }
        // Columns that repeat a member after them, now that it is filled.
        for (int j = front; j < back; j += 2) {
            bool empty = true;
            for (int r = 0; r < rows; ++r) empty = empty && A[r + static_cast<size_t>(j) * rows] == 0.0;
            if (!empty) continue;
            const int source = base[static_cast<size_t>(front + rng() % (n - back))];
            for (int r = 0; r < rows; ++r) A[r + static_cast<size_t>(j) * rows] = 2.0 * A[r + static_cast<size_t>(source) * rows];
        }
        std::vector<double> H(static_cast<size_t>(n) * n, 0.0);
        for (int c = 0; c < n; ++c) {
            for (int r = 0; r < n; ++r) {
                double sum = 0.0;
                for (int k = 0; k < rows; ++k) sum += A[k + static_cast<size_t>(r) * rows] * A[k + static_cast<size_t>(c) * rows];
                H[r + static_cast<size_t>(c) * n] = sum;
            }
        }
        FactorFixture batched(n, H), single(n, H);
        std::vector<int> members(n, 0);
        for (int i : base) members[i] = 1;
        batched.set_free(members);
        single.set_free(members);
        std::vector<int> all(n, 1), one_by_one = members;
        batched.set_free(all);
        for (int i = front; i < back; ++i) {
            one_by_one[i] = 1;
            single.set_free(one_by_one);
        }
        int kept_out = 0;
        for (int r = 0; r < n; ++r) {
            ASSERT_EQ(batched.member(r), single.member(r)) << "n " << n << " variable " << r;
            kept_out += 1 - batched.member(r);
            if (!batched.member(r)) continue;
            EXPECT_EQ(batched.pivot(r), single.pivot(r)) << "n " << n << " pivot " << r;
            for (int c = 0; c < r; ++c) {
                if (!batched.member(c)) continue;
                EXPECT_EQ(batched.L(r, c), single.L(r, c)) << "n " << n << " L(" << r << ", " << c << ")";
            }
        }
        EXPECT_EQ(kept_out, (back - front + 1) / 2) << "n " << n;
        EXPECT_LT(factor_error(batched), 1e-9) << "n " << n;
    }
}

}  // namespace

// The factor built in one piece by LAPACK: on blocks the additions take
// whole, the same members and the same factor to rounding (L D L' is the
// block, pivots agree with the additions' to the block's conditioning), on
// free sets with gaps, so that every entry must land at its variables'
// places. Definite, ill-conditioned and A'A + eps I blocks.
TEST(FactorFromScratch, GivesTheAdditionsFactorToRounding) {
    std::mt19937_64 rng(31);
    struct Row {
        const char* family;
        int n;
        double pivot_tolerance;
    };
    const int smallest = kelpie::kSmallestBlockBuild;
    const Row rows[] = {{"cond 1e2", smallest, 1e-12}, {"cond 1e2", 450, 1e-12}, {"cond 1e8", 450, 1e-5},
                        {"A'A + 1e-6 I", 450, 1e-6}};
    for (const Row& row : rows) {
        const std::string family = row.family;
        const int n = row.n;
        std::vector<double> H;
        if (family == "A'A + 1e-6 I") {
            std::vector<double> A;
            H = kelpie_test::random_gram(n / 3, n, rng, &A);
            for (int i = 0; i < n; ++i) H[i + static_cast<size_t>(i) * n] += 1e-6;
        } else {
            H = kelpie_test::random_spd(n, family == "cond 1e2" ? 1e2 : 1e8, rng);
        }
        FactorFixture whole(n, H), added(n, H);
        std::bernoulli_distribution coin(0.8);
        std::vector<int> free(n, 1);
        if (n > smallest) {
            for (int i = 0; i < n; ++i) free[i] = coin(rng);
        }
        std::copy(free.begin(), free.end(), whole.ws.iterate.is_free.get());
        kelpie::FactorChanges changes{-1, -1, -1};
        const std::string what = family + ", n " + std::to_string(n);
        ASSERT_TRUE(kelpie::build_factor_from_scratch(whole.p, whole.ws, &changes)) << what;
        added.set_free(free);
        int members = 0;
        double worst_pivot = 0.0;
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(whole.member(i), free[i]) << what << " variable " << i;
            ASSERT_EQ(added.member(i), free[i]) << what << " variable " << i;
            if (!free[i]) continue;
            ++members;
            worst_pivot = std::max(worst_pivot, std::fabs(whole.pivot(i) - added.pivot(i)) / added.pivot(i));
        }
        EXPECT_EQ(changes.left, 0) << what;
        EXPECT_EQ(changes.entered, members) << what;
        EXPECT_EQ(changes.kept_out, 0) << what;
        EXPECT_LT(worst_pivot, row.pivot_tolerance) << what;
        EXPECT_LT(factor_error(whole), 1e-12) << what;
        // The factor is then modified as usual: some members leave, others
        // come back.
        for (int i = 0; i < n; i += 3) free[i] = 1 - free[i];
        whole.set_free(free);
        for (int i = 0; i < n; ++i) ASSERT_EQ(whole.member(i), free[i]) << what << " after a change, " << i;
        EXPECT_LT(factor_error(whole), 1e-11) << what << " after a change";
    }
}

// Where the block is not safely definite, or the factor is not empty, or the
// block is small, the build declines and leaves the factor empty (or as it
// was) for the additions, which then keep out what the guard refuses.
TEST(FactorFromScratch, DeclinesWhatTheAdditionsMustDecide) {
    std::mt19937_64 rng(32);
    std::vector<double> A;
    const int n = kelpie::kSmallestBlockBuild + 20;
    std::vector<double> nearly_parallel(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) nearly_parallel[i + static_cast<size_t>(i) * n] = 1.0;
    // Variables 0 and 1 nearly parallel: dpotrf takes the pivot 2e-12, the
    // guard (1e-10 of H_11) does not.
    nearly_parallel[1] = nearly_parallel[n] = 1.0 - 1e-12;
    struct Row {
        const char* name;
        std::vector<double> H;
        int free_count;
        bool members_first;
        int most_members;
    };
    const Row rows[] = {
        {"too small", kelpie_test::random_spd(n, 10, rng), kelpie::kSmallestBlockBuild - 1, false, n},
        {"members already", kelpie_test::random_spd(n, 10, rng), n, true, n},
        {"rank n/2", kelpie_test::random_gram(n / 2, n, rng, &A), n, false, n / 2},
        {"indefinite", kelpie_test::random_symmetric(n, rng), n, false, n - 1},
        {"pivot under the guard", nearly_parallel, n, false, n - 1},
    };
    for (const Row& row : rows) {
        FactorFixture fx(n, row.H);
        std::vector<int> free(n, 0);
        for (int i = 0; i < row.free_count; ++i) free[i] = 1;
        if (row.members_first) {
            std::vector<int> some(n, 0);
            for (int i = 0; i < n; i += 2) some[i] = 1;
            fx.set_free(some);
        }
        std::vector<int> before(n);
        for (int i = 0; i < n; ++i) before[i] = fx.member(i);
        std::copy(free.begin(), free.end(), fx.ws.iterate.is_free.get());
        kelpie::FactorChanges changes{-1, -1, -1};
        EXPECT_FALSE(kelpie::build_factor_from_scratch(fx.p, fx.ws, &changes)) << row.name;
        for (int i = 0; i < n; ++i) ASSERT_EQ(fx.member(i), before[i]) << row.name << " variable " << i;
        // What the additions make of it is a sound factor of fewer members.
        const kelpie::FactorChanges after = kelpie::update_or_build_free_factor(fx.p, fx.ws);
        int members = 0;
        for (int i = 0; i < n; ++i) {
            EXPECT_LE(fx.member(i), free[i]) << row.name;
            members += fx.member(i);
        }
        EXPECT_LE(members, row.most_members) << row.name;
        if (row.most_members < n) {
            EXPECT_GT(after.kept_out, 0) << row.name;
        }
        EXPECT_LT(factor_error(fx), 1e-9) << row.name;
    }
}
