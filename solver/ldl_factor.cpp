// The free-set LDL' factor: rank-one modification, removal and addition.
//
// Storage: L is n x n column-major; for members r > c, L(r, c) is the entry of
// the unit lower triangular factor. The members in ascending variable order
// are the elimination order; there is no pivoting. D[c] is the pivot of c.
//
// Removal of member i: the block of the later members absorbs D[i] l l', with
// l the column of i (a rank-one update). Addition of variable i with the
// members B before it and A after it, in the bordered form
//     w = L_BB^-1 H(B, i),  v = w ./ D_B,  pivot = H(i, i) - w'v,
//     z = (H(A, i) - L_AB w) / pivot,
// gives i the row v' and the column z, and the block of the later members
// loses pivot z z' (a rank-one downdate). Each addition is accepted only when
// its pivot and every later pivot the downdate leaves pass the pivot guard.
#include "ldl_factor.h"

#include <cmath>
#include <cstddef>

#include "blas.h"
#include "block_solve.h"
#include "lanes.h"
#include "triangular_kernels.h"
#include "unroll.h"

namespace kelpie {

namespace {

double* column_of(double* L, int n, int c) { return L + static_cast<std::size_t>(c) * n; }

// A pivot of variable i that the factor can divide by safely.
bool pivot_is_safe(double pivot, double h_ii) { return pivot > kPivotTolerance * std::fabs(h_ii); }

enum class RankOneEnd { kGoOn, kStopped, kUnsafe };

// The steps of the rank-one modification for the G positions idx[k..k+G): for
// position p in turn, with d = D[p] + alpha y_p^2, rho = D[p] / d and
// gain = alpha y_p / d, every later row q takes
//     L(q, p) = L(q, p) rho + gain y_q,   y_q = y_q - L_old(q, p) y_p,
// and alpha becomes alpha rho. The group's positions take their own steps
// first; then each later row takes all G steps in one visit, in order.
// kTrial writes neither L nor D and ends with kUnsafe at the first new pivot
// that fails the guard (guard holds H). kStopped: alpha became exactly 0,
// nothing later changes.
template <bool kTrial, int G>
RankOneEnd take_rank_one_steps(int k, int m, double* L, int n, double* D, const int* idx, double* y,
                               double* alpha, const Problem* guard) {
    double rho[G], gain[G], y_step[G];
    double* col[G];
    int steps = 0;
    bool stopped = false;
    KELPIE_UNROLL
    for (int t = 0; t < G; ++t) {
        if (stopped) break;
        const int pt = idx[k + t];
        const double y_t = y[pt];
        const double d = D[pt] + (*alpha * y_t) * y_t;
        if (kTrial && !pivot_is_safe(d, column(*guard, pt)[pt])) return RankOneEnd::kUnsafe;
        rho[t] = D[pt] / d;
        if (!kTrial) D[pt] = d;
        gain[t] = (*alpha * y_t) / d;
        y_step[t] = y_t;
        col[t] = column_of(L, n, pt);
        for (int u = t + 1; u < G; ++u) {
            const int q = idx[k + u];
            const double ell = col[t][q];
            if (!kTrial) col[t][q] = ell * rho[t] + gain[t] * y[q];
            y[q] = y[q] - ell * y_t;
        }
        *alpha = *alpha * rho[t];
        steps = t + 1;
        stopped = *alpha == 0;
    }
    if (stopped) {  // the steps taken, one column at a time
        if (kTrial) return RankOneEnd::kStopped;  // the later pivots keep their values
        for (int t = 0; t < steps; ++t) {
            for (int k2 = k + G; k2 < m; ++k2) {
                const int q = idx[k2];
                const double ell = col[t][q];
                col[t][q] = ell * rho[t] + gain[t] * y[q];
                y[q] = y[q] - ell * y_step[t];
            }
        }
        return RankOneEnd::kStopped;
    }
    for (int k2 = k + G; k2 < m; ++k2) {
        const int q = idx[k2];
        double y_q = y[q];
        KELPIE_UNROLL
        for (int t = 0; t < G; ++t) {
            const double ell = col[t][q];
            if (!kTrial) col[t][q] = ell * rho[t] + gain[t] * y_q;
            y_q = y_q - ell * y_step[t];
        }
        y[q] = y_q;
    }
    return RankOneEnd::kGoOn;
}

// The rank-one modification, in groups of G positions and then one at a
// time. With kTrial, returns whether every new pivot would pass the guard,
// having written nothing but y: its pivots are exactly those the
// modification would store, as it performs the same operations in the same
// order. The trial writes no L, so wider groups pay there.
template <bool kTrial>
bool modify_rank_one(int m, double* L, int n, double* D, const int* idx, double* y, double alpha,
                     const Problem* guard) {
    constexpr int G = kTrial ? 8 : 4;
    int k = 0;
    for (; k + G <= m; k += G) {
        const RankOneEnd end = take_rank_one_steps<kTrial, G>(k, m, L, n, D, idx, y, &alpha, guard);
        if (end != RankOneEnd::kGoOn) return end != RankOneEnd::kUnsafe;
    }
    for (; k < m; ++k) {
        const RankOneEnd end = take_rank_one_steps<kTrial, 1>(k, m, L, n, D, idx, y, &alpha, guard);
        if (end != RankOneEnd::kGoOn) return end != RankOneEnd::kUnsafe;
    }
    return true;
}

// Members other than i, split into those before i and those after.
void split_members(int n, int i, const int* in_factor, int* before, int* count_before, int* after, int* count_after) {
    *count_before = 0;
    *count_after = 0;
    for (int j = 0; j < n; ++j) {
        if (in_factor[j] == 0) continue;
        if (j < i) before[(*count_before)++] = j;
        if (j > i) after[(*count_after)++] = j;
    }
}

// Removes every member that is no longer free, in ascending order. Returns
// how many left.
int remove_leaving_variables(const Problem& p, Workspace& ws) {
    const int n = p.n;
    FreeFactor& factor = ws.factor;
    int* later_members = ws.scratch.index[0].get();
    int left = 0;
    for (int i = 0; i < n; ++i) {
        if (!leaving(ws, i)) continue;
        int count = 0;
        for (int j = i + 1; j < n; ++j) {
            if (factor.in_factor[j] != 0) later_members[count++] = j;
        }
        ldl_rank_one_update(count, factor.L.get(), n, factor.D.get(), later_members, column_of(factor.L.get(), n, i),
                            factor.D[i]);
        factor.in_factor[i] = 0;
        ++left;
    }
    return left;
}

// The columns of an addition of variable i: its substitution w over the
// members before it (by position), v = w over their pivots, and z over the
// members after it (by variable number).
struct Bordering {
    const int* before;
    int count_before;
    const int* after;
    int count_after;
    double* w;
    double* v;
    double* z;
};

// The pivot of entering variable i from its substitution b.w; fills b.v.
double entering_pivot(const Problem& p, const double* D, int i, const Bordering& b) {
    for (int r = 0; r < b.count_before; ++r) b.v[r] = b.w[r] / D[b.before[r]];
    const blas_int count = b.count_before;
    const blas_int one = 1;
    return column(p, i)[i] - KELPIE_BLAS(ddot)(&count, b.w, &one, b.v, &one);
}

// Finishes the addition of i once its pivot has passed, with b.z holding
// H(A, i) - L_AB w: checks the pivots the downdate leaves the later members
// (a trial on a copy in `trial`) and, when all are safe, writes i's row and
// column and downdates the later block. Returns false, changing nothing in
// the factor, when a later pivot would not be safe.
bool complete_addition(const Problem& p, FreeFactor& factor, int i, const Bordering& b, double pivot,
                       double* trial) {
    const int n = p.n;
    double* L = factor.L.get();
    double* D = factor.D.get();
    for (int r = 0; r < b.count_after; ++r) b.z[b.after[r]] = b.z[b.after[r]] / pivot;
    if (b.count_after > 0) {
        for (int r = 0; r < b.count_after; ++r) trial[b.after[r]] = b.z[b.after[r]];
        if (!modify_rank_one<true>(b.count_after, L, n, D, b.after, trial, -pivot, &p)) return false;
    }
    for (int r = 0; r < b.count_after; ++r) b.w[r] = b.z[b.after[r]];  // i's column, kept by position
    ldl_rank_one_update(b.count_after, L, n, D, b.after, b.z, -pivot);
    for (int r = 0; r < b.count_before; ++r) L[i + static_cast<std::size_t>(b.before[r]) * n] = b.v[r];
    double* col_i = column_of(L, n, i);
    for (int r = 0; r < b.count_after; ++r) col_i[b.after[r]] = b.w[r];
    D[i] = pivot;
    return true;
}

// Adds free variable i to the factor. With `side` null its columns are formed
// here; else side holds them, formed ahead (prepare_try_batch), over all
// members in ascending order. Returns false, changing nothing in the factor,
// when its pivot or a pivot of a later member would not be safe.
bool add_variable(const Problem& p, Workspace& ws, int i, const double* side = nullptr) {
    Scratch& s = ws.scratch;
    int* before = s.index[1].get();
    int* after = s.index[0].get();
    Bordering b{before, 0, after, 0, s.vector[0].get(), s.vector[1].get(), s.vector[2].get()};
    split_members(p.n, i, ws.factor.in_factor.get(), before, &b.count_before, after, &b.count_after);
    const double* h = column(p, i);
    if (side == nullptr) {
        for (int r = 0; r < b.count_before; ++r) b.w[r] = h[before[r]];
        substitute_forward(ws.factor.L.get(), p.n, before, b.count_before, [&b](int r) -> double& { return b.w[r]; });
    } else {
        for (int r = 0; r < b.count_before; ++r) b.w[r] = side[r];
    }
    // The pivot of i needs only the members before it; the later rows of
    // its column are formed only for a pivot that passes.
    const double pivot = entering_pivot(p, ws.factor.D.get(), i, b);
    if (!pivot_is_safe(pivot, h[i])) return false;
    if (side == nullptr) {
        for (int r = 0; r < b.count_after; ++r) b.z[after[r]] = h[after[r]];
        subtract_columns(ws.factor.L.get(), p.n, before, b.count_before, b.w, after, b.count_after, b.z);
    } else {
        for (int r = 0; r < b.count_after; ++r) b.z[after[r]] = side[b.count_before + r];
    }
    return complete_addition(p, ws.factor, i, b, pivot, s.vector[3].get());
}

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
// Side t is read off into sides + t n once the columns of the members before
// its variable are done.
void prepare_try_batch(const Problem& p, Workspace& ws, int first, int last, int retries_left, VariableBatch* batch,
                       double* sides) {
    constexpr int K = kAppendBlock;
    const int n = p.n;
    const int* kept_out = ws.factor.kept_out.get();
    batch->count = 0;
    batch->used = 0;
    for (int i = first; i <= last && batch->count < K; ++i) {
        if (entering(ws, i) && (kept_out[i] == 0 || retries_left > 0)) batch->variable[batch->count++] = i;
    }
    int* members = ws.scratch.index[0].get();
    const int m = list_members(n, ws.factor, -1, members);
    double* W = ws.scratch.block[0].get();
    gather_sides(p, batch->variable, batch->count, members, m, false, W);
    int done = 0;  // columns applied to every side still open
    for (int t = 0; t < batch->count; ++t) {
        int before = done;
        while (before < m && members[before] < batch->variable[t]) ++before;
        substitute_block_columns(ws.factor.L.get(), n, members, m, done, before, W);
        done = before;
        double* side = sides + static_cast<std::size_t>(t) * n;
        for (int r = 0; r < m; ++r) {
            side[r] = W[static_cast<std::size_t>(r) * K + t];
            W[static_cast<std::size_t>(r) * K + t] = 0.0;  // a finished side takes no further part
        }
    }
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
// members before[0..*count_before) (extended by those that enter). An
// appended variable has no later member, so its addition writes only its own
// row and pivot: the substitutions of the whole group over the members share
// one pass over L, and what each variable owes to the group members before it
// (their rows of L are known once the shared pass is done) is finished one
// variable at a time. Every stored value gets the operations, in the order,
// of adding the variables one by one.
void add_appended_block(const Problem& p, Workspace& ws, int* before, int* count_before, const int* group, int k,
                        int* retries_left, FactorChanges* changes) {
    constexpr int K = kAppendBlock;
    const int n = p.n;
    const int m = *count_before;
    double* L = ws.factor.L.get();
    double* D = ws.factor.D.get();
    double* W = ws.scratch.block[0].get();  // the group's substitutions, side by side
    double* V = ws.scratch.block[1].get();  // ... over the members' pivots
    double* w = ws.scratch.vector[0].get(); // one variable's substitution over members and accepted group
    double* v = ws.scratch.vector[1].get(); // ... over the pivots

    gather_sides(p, group, k, before, m, false, W);
    substitute_block(L, n, before, m, W);
    // cross[t][j]: the entry of side j at group variable t (t < j), reduced by
    // the members; L(group[t], member) is V's side t.
    double cross[K][K];
    for (int t = 0; t < K; ++t) {
        for (int j = 0; j < K; ++j) cross[t][j] = (t < j && j < k) ? column(p, group[j])[group[t]] : 0.0;
    }
    scale_and_cross(D, before, m, W, V, cross);

    const blas_int one = 1;
    int* in_factor = ws.factor.in_factor.get();
    int* kept_out = ws.factor.kept_out.get();
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
        double* col = column_of(L, n, before[r]);
        for (int a = 0; a < count; ++a) col[group[accepted[a]]] = V[static_cast<std::size_t>(r) * K + accepted[a]];
    }
    for (int b = 0; b < count; ++b) {
        double* col = column_of(L, n, group[accepted[b]]);
        for (int a = b + 1; a < count; ++a) col[group[accepted[a]]] = group_rows[a][b];
    }
    for (int a = 0; a < count; ++a) before[m + a] = group[accepted[a]];
    *count_before = m + count;
}

// Adds the free variables from `first` on, where no member lies, in blocks.
void add_appended_variables(const Problem& p, Workspace& ws, int first, int* retries_left, FactorChanges* changes) {
    const int n = p.n;
    const int* is_free = ws.iterate.is_free.get();
    int* kept_out = ws.factor.kept_out.get();
    int* members = ws.scratch.index[1].get();
    int* group = ws.scratch.index[0].get();
    int count_members = list_members(first, ws.factor, -1, members);
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
        if (k > 0) add_appended_block(p, ws, members, &count_members, group, k, retries_left, changes);
    }
}

}  // namespace

