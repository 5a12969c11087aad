// When a run of the main loop ends, kept apart from the loop so that each
// rule can be checked on its own.
#ifndef KELPIE_STOP_RULES_H
#define KELPIE_STOP_RULES_H

#include "tolerances.h"

namespace kelpie {

struct StopRules {
    double best_value = kInitialBestValue;  // the doubled objective to beat (see start_pass)
    int previous_free_count = -1;           // after the last sweep
    int stall_count = 0;        // full sweeps in a row that left the free count as it was
    bool keep_going = true;      // the last sweep still lowered the objective (or could not tell)
    bool still_falling = false;  // ... by a stall, with the objective still falling significantly
    int resumes = 0;             // runs resumed after a stop at a point that failed the test
};

// Whether a rule ended the run at the last sweep.
inline bool stop_rule_fired(const StopRules& rules) { return !rules.keep_going || rules.stall_count >= kStallSweeps; }

struct SweepResult {
    bool full;           // the sweep visited every variable
    int free_count;      // variables strictly inside their bounds after it
    double value_after;  // the doubled objective after it
    double term_size;    // the size of that objective's terms (objective_term_size)
};

// At the start of a pass: outside a stall the value to beat is the lowest
// doubled objective seen at a pass start; within one, the last.
void start_pass(StopRules& rules, double pass_value);

// After a sweep. A rule fires when a full sweep did not lower the objective
// below the value to beat (and it is small enough to measure a decrease), or
// when kStallSweeps full sweeps in a row left the free count unchanged. Any
// other sweep resets the stall count.
void record_sweep(StopRules& rules, const SweepResult& sweep);

// After a fired rule ended at a point that fails the optimality test: clears
// the rules for another run from there and returns true, up to kMaxResumes
// times; then returns false.
bool resume_after_failed_stop(StopRules& rules);

}  // namespace kelpie

#endif
