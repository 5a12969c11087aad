#ifndef KELPIE_BENCH_FACTOR_SCENARIOS_H
#define KELPIE_BENCH_FACTOR_SCENARIOS_H

#include <vector>

struct FactorTiming {
    double seconds;
    double last_pivot;
};

FactorTiming factor_scenario_columns(const std::vector<double>& H, int n, int scenario, int moving, int repeats);
FactorTiming factor_scenario_rows(const std::vector<double>& H, int n, int scenario, int moving, int repeats);

#endif
