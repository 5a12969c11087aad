/* Times solve_box_qp alone, for the Python benchmark's per-call overhead:
 * the median over `rounds` of the time of `reps` solves from the same start,
 * in seconds per solve. Built with the solver's sources into a shared
 * library that bench/python_bench.py loads with ctypes. */
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "box_qp.h"

static double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

static int compare(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

extern "C" double time_solve_box_qp(int n, const double* H, const double* f, const double* lower, const double* upper,
                         int reps, int rounds) {
    double* work = static_cast<double*>(malloc(sizeof(double) * (size_t)(3 * n)));
    double* times = static_cast<double*>(malloc(sizeof(double) * (size_t)rounds));
    if (work == nullptr || times == nullptr) {
        free(work);
        free(times);
        return -1.0;
    }
    for (int r = 0; r < rounds; ++r) {
        const double start = now();
        for (int k = 0; k < reps; ++k) {
            memset(work, 0, sizeof(double) * (size_t)(3 * n));
            solve_box_qp(n, H, f, lower, upper, work, work + n, work + 2 * n);
        }
        times[r] = (now() - start) / reps;
    }
    qsort(times, (size_t)rounds, sizeof(double), compare);
    const double median = times[rounds / 2];
    free(work);
    free(times);
    return median;
}
