#include "stop_rules.h"

#include <cmath>

namespace kelpie {

void start_pass(StopRules& rules, double pass_value) {
    if (rules.stall_count == 0) {
        if (pass_value < rules.best_value) rules.best_value = pass_value;
    } else {
        rules.best_value = pass_value;
    }
}

void record_sweep(StopRules& rules, const SweepResult& sweep) {
    const double decrease = rules.best_value - sweep.value_after;
    if (sweep.full && sweep.free_count == rules.previous_free_count) {
        ++rules.stall_count;
        if (rules.stall_count >= kStallSweeps) {
            rules.still_falling = decrease > kSignificantDecrease * sweep.term_size;
        }
    } else {
        rules.stall_count = 0;
    }
    rules.previous_free_count = sweep.free_count;
    // An objective of 1e300 or more in size (or NaN) cannot measure a
    // decrease: from a start far out, stopping there would report
    // convergence where the sweep has barely begun.
    const bool measurable = std::fabs(sweep.value_after) < kInitialBestValue;
    rules.keep_going = decrease > 0 || !sweep.full || !measurable;
}

bool resume_after_failed_stop(StopRules& rules) {
    if (rules.resumes == kMaxResumes) return false;
    ++rules.resumes;
    rules.keep_going = true;
    rules.stall_count = 0;
    rules.still_falling = false;
    rules.best_value = kInitialBestValue;
    return true;
}

}  // namespace kelpie
