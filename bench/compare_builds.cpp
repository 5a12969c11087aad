// Two builds of the solver in one process: this tree's and a baseline's (the
// solver sources of another commit, compiled with their symbols renamed; see
// bench/compare.sh). Solves every problem with both, with the described and
// the accelerated method, and compares the result code, x and both
// multipliers bit for bit; on the benchmark families of n >= 500 it also times
// both, alternating, and prints the ratio of the medians.
//
//   compare_builds CORPUS_DIR [--no-timing] [--only=TEXT]
//
// Problems: the five benchmark families at n = 10 to 2000 (two seeds up to
// 1000), the eight singular families at n = 100, 500 and 1000, small random
// problems of the kinds the property tests draw (definite, ill-conditioned,
// low rank with two-sided boxes, A'A + eps I, wide least squares, nonconvex;
// cold and warm starts), and every stored fuzz input (--only=TEXT: those
// whose name holds TEXT). Exits 1 when any solve differs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "box_qp.h"
#include "fuzz_problem.h"
#include "problems.h"
#include "singular_problems.h"

extern "C" int baseline_solve_box_qp_with_options(int n, const double* H, const double* f, const double* lower,
                                                  const double* upper, double* x, double* lambda_lower,
                                                  double* lambda_upper, const kelpie_options* options,
                                                  kelpie_info* info);

namespace {

using Solver = int (*)(int, const double*, const double*, const double*, const double*, double*, double*, double*,
                       const kelpie_options*, kelpie_info*);

struct Case {
    std::string name;
    int n = 0;
    std::vector<double> H, f, lower, upper, x0;
    bool timed = false;
};

struct Outcome {
    int result = 0;
    std::vector<double> x, lambda_lower, lambda_upper;
};

Outcome run(Solver solver, const Case& c, int method) {
    Outcome o{0, c.x0, std::vector<double>(c.n, 0.0), std::vector<double>(c.n, 0.0)};
    kelpie_options options = KELPIE_OPTIONS_INIT;
    options.method = method;
    o.result = solver(c.n, c.H.data(), c.f.data(), c.lower.data(), c.upper.data(), o.x.data(), o.lambda_lower.data(),
                      o.lambda_upper.data(), &options, nullptr);
    return o;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Times of this tree's build over the baseline's, medians of alternating runs.
double time_ratio(const Case& c, int method) {
    std::vector<double> current, baseline;
    for (int k = 0; k < 5; ++k) {
        for (Solver s : {static_cast<Solver>(solve_box_qp_with_options), static_cast<Solver>(baseline_solve_box_qp_with_options)}) {
            const double start = seconds_now();
            run(s, c, method);
            (s == solve_box_qp_with_options ? current : baseline).push_back(seconds_now() - start);
        }
        if (current.back() > 1.0) break;
    }
    return median(current) / median(baseline);
}

Case from_bench(const kelpie_bench::Problem& p, const std::string& name, bool timed) {
    return {name, p.n, p.H, p.f, p.lower, p.upper, std::vector<double>(p.n, 0.0), timed};
}

void add_benchmark_families(std::vector<Case>* cases) {
    using kelpie_bench::Family;
    for (int family = 0; family <= static_cast<int>(Family::kNonconvex); ++family) {
        for (int n : {10, 50, 200, 500, 1000, 2000}) {
            for (int seed = 1; seed <= (n <= 1000 ? 2 : 1); ++seed) {
                const kelpie_bench::Problem p = kelpie_bench::make_problem(static_cast<Family>(family), n, seed);
                cases->push_back(from_bench(p,
                                            std::string(kelpie_bench::family_name(static_cast<Family>(family))) + " n=" +
                                                std::to_string(n) + " seed " + std::to_string(seed),
                                            n >= 500 && seed == 1));
            }
        }
    }
    for (int n : {100, 500, 1000}) {
        for (const kelpie_bench::NamedProblem& q : kelpie_bench::singular_families(n)) {
            cases->push_back({q.name + " n=" + std::to_string(n), n, q.H, q.f, q.lower, q.upper,
                              std::vector<double>(n, 0.0), n >= 500});
        }
    }
}

// Small problems of the property tests' kinds, from one seed.
void add_small_problems(std::vector<Case>* cases) {
    std::mt19937_64 rng(20261209);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const char* kinds[] = {"definite", "cond 1e10", "low rank", "A'A+1e-10 I", "wide lsq", "nonconvex"};
    for (int trial = 0; trial < 600; ++trial) {
        const int kind = trial % 6;
        const int n = 1 + static_cast<int>(rng() % 40);
        Case c;
        c.name = std::string("small ") + kinds[kind] + " #" + std::to_string(trial);
        c.n = n;
        c.H.assign(static_cast<std::size_t>(n) * n, 0.0);
        const int rank = kind == 2 ? 1 + static_cast<int>(rng() % std::max(1, n / 2)) : (kind == 4 ? std::max(1, n / 2) : n);
        std::vector<double> A(static_cast<std::size_t>(rank) * n);
        for (double& a : A) a = normal(rng);
        if (kind == 1) {  // columns scaled over ten decades
            for (int j = 0; j < n; ++j) {
                const double s = std::pow(10.0, 5.0 * unit(rng));
                for (int r = 0; r < rank; ++r) A[r + static_cast<std::size_t>(j) * rank] *= s;
            }
        }
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                double sum = 0.0;
                if (kind == 5) {
                    sum = i <= j ? A[i + static_cast<std::size_t>(j) * n] : A[j + static_cast<std::size_t>(i) * n];
                } else {
                    for (int r = 0; r < rank; ++r) sum += A[r + static_cast<std::size_t>(i) * rank] * A[r + static_cast<std::size_t>(j) * rank];
                }
                c.H[i + static_cast<std::size_t>(j) * n] = sum;
            }
            if (kind == 0) c.H[j + static_cast<std::size_t>(j) * n] += n;
            if (kind == 3) c.H[j + static_cast<std::size_t>(j) * n] += 1e-10;
        }
        c.f.resize(n);
        c.lower.resize(n);
        c.upper.resize(n);
        c.x0.resize(n);
        for (int i = 0; i < n; ++i) {
            c.f[i] = 3.0 * normal(rng);
            const int box = static_cast<int>(rng() % 4);
            c.lower[i] = box == 1 ? -HUGE_VAL : -unit(rng);
            c.upper[i] = box == 2 ? HUGE_VAL : unit(rng);
            if (box == 3) c.upper[i] = c.lower[i];
            c.x0[i] = trial % 3 == 0 ? 0.0 : 2.0 * normal(rng);
        }
        if (kind == 4) {  // x >= 0 only
            for (int i = 0; i < n; ++i) {
                c.lower[i] = 0.0;
                c.upper[i] = HUGE_VAL;
            }
        }
        cases->push_back(c);
    }
}

