// Blocked triangular solves with the free-set factor.
#include "block_solve.h"

#include <cstddef>

#include "lanes.h"

namespace kelpie {

// One pass over the columns of L, four at a time.
KELPIE_WITH_AVX2_CLONE void substitute_block_columns(const double* L, int n, const int* list, int count, int first,
                                                     int last, double* W) {
    constexpr int K = kAppendBlock;
    int s = first;
    for (; s + 4 <= last; s += 4) {
        const double* c0 = L + static_cast<std::size_t>(list[s]) * n;
        const double* c1 = L + static_cast<std::size_t>(list[s + 1]) * n;
        const double* c2 = L + static_cast<std::size_t>(list[s + 2]) * n;
        const double* c3 = L + static_cast<std::size_t>(list[s + 3]) * n;
        const int b1 = list[s + 1], b2 = list[s + 2], b3 = list[s + 3];
        double* row = W + static_cast<std::size_t>(s) * K;
        const Lanes w0 = load_lanes(row);
        const Lanes w1 = minus_scaled(load_lanes(row + K), c0[b1], w0);
        const Lanes w2 = minus_scaled(minus_scaled(load_lanes(row + 2 * K), c0[b2], w0), c1[b2], w1);
        const Lanes w3 =
            minus_scaled(minus_scaled(minus_scaled(load_lanes(row + 3 * K), c0[b3], w0), c1[b3], w1), c2[b3], w2);
        store_lanes(row + K, w1);
        store_lanes(row + 2 * K, w2);
        store_lanes(row + 3 * K, w3);
        // Two rows per step, interleaved, so that their chains of
        // subtractions overlap.
        int r = s + 4;
        for (; r + 2 <= count; r += 2) {
            const int b = list[r];
            const int b_next = list[r + 1];
            double* wr = W + static_cast<std::size_t>(r) * K;
            Lanes x = load_lanes(wr);
            Lanes y = load_lanes(wr + K);
            x = minus_scaled(x, c0[b], w0);
            y = minus_scaled(y, c0[b_next], w0);
            x = minus_scaled(x, c1[b], w1);
            y = minus_scaled(y, c1[b_next], w1);
            x = minus_scaled(x, c2[b], w2);
            y = minus_scaled(y, c2[b_next], w2);
            x = minus_scaled(x, c3[b], w3);
            y = minus_scaled(y, c3[b_next], w3);
            store_lanes(wr, x);
            store_lanes(wr + K, y);
        }
        for (; r < count; ++r) {
            const int b = list[r];
            double* wr = W + static_cast<std::size_t>(r) * K;
            const Lanes x = minus_scaled(minus_scaled(minus_scaled(minus_scaled(load_lanes(wr), c0[b], w0), c1[b], w1),
                                                      c2[b], w2),
                                         c3[b], w3);
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
                                        double* W) {
    constexpr int K = kAppendBlock;
    substitute_block(L, n, list, count, W);
    for (int r = 0; r < count; ++r) {
        double* wr = W + static_cast<std::size_t>(r) * K;
        store_lanes(wr, divided(load_lanes(wr), D[list[r]]));
    }
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
