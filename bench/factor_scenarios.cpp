// Times the free-set factor on two scenarios, with the additions batched (as
// shipped) or one variable at a time.
#include <algorithm>
#include <chrono>
#include <vector>

#include "factor_scenarios.h"
#include "ldl_factor.h"
#include "workspace.h"

namespace {

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// Scenario 0: all n variables enter an empty factor. Scenario 1: the factor
// holds all n; `moving` variables spread over the range leave, then enter
// again. Returns the fastest of `repeats` runs, in seconds, and the value of
// D at the last variable (to compare the two ways bit for bit).
FactorTiming factor_scenario(const std::vector<double>& H, int n, int scenario, int moving, int repeats,
                             kelpie::Additions additions) {
    FactorTiming best{1e300, 0.0};
    std::vector<double> zeros(n, 0.0);
    const kelpie::Problem p{n, H.data(), zeros.data(), zeros.data(), zeros.data()};
    for (int r = 0; r < repeats; ++r) {
        kelpie::Workspace ws;
        if (!kelpie::allocate_workspace(n, &ws)) return best;
        std::fill(ws.iterate.is_free.get(), ws.iterate.is_free.get() + n, 1);
        if (scenario == 1) kelpie::update_free_factor(p, ws, additions);
        const double start = seconds_now();
        if (scenario == 0) {
            kelpie::update_free_factor(p, ws, additions);
        } else {
            for (int k = 0; k < moving; ++k) ws.iterate.is_free[(k * 7919) % n] = 0;
            kelpie::update_free_factor(p, ws, additions);
            std::fill(ws.iterate.is_free.get(), ws.iterate.is_free.get() + n, 1);
            kelpie::update_free_factor(p, ws, additions);
        }
        best.seconds = std::min(best.seconds, seconds_now() - start);
        best.last_pivot = kelpie::factor_pivot(ws.factor, n - 1);
    }
    return best;
}
