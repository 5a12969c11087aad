// The free-set LDL' factor: rank-one modification, removal and addition.
//
// Storage: L is n x n column-major; for members r > c, L(r, c) is the entry of
// the unit lower triangular factor. The members in ascending variable order
// are the elimination order; there is no pivoting. D[c] is the pivot of c.
#include "ldl_factor.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "blas.h"
#include "block_solve.h"
#include "forward_substitution.h"
#include "lanes.h"
#include "unroll.h"

namespace kelpie {

namespace {

double* column_of(double* L, int n, int c) { return L + static_cast<std::size_t>(c) * n; }

// One step of the rank-one modification on the rows idx[from..m) of the
// column `col` of its position: L(q, p) = l rho + gain y[q], y[q] -= l y_p.
void modify_later_rows(double* col, const int* idx, int from, int m, double rho, double gain, double y_p, double* y) {
    for (int k = from; k < m; ++k) {
        const int q = idx[k];
        const double ell = col[q];
        col[q] = ell * rho + gain * y[q];
        y[q] = y[q] - ell * y_p;
    }
}

// A pivot of variable i that the factor can divide by safely.
bool pivot_is_safe(double pivot, double h_ii) { return pivot > kPivotTolerance * std::fabs(h_ii); }

// Runs the recurrence of ldl_rank_one_update without writing L or D and
// tells whether every new pivot would be safe. It performs the same
// operations in the same order, so its pivots are exactly those the real
// update would store. y is consumed.
bool rank_one_update_keeps_pivots_safe(const Problem& p, int m, const double* L, const double* D, const int* idx,
                                       double* y, double alpha) {
    const int n = p.n;
    int k = 0;
#ifndef KELPIE_ROW_ORDER
    // Eight positions per pass over the later rows (the update itself takes
    // four: it also writes L, and more columns at a time do not pay there).
    constexpr int G = 8;
    for (; k + G <= m; k += G) {
        double y_step[G];
        const double* col[G];
        for (int t = 0; t < G; ++t) {
            const int pt = idx[k + t];
            const double y_t = y[pt];
            const double d = D[pt] + (alpha * y_t) * y_t;
            if (!pivot_is_safe(d, column(p, pt)[pt])) return false;
            const double rho = D[pt] / d;
            y_step[t] = y_t;
            col[t] = L + static_cast<std::size_t>(pt) * n;
            for (int u = t + 1; u < G; ++u) {
                const int q = idx[k + u];
                y[q] = y[q] - col[t][q] * y_t;
            }
            alpha = alpha * rho;
            if (alpha == 0) return true;
        }
        for (int k2 = k + G; k2 < m; ++k2) {
            const int q = idx[k2];
            double y_q = y[q];
            KELPIE_UNROLL
            for (int t = 0; t < G; ++t) y_q = y_q - col[t][q] * y_step[t];
            y[q] = y_q;
        }
    }
#endif
    for (; k < m; ++k) {
        const int c = idx[k];
        const double y_p = y[c];
        const double d_new = D[c] + (alpha * y_p) * y_p;
        if (!pivot_is_safe(d_new, column(p, c)[c])) return false;
        const double rho = D[c] / d_new;
        const double* col = L + static_cast<std::size_t>(c) * n;
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

// Solves L_BB w = H(B, i), w by position in list_b.
void substitute_entering_column(const Problem& p, const double* L, int i, const int* list_b, int count_b,
                                double* w) {
    const double* h = column(p, i);
    for (int r = 0; r < count_b; ++r) w[r] = h[list_b[r]];
    substitute_forward(L, p.n, list_b, count_b, [w](int r) -> double& { return w[r]; });
}

// Forms z(A) = H(A, i) - L_AB w. Each z[a] receives its subtractions in
// ascending order of the columns of B.
void reduce_later_rows(const Problem& p, const double* L, int i, const int* list_b, int count_b, const double* w,
                       const int* list_a, int count_a, double* z) {
    const int n = p.n;
    const double* h = column(p, i);
    for (int r = 0; r < count_a; ++r) z[list_a[r]] = h[list_a[r]];
#ifdef KELPIE_ROW_ORDER
    for (int r = 0; r < count_a; ++r) {
        const int a = list_a[r];
        for (int s = 0; s < count_b; ++s) z[a] = z[a] - L[a + static_cast<std::size_t>(list_b[s]) * n] * w[s];
    }
#else
    constexpr int C = 8;
    int s = 0;
    for (; s + C <= count_b; s += C) {  // eight columns per pass over the rows of A
        const double* c[C];
        double d[C];  // held in registers: z is not known not to alias w
        KELPIE_UNROLL
        for (int t = 0; t < C; ++t) {
            c[t] = L + static_cast<std::size_t>(list_b[s + t]) * n;
            d[t] = w[s + t];
        }
        for (int r = 0; r < count_a; ++r) {
            const int a = list_a[r];
            double value = z[a];
            KELPIE_UNROLL
            for (int t = 0; t < C; ++t) value = value - c[t][a] * d[t];
            z[a] = value;
        }
    }
    for (; s < count_b; ++s) {
        const double* col = L + static_cast<std::size_t>(list_b[s]) * n;
        const double w_s = w[s];
        for (int r = 0; r < count_a; ++r) z[list_a[r]] = z[list_a[r]] - col[list_a[r]] * w_s;
    }
#endif
}

// The pivot of entering variable i from its substitution w over the members
// before it, list_b[0..count_b); v receives w over their pivots.
double entering_pivot(const Problem& p, const double* D, int i, const int* list_b, int count_b, const double* w,
                      double* v) {
    for (int r = 0; r < count_b; ++r) v[r] = w[r] / D[list_b[r]];
    const blas_int count = count_b;
    const blas_int one = 1;
    return column(p, i)[i] - KELPIE_BLAS(ddot)(&count, w, &one, v, &one);
}

// Finishes the addition of i once its pivot has passed: with w and v over
// the members before it and z(A) = H(A, i) - L_AB w over the members after
// it, checks the pivots of the later members and, when all are safe, writes
// i's row and column and downdates the later block. Returns false, changing
// nothing in the factor, when a later pivot would not be safe.
bool complete_addition(const Problem& p, Workspace& ws, int i, const int* list_b, int count_b, const int* list_a,
                       int count_a, double pivot) {
    const int n = p.n;
    double* L = ws.L.get();
    double* D = ws.D.get();
    double* w = ws.w.get();
    const double* v = ws.v.get();
    double* z = ws.z.get();
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

// Adds free variable i to the factor. Returns false, changing nothing in the
// factor, when its pivot or a pivot of a later member would not be safe.
bool add_variable(const Problem& p, Workspace& ws, int i) {
    int* list_a = ws.list_a.get();
    int* list_b = ws.list_b.get();
    double* w = ws.w.get();
    int count_a = 0;
    int count_b = 0;
    split_members(p.n, i, ws.in_factor.get(), list_b, &count_b, list_a, &count_a);

    // The pivot of i needs only the members before it; the later rows of
    // its column are formed only for a pivot that passes.
    substitute_entering_column(p, ws.L.get(), i, list_b, count_b, w);
    const double pivot = entering_pivot(p, ws.D.get(), i, list_b, count_b, w, ws.v.get());
    if (!pivot_is_safe(pivot, column(p, i)[i])) return false;
    reduce_later_rows(p, ws.L.get(), i, list_b, count_b, w, list_a, count_a, ws.z.get());
    return complete_addition(p, ws, i, list_b, count_b, list_a, count_a, pivot);
}

#ifndef KELPIE_ROW_ORDER
// Free variables in the middle of the elimination order tried together: the
// substitutions of up to kAppendBlock of them share one pass over L. A try
// that fails leaves the factor as it was, so the passes of the later ones
// stay valid; one that succeeds changes it, and the rest are formed again.
//
// Collects the next, up to kAppendBlock, variables from `first` to `last`
// that the addition phase will try, and forms for each of them, over all
// members in ascending order, what add_variable forms one variable at a
// time, with the same operations in the same order: the substitution w over
// the members before it, then z = H(A, i) - L_AB w over the members after it.
// Side t is read off, into block_v, once the columns of the members before
// its variable are done.
void prepare_try_batch(const Problem& p, Workspace& ws, int first, int last, int retries_left, VariableBatch* batch) {
    constexpr int K = kAppendBlock;
    const int n = p.n;
    const int* in_factor = ws.in_factor.get();
    const int* is_free = ws.is_free.get();
    const int* kept_out = ws.kept_out.get();
    batch->count = 0;
    batch->used = 0;
    for (int i = first; i <= last && batch->count < K; ++i) {
        if (in_factor[i] < is_free[i] && (kept_out[i] == 0 || retries_left > 0)) batch->variable[batch->count++] = i;
    }
    int* members = ws.list_a.get();
    int m = 0;
    for (int j = 0; j < n; ++j) {
        if (in_factor[j] != 0) members[m++] = j;
    }
    double* W = ws.block_w.get();
    gather_sides(p, batch->variable, batch->count, members, m, false, W);
    int done = 0;  // columns applied to every side still open
    for (int t = 0; t < batch->count; ++t) {
        int before = done;
        while (before < m && members[before] < batch->variable[t]) ++before;
        substitute_block_columns(ws.L.get(), n, members, m, done, before, W);
        done = before;
        double* side = ws.block_v.get() + static_cast<std::size_t>(t) * n;
        for (int r = 0; r < m; ++r) {
            side[r] = W[static_cast<std::size_t>(r) * K + t];
            W[static_cast<std::size_t>(r) * K + t] = 0.0;  // a finished side takes no further part
        }
    }
}

// add_variable for i with its substitution and later rows already formed:
// `side` holds them over all members in ascending order.
bool add_tried_variable(const Problem& p, Workspace& ws, int i, const double* side) {
    int* list_a = ws.list_a.get();
    int* list_b = ws.list_b.get();
    double* w = ws.w.get();
    int count_a = 0;
    int count_b = 0;
    split_members(p.n, i, ws.in_factor.get(), list_b, &count_b, list_a, &count_a);
    for (int r = 0; r < count_b; ++r) w[r] = side[r];
    const double pivot = entering_pivot(p, ws.D.get(), i, list_b, count_b, w, ws.v.get());
    if (!pivot_is_safe(pivot, column(p, i)[i])) return false;
    double* z = ws.z.get();
    for (int r = 0; r < count_a; ++r) z[list_a[r]] = side[count_b + r];
    return complete_addition(p, ws, i, list_b, count_b, list_a, count_a, pivot);
}

// V = W with each row r divided by the pivot of member list_b[r], and
// cross[t][j] = cross[t][j] - V(r, t) W(r, j) over the rows in ascending
// order: what the sides owe to each other through the members. Four rows t
// of cross at a time stay in registers for the pass over the rows.
KELPIE_WITH_AVX2_CLONE void scale_and_cross(const double* D, const int* list_b, int m, const double* W, double* V,
                                            double (*cross)[kAppendBlock]) {
    constexpr int K = kAppendBlock;
    for (int r = 0; r < m; ++r) {
        const std::size_t at = static_cast<std::size_t>(r) * K;
        store_lanes(V + at, divided(load_lanes(W + at), D[list_b[r]]));
    }
    for (int t0 = 0; t0 < K; t0 += 4) {
        Lanes c0 = load_lanes(cross[t0]);
        Lanes c1 = load_lanes(cross[t0 + 1]);
        Lanes c2 = load_lanes(cross[t0 + 2]);
        Lanes c3 = load_lanes(cross[t0 + 3]);
        for (int r = 0; r < m; ++r) {
            const std::size_t at = static_cast<std::size_t>(r) * K;
            const Lanes wr = load_lanes(W + at);
            const double* vr = V + at + t0;
            c0 = minus_scaled(c0, vr[0], wr);
            c1 = minus_scaled(c1, vr[1], wr);
            c2 = minus_scaled(c2, vr[2], wr);
            c3 = minus_scaled(c3, vr[3], wr);
        }
        store_lanes(cross[t0], c0);
        store_lanes(cross[t0 + 1], c1);
        store_lanes(cross[t0 + 2], c2);
        store_lanes(cross[t0 + 3], c3);
    }
}

// Adds the free variables group[0..k), all after every member, with the
// members list_b[0..*count_b) (extended by those that enter). An appended
// variable has no later member, so its addition writes only its own row and
// pivot: the substitutions of the whole group over the members share one pass
// over L, and what each variable owes to the group members before it (their
// rows of L are known once the shared pass is done) is finished one variable
// at a time. Every stored value gets the operations, in the order, of adding
// the variables one by one.
void add_appended_block(const Problem& p, Workspace& ws, int* list_b, int* count_b, const int* group, int k,
                        int* retries_left, FactorChanges* changes) {
    constexpr int K = kAppendBlock;
    const int n = p.n;
    const int m = *count_b;
    double* L = ws.L.get();
    double* D = ws.D.get();
    double* W = ws.block_w.get();
    double* V = ws.block_v.get();
    double* w = ws.w.get();
    double* v = ws.v.get();

    gather_sides(p, group, k, list_b, m, false, W);
    substitute_block(L, n, list_b, m, W);
    // cross[t][j]: the entry of side j at group variable t (t < j), reduced by
    // the members; L(group[t], member) is V's side t.
    double cross[K][K];
    for (int t = 0; t < K; ++t) {
        for (int j = 0; j < K; ++j) cross[t][j] = (t < j && j < k) ? column(p, group[j])[group[t]] : 0.0;
    }
    scale_and_cross(D, list_b, m, W, V, cross);

    const blas_int one = 1;
    int* in_factor = ws.in_factor.get();
    int* kept_out = ws.kept_out.get();
    int accepted[K];
    double group_rows[K][K];  // group_rows[a][b]: L(group[accepted[a]], group[accepted[b]]), b < a
    int count = 0;
    for (int j = 0; j < k; ++j) {
        const int i = group[j];
        bool entered = false;
        if (kept_out[i] == 0 || *retries_left > 0) {
            for (int r = 0; r < m; ++r) {
                w[r] = W[static_cast<std::size_t>(r) * K + j];
                v[r] = V[static_cast<std::size_t>(r) * K + j];
            }
            for (int a = 0; a < count; ++a) {
                double value = cross[accepted[a]][j];
                for (int b = 0; b < a; ++b) value = value - group_rows[a][b] * w[m + b];
                w[m + a] = value;
            }
            for (int a = 0; a < count; ++a) v[m + a] = w[m + a] / D[group[accepted[a]]];
            const blas_int length = m + count;
            const double h_ii = column(p, i)[i];
            const double pivot = h_ii - KELPIE_BLAS(ddot)(&length, w, &one, v, &one);
            if (pivot_is_safe(pivot, h_ii)) {
                for (int a = 0; a < count; ++a) group_rows[count][a] = v[m + a];
                accepted[count++] = j;
                D[i] = pivot;
                in_factor[i] = 1;
                if (kept_out[i] != 0) --*retries_left;
                kept_out[i] = 0;
                ++changes->entered;
                entered = true;
            }
        }
        if (!entered) {
            kept_out[i] = 1;
            ++changes->kept_out;
        }
    }

    // The new rows of L, written column by column.
    for (int r = 0; r < m; ++r) {
        double* col = column_of(L, n, list_b[r]);
        for (int a = 0; a < count; ++a) col[group[accepted[a]]] = V[static_cast<std::size_t>(r) * K + accepted[a]];
    }
    for (int b = 0; b < count; ++b) {
        double* col = column_of(L, n, group[accepted[b]]);
        for (int a = b + 1; a < count; ++a) col[group[accepted[a]]] = group_rows[a][b];
    }
    for (int a = 0; a < count; ++a) list_b[m + a] = group[accepted[a]];
    *count_b = m + count;
}

// Adds the free variables from `first` on, where no member lies, in blocks.
void add_appended_variables(const Problem& p, Workspace& ws, int first, int* retries_left, FactorChanges* changes) {
    const int n = p.n;
    const int* in_factor = ws.in_factor.get();
    const int* is_free = ws.is_free.get();
    int* kept_out = ws.kept_out.get();
    int* list_b = ws.list_b.get();
    int* group = ws.list_a.get();
    int count_b = 0;
    for (int j = 0; j < first; ++j) {
        if (in_factor[j] != 0) list_b[count_b++] = j;
    }
    int i = first;
    while (i < n) {
        int k = 0;
        for (; i < n && k < kAppendBlock; ++i) {
            if (is_free[i] == 0) {
                kept_out[i] = 0;
            } else {
                group[k++] = i;
            }
        }
        if (k > 0) add_appended_block(p, ws, list_b, &count_b, group, k, retries_left, changes);
    }
}
#endif

}  // namespace

void ldl_rank_one_update(int m, double* L, int n, double* D, const int* idx, double* y, double alpha) {
    int k = 0;
#ifndef KELPIE_ROW_ORDER
    // Four positions per pass over the later rows: the positions first take
    // the earlier steps of their group among themselves, then every later
    // row takes the group's steps in order, as in one position at a time.
    for (; k + 3 < m; k += 4) {
        double rho[4], gain[4], y_step[4];
        double* col[4];
        int steps = 0;
        bool stopped = false;  // alpha became exactly 0: this group's steps are the last
        while (steps < 4 && !stopped) {
            const int t = steps;
            const int pt = idx[k + t];
            const double y_t = y[pt];
            const double d = D[pt] + (alpha * y_t) * y_t;
            rho[t] = D[pt] / d;
            D[pt] = d;
            gain[t] = (alpha * y_t) / d;
            y_step[t] = y_t;
            col[t] = column_of(L, n, pt);
            for (int u = t + 1; u < 4; ++u) {
                const int q = idx[k + u];
                const double ell = col[t][q];
                col[t][q] = ell * rho[t] + gain[t] * y[q];
                y[q] = y[q] - ell * y_t;
            }
            alpha = alpha * rho[t];
            ++steps;
            stopped = alpha == 0;
        }
        if (!stopped) {
            double* c0 = col[0];
            double* c1 = col[1];
            double* c2 = col[2];
            double* c3 = col[3];
            for (int k2 = k + 4; k2 < m; ++k2) {
                const int q = idx[k2];
                double y_q = y[q];
                const double e0 = c0[q];
                c0[q] = e0 * rho[0] + gain[0] * y_q;
                y_q = y_q - e0 * y_step[0];
                const double e1 = c1[q];
                c1[q] = e1 * rho[1] + gain[1] * y_q;
                y_q = y_q - e1 * y_step[1];
                const double e2 = c2[q];
                c2[q] = e2 * rho[2] + gain[2] * y_q;
                y_q = y_q - e2 * y_step[2];
                const double e3 = c3[q];
                c3[q] = e3 * rho[3] + gain[3] * y_q;
                y[q] = y_q - e3 * y_step[3];
            }
        } else {
            for (int t = 0; t < steps; ++t) modify_later_rows(col[t], idx, k + 4, m, rho[t], gain[t], y_step[t], y);
            return;
        }
    }
#endif
    for (; k < m; ++k) {
        const int p = idx[k];
        const double y_p = y[p];
        const double d_new = D[p] + (alpha * y_p) * y_p;
        const double rho = D[p] / d_new;
        D[p] = d_new;
        const double gain = (alpha * y_p) / d_new;
        modify_later_rows(column_of(L, n, p), idx, k + 1, m, rho, gain, y_p, y);
        alpha = alpha * rho;
        if (alpha == 0) return;
    }
}

FactorChanges update_free_factor(const Problem& p, Workspace& ws) {
    FactorChanges changes{remove_leaving_variables(p, ws), 0, 0};
    int* in_factor = ws.in_factor.get();
    int* kept_out = ws.kept_out.get();
    const int* is_free = ws.is_free.get();
    // A variable kept out lies, to working accuracy, in the span of the
    // members; joining members cannot change that, and each member that
    // leaves can make room for at most one of them (the span loses one
    // dimension). So variables kept out before are tried again only until as
    // many have entered as members left; the rest stay out untried.
    int retries_left = changes.left;
    // Past the last member every entering variable is appended at the end of
    // the elimination order; those go in blocks.
    int last_member = p.n - 1;
#ifndef KELPIE_ROW_ORDER
    last_member = -1;
    for (int i = 0; i < p.n; ++i) {
        if (in_factor[i] != 0) last_member = i;
    }
    VariableBatch batch{{}, 0, 0, {}};
    bool last_try_failed = false;
#endif
    for (int i = 0; i <= last_member; ++i) {
        if (is_free[i] == 0) kept_out[i] = 0;
        if (!(in_factor[i] < is_free[i])) continue;
        const bool try_it = kept_out[i] == 0 || retries_left > 0;
        bool entered = false;
        if (try_it) {
#ifdef KELPIE_ROW_ORDER
            entered = add_variable(p, ws, i);
#else
            // Tries that fail come in runs (once the members span what the
            // free variables can add); after a failure they go in batches,
            // until one succeeds.
            const bool in_batch = batch.used < batch.count && batch.variable[batch.used] == i;
            if (in_batch || last_try_failed) {
                if (!in_batch) prepare_try_batch(p, ws, i, last_member, retries_left, &batch);
                const double* side = ws.block_v.get() + static_cast<std::size_t>(batch.used++) * p.n;
                entered = add_tried_variable(p, ws, i, side);
            } else {
                entered = add_variable(p, ws, i);
            }
            if (entered) batch.count = 0;
            last_try_failed = !entered;
#endif
        }
        if (entered) {
            if (kept_out[i] != 0) --retries_left;
            kept_out[i] = 0;
            in_factor[i] = 1;
            ++changes.entered;
        } else {
            kept_out[i] = 1;
            ++changes.kept_out;
        }
    }
#ifndef KELPIE_ROW_ORDER
    add_appended_variables(p, ws, last_member + 1, &retries_left, &changes);
#endif
    return changes;
}

void clear_factor(int n, Workspace& ws) {
    for (int i = 0; i < n; ++i) {
        ws.in_factor[i] = 0;
        ws.kept_out[i] = 0;
    }
}

bool rebuilding_is_cheaper(int n, const Workspace& ws) {
    double members = 0.0;
    double leaving = 0.0;
    for (int i = 0; i < n; ++i) {
        if (ws.in_factor[i] == 0) continue;
        members = members + 1.0;
        if (ws.is_free[i] == 0) leaving = leaving + 1.0;
    }
    const double staying = members - leaving;
    return leaving > 0 && leaving * members * members > staying * staying * staying;
}

FactorChanges exchange_for_dependent(const Problem& p, Workspace& ws, int i) {
    FactorChanges changes{remove_leaving_variables(p, ws), 0, 0};
    if (ws.is_free[i] != 0 && ws.in_factor[i] == 0 && add_variable(p, ws, i)) {
        ws.in_factor[i] = 1;
        ws.kept_out[i] = 0;
        changes.entered = 1;
    }
    return changes;
}

}  // namespace kelpie
