// Forward substitution with the unit lower factor of the members
// list[0..count), for one right-hand side whose entry at position j is
// entry(j) (a reference): every entry takes the subtraction of each earlier
// position's column in ascending order, L(list[j], list[s]) * entry(s). The
// Newton solve keeps its entries by variable number and the addition of a
// variable by position, hence the accessor.
#ifndef KELPIE_FORWARD_SUBSTITUTION_H
#define KELPIE_FORWARD_SUBSTITUTION_H

#include <cstddef>

#include "unroll.h"

namespace kelpie {

template <typename Entry>
void substitute_forward(const double* L, int n, const int* list, int count, Entry entry) {
#ifdef KELPIE_ROW_ORDER
    for (int j = 0; j < count; ++j) {
        const int k = list[j];
        for (int s = 0; s < j; ++s) entry(j) = entry(j) - L[k + static_cast<std::size_t>(list[s]) * n] * entry(s);
    }
#else
    // Down the columns, eight at a time: the small triangle among their own
    // rows first, then every later entry takes the eight subtractions in one
    // visit, so that it is read and written once per eight columns.
    constexpr int C = 8;
    int s = 0;
    for (; s + C <= count; s += C) {
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
#endif
}

}  // namespace kelpie

#endif
