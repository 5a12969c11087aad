// Singular and nearly singular families, timed with kelpie and written to
// files that bench/ip_reference.py solves with an interior-point method in
// the same run (bench/singular.sh runs both and prints the ratios).
//
//   singular_families OUT_DIR [--only=NAME,NAME...] N [N ...]
//   singular_families --check-grids
//
// Prints one line per problem: family, n, then for the described and the
// accelerated method each: result, first-order residual (the test behind
// result 0), objective, seconds, passes and proximal steps. The two methods
// are solved in turn; the seconds are the median of 3 solves each, of one
// when a solve takes over 0.5 s, and of more (up to 1001) while they add up to
// under 0.4 s: solves of a millisecond or less vary from run to run by more
// than the difference between the methods. Beside the singular families: two
// definite ones, the grid problems of grid_problems.h and the five families
// of solver_bench (problems.h, seed 1), named "bench ...".
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "grid_problems.h"
#include "problems.h"
#include "optimality.h"
#include "singular_problems.h"
#include "workspace.h"

namespace {

using kelpie_bench::NamedProblem;

constexpr int kMostSolves = 1001; // odd, as every count the loop stops at

struct Run {
    int result = 0;
    double seconds = 0.0;
    double residual = 0.0;
    double objective = 0.0;
    kelpie::SolveStats stats;
};

// One solve from x = 0; its time is added to `times`.
Run solve_once(const NamedProblem& q, bool accelerated, std::vector<double>* times) {
    const int n = q.n;
    Run run;
    std::vector<double> x(n, 0.0), lambda_lower(n, 0.0), lambda_upper(n, 0.0);
    const auto start = std::chrono::steady_clock::now();
    kelpie::SolveSettings settings;
    settings.projected_search = accelerated;
    run.result = kelpie::solve_box_qp_counted(n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), x.data(),
                                              lambda_lower.data(), lambda_upper.data(), &run.stats, &settings);
    times->push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::vector<double> g(q.f), sizes(n);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) g[i] += q.H[i + static_cast<size_t>(j) * n] * x[j];
    }
    const kelpie::Problem p{n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data()};
    run.residual = kelpie::first_order_residual(p, x.data(), g.data(), sizes.data());
    run.objective = 0.0;
    for (int i = 0; i < n; ++i) run.objective += 0.5 * x[i] * (g[i] + q.f[i]);
    return run;
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The described method (runs[0]) and the accelerated one (runs[1]), solved
// in turn so that both see the same state of the machine.
void solve_both(const NamedProblem& q, Run runs[2]) {
    std::vector<double> times[2];
    double total = 0.0;
    for (int k = 0; k < kMostSolves; ++k) {
        for (int method = 0; method < 2; ++method) {
            runs[method] = solve_once(q, method == 1, &times[method]);
            total += times[method].back();
        }
        const bool long_solves = times[0].back() > 0.5 || times[1].back() > 0.5;
        if (long_solves || (k >= 2 && k % 2 == 0 && total >= 0.4)) break;
    }
    for (int method = 0; method < 2; ++method) runs[method].seconds = median(times[method]);
}

void write(const NamedProblem& q, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const int n = q.n;
    std::fwrite(&n, sizeof n, 1, file);
    std::fwrite(q.H.data(), sizeof(double), q.H.size(), file);
    std::fwrite(q.f.data(), sizeof(double), n, file);
    std::fwrite(q.lower.data(), sizeof(double), n, file);
    std::fwrite(q.upper.data(), sizeof(double), n, file);
    std::fclose(file);
}

}  // namespace

// The torsion problem with c = 1, where no bound holds, on grids of 10^2 to
// 80^2 points against the value of the continuous problem (Saint-Venant's
// torsion constant of the square): the discretization is second order, so
// the error falls fourfold per halving of h, and the Richardson estimate
// from the two finest grids meets the continuous value.
void check_grids() {
    std::vector<double> values;
    for (int side : {10, 20, 40, 80}) {
        const NamedProblem q = kelpie_bench::torsion(side, side, 1.0);
        std::vector<double> times;
        const Run r = solve_once(q, false, &times);
        values.push_back(r.objective);
        std::printf("torsion c=1 on %2d x %2d: result %d, minimum %.10f\n", side, side, r.result, r.objective);
    }
    // h = 1/(side + 1): the ratio of h^2 between the two finest grids.
    const double ratio = (41.0 * 41.0) / (81.0 * 81.0);
    const double richardson = (values[3] - ratio * values[2]) / (1.0 - ratio);
    std::printf("Richardson estimate %.10f, continuous problem %.10f\n\n", richardson,
                kelpie_bench::elastic_torsion_value(1.0));
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--check-grids") == 0) {
        check_grids();
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR [--only=NAME,NAME...] N [N ...]\n", argv[0]);
        return 2;
    }
    std::vector<std::string> only;  // parts of family names; empty: every family
    for (int a = 2; a < argc; ++a) {
        if (std::strncmp(argv[a], "--only=", 7) != 0) continue;
        std::string list = argv[a] + 7;
        for (std::size_t start = 0, comma; start <= list.size(); start = comma + 1) {
            comma = list.find(',', start);
            if (comma == std::string::npos) comma = list.size();
            only.push_back(list.substr(start, comma - start));
        }
    }
    int index = 0;
    for (int a = 2; a < argc; ++a) {
        if (std::strncmp(argv[a], "--only=", 7) == 0) continue;
        const int n = std::atoi(argv[a]);
        std::vector<NamedProblem> problems = kelpie_bench::singular_families(n);
        for (int family = 0; family <= static_cast<int>(kelpie_bench::Family::kNonconvex); ++family) {
            const auto f = static_cast<kelpie_bench::Family>(family);
            kelpie_bench::Problem p = kelpie_bench::make_problem(f, n, 1);
            problems.push_back({std::string("bench ") + kelpie_bench::family_name(f), p.n, std::move(p.H),
                                std::move(p.f), std::move(p.lower), std::move(p.upper)});
        }
        for (const NamedProblem& q : problems) {
            bool chosen = only.empty();
            for (const std::string& part : only) chosen = chosen || q.name.find(part) != std::string::npos;
            if (!chosen) continue;
            write(q, std::string(argv[1]) + "/problem" + std::to_string(index++) + ".bin");
            std::printf("%-18s %5d", q.name.c_str(), q.n);
            Run runs[2];
            solve_both(q, runs);
            for (const Run& r : runs) {
                std::printf("  result %3d residual %.1e objective %.12g %.6f s passes %lld proximal %lld", r.result,
                            r.residual, r.objective, r.seconds, r.stats.passes, r.stats.proximal_steps);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
