#ifndef KELPIE_BENCH_FACTOR_SCENARIOS_H
#define KELPIE_BENCH_FACTOR_SCENARIOS_H

#include <vector>

#include "ldl_factor.h"

struct FactorTiming {
    double seconds;
    double last_pivot;
};

FactorTiming factor_scenario(const std::vector<double>& H, int n, int scenario, int moving, int repeats,
                             kelpie::Additions additions);

#endif
