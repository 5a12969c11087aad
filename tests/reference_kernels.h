// The solver's kernels written the plain way, one column, one position or
// one row at a time, in the order of the method's formulas. The shipped
// kernels walk the data in blocks; they must give these bits exactly.
#ifndef KELPIE_TEST_REFERENCE_KERNELS_H
#define KELPIE_TEST_REFERENCE_KERNELS_H

#include <cstddef>

namespace kelpie_reference {

inline double at(const double* M, int n, int r, int c) { return M[r + static_cast<std::size_t>(c) * n]; }

// The rank-one modification, one position at a time.
inline void rank_one_update(int m, double* L, int n, double* D, const int* idx, double* y, double alpha) {
    for (int k = 0; k < m; ++k) {
        const int p = idx[k];
        const double y_p = y[p];
        const double d_new = D[p] + (alpha * y_p) * y_p;
        const double rho = D[p] / d_new;
        D[p] = d_new;
        const double gain = (alpha * y_p) / d_new;
        double* col = L + static_cast<std::size_t>(p) * n;
        for (int k2 = k + 1; k2 < m; ++k2) {
            const int q = idx[k2];
            const double ell = col[q];
            col[q] = ell * rho + gain * y[q];
            y[q] = y[q] - ell * y_p;
        }
        alpha = alpha * rho;
        if (alpha == 0) return;
    }
}

// Forward substitution along rows: entry j takes its subtractions in
// ascending column order. b by position.
inline void substitute_forward(const double* L, int n, const int* list, int count, double* b) {
    for (int j = 0; j < count; ++j) {
        for (int s = 0; s < j; ++s) b[j] = b[j] - at(L, n, list[j], list[s]) * b[s];
    }
}

// z(rows) -= L(rows, cols) w, row by row.
inline void subtract_columns(const double* L, int n, const int* cols, int count_cols, const double* w,
                             const int* rows, int count_rows, double* z) {
    for (int r = 0; r < count_rows; ++r) {
        const int a = rows[r];
        for (int s = 0; s < count_cols; ++s) z[a] = z[a] - at(L, n, a, cols[s]) * w[s];
    }
}

// w(support) = H(support, support) dir(support), row by row.
inline void multiply_on_support(const double* H, int n, const int* support, int count, const double* dir, double* w) {
    for (int q = 0; q < count; ++q) w[support[q]] = 0.0;
    for (int q = 0; q < count; ++q) {
        const int k = support[q];
        for (int r = 0; r < count; ++r) w[k] = w[k] + at(H, n, k, support[r]) * dir[support[r]];
    }
}

// L diag(D) L' d = r on the members, d by position overwriting r; *reduced
// loses f_j (f_j / D_j) for the forward result f, in ascending order.
inline void solve_with_factor(const double* L, const double* D, int n, const int* list, int count, double* d,
                              double* reduced) {
    substitute_forward(L, n, list, count, d);
    for (int j = 0; j < count; ++j) {
        const double forward = d[j];
        d[j] = forward / D[list[j]];
        *reduced = *reduced - forward * d[j];
    }
    for (int j = count - 2; j >= 0; --j) {
        for (int l = j + 1; l < count; ++l) d[j] = d[j] - at(L, n, list[l], list[j]) * d[l];
    }
}

}  // namespace kelpie_reference

#endif