void ldl_rank_one_update(int m, double* L, int n, double* D, const int* idx, double* y, double alpha) {
    modify_rank_one<false>(m, L, n, D, idx, y, alpha, nullptr);
}

int list_members(int n, const FreeFactor& factor, int extra, int* list) {
    int count = 0;
    for (int k = 0; k < n; ++k) {
        if (factor.in_factor[k] != 0 || k == extra) list[count++] = k;
    }
    return count;
}

FactorChanges update_free_factor(const Problem& p, Workspace& ws, Additions additions) {
    FactorChanges changes{remove_leaving_variables(p, ws), 0, 0};
    FreeFactor& factor = ws.factor;
    // A variable kept out lies, to working accuracy, in the span of the
    // members; joining members cannot change that, and each member that
    // leaves can make room for at most one of them (the span loses one
    // dimension). So variables kept out before are tried again only until as
    // many have entered as members left; the rest stay out untried.
    int retries_left = changes.left;
    // Past the last member every entering variable is appended at the end of
    // the elimination order; those go in blocks.
    int last_member = -1;
    for (int i = 0; i < p.n; ++i) {
        if (factor.in_factor[i] != 0) last_member = i;
    }
    const bool batched = additions == Additions::kBatched;
    if (!batched) last_member = p.n - 1;
    VariableBatch batch{{}, 0, 0, {}};
    double* sides = ws.scratch.block[1].get();
    bool last_try_failed = false;
    for (int i = 0; i <= last_member; ++i) {
        if (ws.iterate.is_free[i] == 0) factor.kept_out[i] = 0;
        if (!entering(ws, i)) continue;
        bool entered = false;
        if (factor.kept_out[i] == 0 || retries_left > 0) {
            // Tries that fail come in runs (once the members span what the
            // free variables can add); after a failure they go in batches,
            // until one succeeds.
            const bool in_batch = batch.used < batch.count && batch.variable[batch.used] == i;
            if (batched && (in_batch || last_try_failed)) {
                if (!in_batch) prepare_try_batch(p, ws, i, last_member, retries_left, &batch, sides);
                entered = add_variable(p, ws, i, sides + static_cast<std::size_t>(batch.used++) * p.n);
            } else {
                entered = add_variable(p, ws, i);
            }
            if (entered) batch.count = 0;
            last_try_failed = !entered;
        }
        if (entered) {
            if (factor.kept_out[i] != 0) --retries_left;
            factor.kept_out[i] = 0;
            factor.in_factor[i] = 1;
            ++changes.entered;
        } else {
            factor.kept_out[i] = 1;
            ++changes.kept_out;
        }
    }
    if (batched) add_appended_variables(p, ws, last_member + 1, &retries_left, &changes);
    return changes;
}

