// The stop rules on their own: sequences of sweeps and what each one decides.
#include <gtest/gtest.h>

#include <vector>

#include "stop_rules.h"
#include "tolerances.h"

namespace {

struct Sweep {
    double pass_value;  // the doubled objective at the start of the pass
    bool full;
    int free_count;
    double value_after;
};

struct Case {
    const char* name;
    std::vector<Sweep> sweeps;
    bool fired;          // after the last sweep
    int stall_count;    // after the last sweep
    bool still_falling;  // after the last sweep
};

TEST(StopRules, EveryRule) {
    const double big = 2e300;  // beyond the size an objective can measure a decrease at
    const std::vector<Case> cases = {
        {"a full sweep that lowers the objective goes on", {{0, true, 3, -1}}, false, 0, false},
        {"a full sweep that does not lower it stops", {{-1, true, 3, -1}}, true, 0, false},
        {"... nor when it rises", {{-1, true, 3, 0}}, true, 0, false},
        {"a sweep of the free variables only never stops by value", {{-1, false, 3, -1}}, false, 0, false},
        {"an objective too large to measure never stops by value", {{-big, true, 3, -big}}, false, 0, false},
        {"the value to beat is the lowest pass start outside a stall",
         {{-5, true, 3, -6}, {-2, true, 4, -4.5}}, true, 0, false},
        {"three full sweeps with an unchanged free count do not stop",
         {{0, true, 3, -1}, {-1, true, 3, -2}, {-2, true, 3, -3}, {-3, true, 3, -4}}, false, 3, false},
        {"the fourth does, the objective still falling significantly",
         {{0, true, 3, -1}, {-1, true, 3, -2}, {-2, true, 3, -3}, {-3, true, 3, -4}, {-4, true, 3, -5}}, true, 4,
         true},
        {"... or only by rounding",
         {{0, true, 3, -1}, {-1, true, 3, -2}, {-2, true, 3, -3}, {-3, true, 3, -4}, {-4, true, 3, -4 - 1e-14}},
         true, 4, false},
        {"a change of the free count resets the stall",
         {{0, true, 3, -1}, {-1, true, 3, -2}, {-2, true, 3, -3}, {-3, true, 2, -4}}, false, 0, false},
        {"a sweep of the free variables only resets it",
         {{0, true, 3, -1}, {-1, true, 3, -2}, {-2, false, 3, -3}, {-3, true, 3, -4}}, false, 1, false},
        {"within a stall the value to beat is the last pass start",
         {{0, true, 3, -10}, {-10, true, 3, -11}, {-2, true, 3, -3}}, false, 2, false},
    };
    for (const Case& c : cases) {
        kelpie::StopRules rules;
        for (const Sweep& s : c.sweeps) {
            kelpie::start_pass(rules, s.pass_value);
            kelpie::record_sweep(rules, {s.full, s.free_count, s.value_after, 10.0});
        }
        EXPECT_EQ(kelpie::stop_rule_fired(rules), c.fired) << c.name;
        EXPECT_EQ(rules.stall_count, c.stall_count) << c.name;
        EXPECT_EQ(rules.still_falling, c.still_falling) << c.name;
    }
}

// After a stop at a point that fails the test the rules start afresh, up to
// kMaxResumes times; the value to beat is forgotten, so the next full sweep
// that lowers the objective at all goes on.
TEST(StopRules, ResumesAfterAFailedStopAFewTimes) {
    kelpie::StopRules rules;
    for (int k = 0; k < kelpie::kMaxResumes; ++k) {
        kelpie::start_pass(rules, -1);
        kelpie::record_sweep(rules, {true, 3, -1, 10.0});
        ASSERT_TRUE(kelpie::stop_rule_fired(rules));
        ASSERT_TRUE(kelpie::resume_after_failed_stop(rules)) << k;
        EXPECT_FALSE(kelpie::stop_rule_fired(rules));
        EXPECT_EQ(rules.stall_count, 0);
        EXPECT_EQ(rules.best_value, kelpie::kInitialBestValue);
    }
    kelpie::start_pass(rules, -1);
    kelpie::record_sweep(rules, {true, 3, -1, 10.0});
    EXPECT_TRUE(kelpie::stop_rule_fired(rules));
    EXPECT_FALSE(kelpie::resume_after_failed_stop(rules));
}

}  // namespace
