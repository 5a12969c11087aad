// Blocked triangular solves with the free-set factor.
#include "block_solve.h"

#include <cstddef>

#include "lanes.h"
#include "unroll.h"

namespace kelpie {

// One pass over the columns of L, six at a time: the six sides' entries of
// those columns stay in registers while each later row takes its six
// subtractions in one visit, so every row of W is read and written once per
// six columns.
KELPIE_WITH_AVX2_CLONE void substitute_block_columns(const double* L, int n, const int* list, int count, int first,
                                                     int last, double* W) {
    constexpr int K = kAppendBlock;
    constexpr int C = 6;
    int s = first;
    for (; s + C <= last; s += C) {
        const double* c[C];
        for (int t = 0; t < C; ++t) c[t] = L + static_cast<std::size_t>(list[s + t]) * n;
        // The six columns' own rows first: each takes the columns before it.
        double* head = W + static_cast<std::size_t>(s) * K;
        Lanes w[C];
        KELPIE_UNROLL
        for (int t = 0; t < C; ++t) {
            Lanes x = load_lanes(head + t * K);
            KELPIE_UNROLL
            for (int u = 0; u < t; ++u) x = minus_scaled(x, c[u][list[s + t]], w[u]);
            w[t] = x;
            store_lanes(head + t * K, x);
        }
        for (int r = s + C; r < count; ++r) {
            const int b = list[r];
            double* wr = W + static_cast<std::size_t>(r) * K;
            Lanes x = load_lanes(wr);
            KELPIE_UNROLL
            for (int t = 0; t < C; ++t) x = minus_scaled(x, c[t][b], w[t]);
            store_lanes(wr, x);
        }
    }
    for (; s < last; ++s) {
        const double* col = L + static_cast<std::size_t>(list[s]) * n;
        const Lanes w0 = load_lanes(W + static_cast<std::size_t>(s) * K);
        for (int r = s + 1; r < count; ++r) {
            double* wr = W + static_cast<std::size_t>(r) * K;
            store_lanes(wr, minus_scaled(load_lanes(wr), col[list[r]], w0));
        }
    }
}

void gather_sides(const Problem& p, const int* variables, int count, const int* list, int m, bool negate, double* W) {
    constexpr int K = kAppendBlock;
    for (int r = 0; r < m; ++r) {
        for (int t = 0; t < K; ++t) {
            double h = 0.0;
            if (t < count) h = negate ? -column(p, variables[t])[list[r]] : column(p, variables[t])[list[r]];
            W[static_cast<std::size_t>(r) * K + t] = h;
        }
    }
}

void substitute_block(const double* L, int n, const int* list, int count, double* W) {
    substitute_block_columns(L, n, list, count, 0, count, W);
}

KELPIE_WITH_AVX2_CLONE void solve_block(const double* L, const double* D, int n, const int* list, int count,
                                        double* W, double* reduced) {
    constexpr int K = kAppendBlock;
    substitute_block(L, n, list, count, W);
    Lanes pivot = load_lanes(reduced);
    for (int r = 0; r < count; ++r) {
        double* wr = W + static_cast<std::size_t>(r) * K;
        const Lanes forward = load_lanes(wr);
        const Lanes scaled = divided(forward, D[list[r]]);
        pivot = minus_product(pivot, forward, scaled);
        store_lanes(wr, scaled);
    }
    store_lanes(reduced, pivot);
    // Each entry's running value stays in registers; its chain of
    // subtractions is sequential, but the eight sides share it.
    for (int j = count - 2; j >= 0; --j) {
        const double* col = L + static_cast<std::size_t>(list[j]) * n;
        double* wj = W + static_cast<std::size_t>(j) * K;
        Lanes value = load_lanes(wj);
        for (int l = j + 1; l < count; ++l) {
            value = minus_scaled(value, col[list[l]], load_lanes(W + static_cast<std::size_t>(l) * K));
        }
        store_lanes(wj, value);
    }
}

}  // namespace kelpie