void clear_factor(int n, FreeFactor& factor) {
    for (int i = 0; i < n; ++i) {
        factor.in_factor[i] = 0;
        factor.kept_out[i] = 0;
    }
}

bool rebuilding_is_cheaper(int n, const Workspace& ws) {
    int last_member = -1;
    for (int i = 0; i < n; ++i) {
        if (ws.factor.in_factor[i] != 0) last_member = i;
    }
    double members = 0.0;
    double leaving_count = 0.0;
    double entering_count = 0.0;
    double entering_between = 0.0;  // entering before the last member: a downdate each
    for (int i = 0; i < n; ++i) {
        if (entering(ws, i) && ws.factor.kept_out[i] == 0) {
            entering_count = entering_count + 1.0;
            if (i < last_member) entering_between = entering_between + 1.0;
        }
        if (ws.factor.in_factor[i] == 0) continue;
        members = members + 1.0;
        if (leaving(ws, i)) leaving_count = leaving_count + 1.0;
    }
    const double changes = leaving_count + 4.0 * entering_between;
    const double after = members - leaving_count + entering_count;
    return changes > 0 && kBatchedBuildSpeedup * changes * members * members > after * after * after;
}

FactorChanges exchange_for_dependent(const Problem& p, Workspace& ws, int i) {
    FactorChanges changes{remove_leaving_variables(p, ws), 0, 0};
    if (entering(ws, i) && add_variable(p, ws, i)) {
        ws.factor.in_factor[i] = 1;
        ws.factor.kept_out[i] = 0;
        changes.entered = 1;
    }
    return changes;
}

}  // namespace kelpie
