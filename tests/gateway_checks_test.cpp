// The gateway's check logic and symmetrisation, outside a MEX host.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "gateway_checks.h"

namespace {

using kelpie::CheckResult;
using kelpie::InputView;

InputView dense(size_t rows, size_t cols, const double* data) { return {true, false, false, rows, cols, data}; }

TEST(GatewayChecks, SymmetriseAveragesOnlyUnequalPairsWithoutOverflow) {
    const double big = 1.5e308;
    const std::vector<double> H = {1, big, 3, big, 5, -big, 7, big, 9};  // column-major 3 x 3
    std::vector<double> S(9);
    kelpie::symmetrise(3, H.data(), S.data());
    EXPECT_EQ(S[1], big);  // an equal pair stays exactly
    EXPECT_EQ(S[3], big);
    EXPECT_EQ(S[2], 0.5 * 3 + 0.5 * 7);
    EXPECT_EQ(S[6], S[2]);
    EXPECT_EQ(S[5], 0.0);  // -big and big average to 0, not to NaN or Inf
    EXPECT_EQ(S[7], 0.0);
    EXPECT_EQ(S[0], 1);
    EXPECT_EQ(S[8], 9);
}

TEST(GatewayChecks, DecisionsAndFlags) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> H = {2, 1, 0, 2}, v = {1, 1}, lo = {-1, -inf}, hi = {1, inf}, x0 = {0, 0, 0};
    struct Case {
        const char* name;
        int nrhs;
        std::vector<InputView> in;
        CheckResult::Kind kind;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"three inputs", 3, {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(2, 1, lo.data())},
         CheckResult::kRefuse, "\nERROR: There must be at least four inputs.\n\n"},
        {"empty H is silent", 4, {dense(0, 3, nullptr), dense(2, 1, v.data()), dense(0, 0, nullptr), dense(0, 0, nullptr)},
         CheckResult::kRefuseSilently, ""},
        {"asymmetric H is accepted", 4,
         {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(2, 1, lo.data()), dense(2, 1, hi.data())},
         CheckResult::kAccept, ""},
        {"x0 longer than n is accepted", 6,
         {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(0, 0, nullptr), dense(0, 0, nullptr), {},
          dense(1, 3, x0.data())},
         CheckResult::kAccept, ""},
        {"sparse x0", 6,
         {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(0, 0, nullptr), dense(0, 0, nullptr), {},
          {true, false, true, 2, 1, nullptr}},
         CheckResult::kRefuse, "\nERROR: The x0 vector must be a dense real double vector.\n\n"},
        // Inputs that hold no values, whatever their row count: a bound means no
        // bound on that side, an f is refused; nothing is read through their data.
        {"n-by-0 bounds mean no bounds", 4,
         {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(2, 0, nullptr), dense(2, 0, nullptr)},
         CheckResult::kAccept, ""},
        {"n-by-0 f", 4, {dense(2, 2, H.data()), dense(2, 0, nullptr), dense(0, 0, nullptr), dense(0, 0, nullptr)},
         CheckResult::kRefuse, "\nERROR: The f column vector must have 2 entries.\n\n"},
        {"0-by-n f", 4, {dense(2, 2, H.data()), dense(0, 2, nullptr), dense(0, 0, nullptr), dense(0, 0, nullptr)},
         CheckResult::kRefuse, "\nERROR: The f column vector must have 2 entries.\n\n"},
        {"n-by-0 H is silent", 4, {dense(2, 0, nullptr), dense(2, 1, v.data()), dense(0, 0, nullptr), dense(0, 0, nullptr)},
         CheckResult::kRefuseSilently, ""},
        {"n-by-0 x0", 6,
         {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(0, 0, nullptr), dense(0, 0, nullptr), {},
          dense(2, 0, nullptr)},
         CheckResult::kRefuse, "\nERROR: The x0 vector must have at least 2 entries.\n\n"},
    };
    for (const Case& c : cases) {
        std::vector<InputView> in = c.in;
        in.resize(6);
        CheckResult r;
        kelpie::check_inputs(c.nrhs, in.data(), &r);
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_STREQ(r.message, c.message) << c.name;
    }
    std::vector<InputView> in = {dense(2, 2, H.data()), dense(2, 1, v.data()), dense(0, 0, nullptr),
                                 dense(2, 1, hi.data()), {}, {}};
    CheckResult r;
    kelpie::check_inputs(4, in.data(), &r);
    EXPECT_EQ(r.n, 2);
    EXPECT_FALSE(r.symmetric);
    EXPECT_FALSE(r.has_lower);
    EXPECT_TRUE(r.has_upper);
    EXPECT_FALSE(r.has_start);

    // A bound with n rows and no columns is no bound, like an empty one.
    in[2] = dense(2, 0, nullptr);
    in[3] = dense(2, 0, nullptr);
    kelpie::check_inputs(4, in.data(), &r);
    EXPECT_EQ(r.kind, CheckResult::kAccept);
    EXPECT_FALSE(r.has_lower);
    EXPECT_FALSE(r.has_upper);
}

}  // namespace
