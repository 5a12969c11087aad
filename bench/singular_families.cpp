// Singular and nearly singular families, timed with kelpie and written to
// files that bench/ip_reference.py solves with an interior-point method in
// the same run (bench/singular.sh runs both and prints the ratios).
//
//   singular_families OUT_DIR N [N ...]
//
// Prints one line per problem: family, n, then for the described and the
// accelerated method each: result, first-order residual (the test behind
// result 0), objective, seconds (median of 3, or one solve when it takes
// over 0.5 s), passes and proximal steps. Two definite families stand beside
// the singular ones for reference.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "box_qp.h"
#include "box_qp_internal.h"
#include "optimality.h"
#include "singular_problems.h"
#include "workspace.h"

namespace {

using kelpie_bench::NamedProblem;

struct Run {
    int result = 0;
    double seconds = 0.0;
    double residual = 0.0;
    double objective = 0.0;
    kelpie::SolveStats stats;
};

Run solve(const NamedProblem& q, bool accelerated) {
    const int n = q.n;
    std::vector<double> times;
    Run run;
    for (int k = 0; k < 3; ++k) {
        std::vector<double> x(n, 0.0), lambda_lower(n, 0.0), lambda_upper(n, 0.0);
        const auto start = std::chrono::steady_clock::now();
        kelpie::SolveSettings settings;
        settings.projected_search = accelerated;
        run.result = kelpie::solve_box_qp_counted(n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data(), x.data(),
                                                  lambda_lower.data(), lambda_upper.data(), &run.stats, &settings);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::vector<double> g(q.f), sizes(n);
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) g[i] += q.H[i + static_cast<size_t>(j) * n] * x[j];
        }
        const kelpie::Problem p{n, q.H.data(), q.f.data(), q.lower.data(), q.upper.data()};
        run.residual = kelpie::first_order_residual(p, x.data(), g.data(), sizes.data());
        run.objective = 0.0;
        for (int i = 0; i < n; ++i) run.objective += 0.5 * x[i] * (g[i] + q.f[i]);
        if (times.back() > 0.5) break;
    }
    std::sort(times.begin(), times.end());
    run.seconds = times[times.size() / 2];
    return run;
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

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR N [N ...]\n", argv[0]);
        return 2;
    }
    int index = 0;
    for (int a = 2; a < argc; ++a) {
        const int n = std::atoi(argv[a]);
        for (const NamedProblem& q : kelpie_bench::singular_families(n)) {
            write(q, std::string(argv[1]) + "/problem" + std::to_string(index++) + ".bin");
            std::printf("%-18s %5d", q.name.c_str(), n);
            for (bool accelerated : {false, true}) {
                const Run r = solve(q, accelerated);
                std::printf("  result %3d residual %.1e objective %.12g %.6f s passes %lld proximal %lld", r.result,
                            r.residual, r.objective, r.seconds, r.stats.passes, r.stats.proximal_steps);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