void add_fuzz_corpus(const std::string& folder, std::vector<Case>* cases) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        std::perror(folder.c_str());
        std::exit(2);
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const kelpie_fuzz::FuzzProblem q =
            kelpie_fuzz::decode_fuzz_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        cases->push_back({"fuzz " + name, q.n, q.H, q.f, q.lower, q.upper, q.x, false});
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [--no-timing] [--only=TEXT]\n", argv[0]);
        return 2;
    }
    bool timing = true;
    std::string only;
    for (int a = 2; a < argc; ++a) {
        if (std::strcmp(argv[a], "--no-timing") == 0) timing = false;
        if (std::strncmp(argv[a], "--only=", 7) == 0) only = argv[a] + 7;
    }
    std::vector<Case> all;
    add_benchmark_families(&all);
    add_small_problems(&all);
    add_fuzz_corpus(argv[1], &all);
    std::vector<Case> cases;
    for (Case& c : all) {
        if (c.name.find(only) != std::string::npos) cases.push_back(std::move(c));
    }

    int differing = 0;
    int solves = 0;
    std::printf("%-34s %-11s %8s\n", "problem", "method", "time now/baseline");
    for (const Case& c : cases) {
        for (int method : {KELPIE_METHOD_DESCRIBED, KELPIE_METHOD_ACCELERATED}) {
            const Outcome now = run(solve_box_qp_with_options, c, method);
            const Outcome before = run(baseline_solve_box_qp_with_options, c, method);
            ++solves;
            const char* method_name = method == KELPIE_METHOD_DESCRIBED ? "described" : "accelerated";
            if (now.result != before.result || !same_bits(now.x, before.x) ||
                !same_bits(now.lambda_lower, before.lambda_lower) || !same_bits(now.lambda_upper, before.lambda_upper)) {
                ++differing;
                std::printf("DIFFERS %s (%s): result %d, baseline %d\n", c.name.c_str(), method_name, now.result,
                            before.result);
            }
            if (timing && c.timed) std::printf("%-34s %-11s %8.3f\n", c.name.c_str(), method_name, time_ratio(c, method));
            std::fflush(stdout);
        }
    }
    std::printf("%d solves compared, %d differ\n", solves, differing);
    return differing == 0 ? 0 : 1;
}
