// The free-set LDL' factor: rank-one modification, removal and addition.
//
// Storage: L is n x n column-major; for members r > c, L(r, c) is the entry of
// the unit lower triangular factor. The members in ascending variable order
// are the elimination order; there is no pivoting. D[c] is the pivot of c.
#include "ldl_factor.h"

#include <cmath>
#include <cstddef>

#include "blas.h"

namespace kelpie {

namespace {

double* column_of(double* L, int n, int c) { return L + static_cast<std::size_t>(c) * n; }

// A pivot of variable i that the factor can divide by safely.
bool pivot_is_safe(double pivot, double h_ii) { return pivot > kPivotTolerance * std::fabs(h_ii); }

// Runs the recurrence of ldl_rank_one_update without writing L or D and
// tells whether every new pivot would be safe. It performs the same
// operations in the same order, so its pivots are exactly those the real
// update would store. y is consumed.
bool rank_one_update_keeps_pivots_safe(const Problem& p, int m, const double* L, const double* D, const int* idx,
                                       double* y, double alpha) {
    const int n = p.n;
    for (int k = 0; k < m; ++k) {
        const int q0 = idx[k];
        const double y_p = y[q0];
        const double d_new = D[q0] + (alpha * y_p) * y_p;
        if (!pivot_is_safe(d_new, column(p, q0)[q0])) return false;
        const double rho = D[q0] / d_new;
        const double* col = L + static_cast<std::size_t>(q0) * n;
        for (int k2 = k + 1; k2 < m; ++k2) {
            const int q = idx[k2];
            y[q] = y[q] - col[q] * y_p;
        }
        alpha = alpha * rho;
        if (alpha == 0) return true;
    }
    return true;
}

// Members other than i, split into those before i (list_b) and after (list_a).
void split_members(int n, int i, const int* in_factor, int* list_b, int* count_b, int* list_a, int* count_a) {
    *count_b = 0;
    *count_a = 0;
    for (int j = 0; j < n; ++j) {
        if (in_factor[j] == 0) continue;
        if (j < i) list_b[(*count_b)++] = j;
        if (j > i) list_a[(*count_a)++] = j;
    }
}

// Removes every member that is no longer free, in ascending order: the block
// of the later members absorbs D[i] * l * l', with l the column of i.
// Returns how many left.
int remove_leaving_variables(const Problem& p, Workspace& ws) {
    int left = 0;
    const int n = p.n;
    int* in_factor = ws.in_factor.get();
    const int* is_free = ws.is_free.get();
    int* list_a = ws.list_a.get();
    for (int i = 0; i < n; ++i) {
        if (!(is_free[i] < in_factor[i])) continue;
        if (i < n - 1) {
            int count_a = 0;
            for (int j = i + 1; j < n; ++j) {
                if (in_factor[j] != 0) list_a[count_a++] = j;
            }
            ldl_rank_one_update(count_a, ws.L.get(), n, ws.D.get(), list_a, column_of(ws.L.get(), n, i),
                                ws.D[i]);
        }
        in_factor[i] = 0;
        ++left;
    }
    return left;
}

// Solves L_BB w = H(B, i) and forms z(A) = H(A, i) - L_AB w, walking each
// column of L once. Every w[r] and z[a] receives its subtractions in
// ascending order of the column, as in the row-by-row recurrence.
void substitute_entering_column(const Problem& p, const double* L, int i, const int* list_b, int count_b,
                                const int* list_a, int count_a, double* w, double* z) {
    const int n = p.n;
    const double* h = column(p, i);
    for (int r = 0; r < count_b; ++r) w[r] = h[list_b[r]];
    for (int r = 0; r < count_a; ++r) z[list_a[r]] = h[list_a[r]];
#ifdef KELPIE_ROW_ORDER
    for (int r = 0; r < count_b; ++r) {
        const int b = list_b[r];
        for (int s = 0; s < r; ++s) w[r] = w[r] - L[b + static_cast<std::size_t>(list_b[s]) * n] * w[s];
    }
    for (int r = 0; r < count_a; ++r) {
        const int a = list_a[r];
        for (int s = 0; s < count_b; ++s) z[a] = z[a] - L[a + static_cast<std::size_t>(list_b[s]) * n] * w[s];
    }
#else
    for (int s = 0; s < count_b; ++s) {
        const double* col = L + static_cast<std::size_t>(list_b[s]) * n;
        const double w_s = w[s];
        for (int r = s + 1; r < count_b; ++r) w[r] = w[r] - col[list_b[r]] * w_s;
        for (int r = 0; r < count_a; ++r) z[list_a[r]] = z[list_a[r]] - col[list_a[r]] * w_s;
    }
#endif
}

// Adds free variable i to the factor. Returns false, changing nothing in the
// factor, when its pivot or a pivot of a later member would not be safe.
bool add_variable(const Problem& p, Workspace& ws, int i) {
    const int n = p.n;
    double* L = ws.L.get();
    double* D = ws.D.get();
    int* list_a = ws.list_a.get();
    int* list_b = ws.list_b.get();
    double* w = ws.w.get();
    double* v = ws.v.get();
    double* z = ws.z.get();
    int count_a = 0;
    int count_b = 0;
    split_members(n, i, ws.in_factor.get(), list_b, &count_b, list_a, &count_a);

    substitute_entering_column(p, L, i, list_b, count_b, list_a, count_a, w, z);
    for (int r = 0; r < count_b; ++r) v[r] = w[r] / D[list_b[r]];
    const blas_int count = count_b;
    const blas_int one = 1;
    const double h_ii = column(p, i)[i];
    const double pivot = h_ii - KELPIE_BLAS(ddot)(&count, w, &one, v, &one);
    if (!pivot_is_safe(pivot, h_ii)) return false;

    for (int r = 0; r < count_a; ++r) z[list_a[r]] = z[list_a[r]] / pivot;
    if (count_a > 0) {
        double* trial = ws.trial.get();
        for (int r = 0; r < count_a; ++r) trial[list_a[r]] = z[list_a[r]];
        if (!rank_one_update_keeps_pivots_safe(p, count_a, L, D, list_a, trial, -pivot)) return false;
    }
    for (int r = 0; r < count_a; ++r) w[r] = z[list_a[r]];
    ldl_rank_one_update(count_a, L, n, D, list_a, z, -pivot);
    for (int r = 0; r < count_b; ++r) L[i + static_cast<std::size_t>(list_b[r]) * n] = v[r];
    double* col_i = column_of(L, n, i);
    for (int r = 0; r < count_a; ++r) col_i[list_a[r]] = w[r];
    D[i] = pivot;
    return true;
}

}  // namespace

void ldl_rank_one_update(int m, double* L, int n, double* D, const int* idx, double* y, double alpha) {
    for (int k = 0; k < m; ++k) {
        const int p = idx[k];
        const double y_p = y[p];
        const double d_new = D[p] + (alpha * y_p) * y_p;
        const double rho = D[p] / d_new;
        D[p] = d_new;
        const double gain = (alpha * y_p) / d_new;
        double* col = column_of(L, n, p);
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

FactorChanges update_free_factor(const Problem& p, Workspace& ws) {
    FactorChanges changes{remove_leaving_variables(p, ws), 0, 0};
    int* in_factor = ws.in_factor.get();
    const int* is_free = ws.is_free.get();
    for (int i = 0; i < p.n; ++i) {
        if (!(in_factor[i] < is_free[i])) continue;
        if (add_variable(p, ws, i)) {
            in_factor[i] = 1;
            ++changes.entered;
        } else {
            ++changes.kept_out;
        }
    }
    return changes;
}

}  // namespace kelpie
