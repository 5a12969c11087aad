// The two passes over L that the addition of a variable and the Newton solve
// make, for one right-hand side. Each goes eight columns at a time, so that
// every entry is read and written once per eight columns, and each entry
// takes its subtractions in ascending column order: the bits of the plain
// one-column-at-a-time loops (which the tests keep as the reference).
#ifndef KELPIE_TRIANGULAR_KERNELS_H
#define KELPIE_TRIANGULAR_KERNELS_H

#include <cstddef>

#include "unroll.h"

namespace kelpie {

// Forward substitution with the unit lower factor of the members
// list[0..count), for one right-hand side whose entry at position j is
// entry(j) (a reference): entry j loses L(list[j], list[s]) * entry(s) for
// each s < j in ascending order. The Newton solve keeps its entries by
// variable number and the addition of a variable by position, hence the
// accessor.
template <typename Entry>
void substitute_forward(const double* L, int n, const int* list, int count, Entry entry) {
    constexpr int C = 8;
    int s = 0;
    for (; s + C <= count; s += C) {
        // The small triangle among the eight columns' own rows first.
        const double* c[C];
        double d[C];
        KELPIE_UNROLL
        for (int t = 0; t < C; ++t) {
            c[t] = L + static_cast<std::size_t>(list[s + t]) * n;
            const int k = list[s + t];
            double value = entry(s + t);
            KELPIE_UNROLL
            for (int u = 0; u < t; ++u) value = value - c[u][k] * d[u];
            entry(s + t) = value;
            d[t] = value;
        }
        for (int j = s + C; j < count; ++j) {
            const int k = list[j];
            double value = entry(j);
            KELPIE_UNROLL
            for (int t = 0; t < C; ++t) value = value - c[t][k] * d[t];
            entry(j) = value;
        }
    }
    for (; s < count; ++s) {
        const double* col = L + static_cast<std::size_t>(list[s]) * n;
        const double d_s = entry(s);
        for (int j = s + 1; j < count; ++j) entry(j) = entry(j) - col[list[j]] * d_s;
    }
}

// z[rows[r]] loses L(rows[r], cols[s]) * w[s] for s = 0, 1, ..., count_cols - 1
// in turn, for every r: z(rows) = z(rows) - L(rows, cols) w, with z by
// variable number and w by position.
inline void subtract_columns(const double* L, int n, const int* cols, int count_cols, const double* w,
                             const int* rows, int count_rows, double* z) {
    constexpr int C = 8;
    int s = 0;
    for (; s + C <= count_cols; s += C) {
        const double* c[C];
        double d[C];  // held in registers: z is not known not to alias w
        KELPIE_UNROLL
        for (int t = 0; t < C; ++t) {
            c[t] = L + static_cast<std::size_t>(cols[s + t]) * n;
            d[t] = w[s + t];
        }
        for (int r = 0; r < count_rows; ++r) {
            const int a = rows[r];
            double value = z[a];
            KELPIE_UNROLL
            for (int t = 0; t < C; ++t) value = value - c[t][a] * d[t];
            z[a] = value;
        }
    }
    for (; s < count_cols; ++s) {
        const double* col = L + static_cast<std::size_t>(cols[s]) * n;
        const double w_s = w[s];
        for (int r = 0; r < count_rows; ++r) z[rows[r]] = z[rows[r]] - col[rows[r]] * w_s;
    }
}

}  // namespace kelpie

#endif
