#include "gateway_checks.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cctype>
#include <cstring>

#include "box_qp.h"

namespace kelpie {

namespace {

constexpr double kInfinity = HUGE_VAL;

void refuse(CheckResult* r, const char* format, ...) {
    r->kind = CheckResult::kRefuse;
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::snprintf(r->message, sizeof r->message, "\nERROR: %s\n\n", text);
}

// a equals b, letters compared without their case.
bool same_word(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

bool is_real_double(const InputView& in) { return in.is_double && !in.is_complex; }

// H: finite entries, and whether it is exactly symmetric. Reads each entry
// once, in square tiles, so that the entry mirrored across the diagonal is
// read from a tile still in cache rather than n doubles away.
bool check_matrix_values(int n, const double* H, bool* symmetric) {
    constexpr std::size_t kTile = 32;
    const std::size_t m = static_cast<std::size_t>(n);
    *symmetric = true;
    for (std::size_t j0 = 0; j0 < m; j0 += kTile) {
        const std::size_t j1 = j0 + kTile < m ? j0 + kTile : m;
        for (std::size_t i0 = j0; i0 < m; i0 += kTile) {
            const std::size_t i1 = i0 + kTile < m ? i0 + kTile : m;
            for (std::size_t j = j0; j < j1; ++j) {
                for (std::size_t i = (i0 > j ? i0 : j); i < i1; ++i) {
                    const double below = H[i + j * m];
                    const double above = H[j + i * m];
                    if (!std::isfinite(below) || !std::isfinite(above)) return false;
                    if (below != above) *symmetric = false;
                }
            }
        }
    }
    return true;
}

bool all_finite(int n, const double* v) {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) return false;
    }
    return true;
}

// Whether an input holds any values at all: 0-by-n, n-by-0 and n-by-0-by-2
// hold none, whatever their row count says.
bool holds_values(const InputView& in) { return in.rows * in.cols > 0; }

// The bound checks of l or u: rows first, then sparsity, then class; an
// input that holds no values means no bound on that side.
bool check_bound(const InputView& in, int n, const char* name, bool* present, CheckResult* r) {
    *present = holds_values(in);
    if (!*present) return true;
    if (in.rows != static_cast<std::size_t>(n)) {
        refuse(r, "The %s column vector must have %i entries.", name, n);
        return false;
    }
    if (in.is_sparse) {
        refuse(r, "The %s vector must be dense (use full(%s)).", name, name);
        return false;
    }
    if (!is_real_double(in)) {
        refuse(r, "The %s vector must be a real double vector.", name);
        return false;
    }
    return true;
}

bool check_shapes(int nrhs, const InputView* in, CheckResult* r) {
    const InputView& H = in[0];
    if (H.is_sparse) {
        refuse(r, "The H matrix must be dense (use full(H)).");
        return false;
    }
    if (!is_real_double(H)) {
        refuse(r, "The H matrix must be a real double matrix.");
        return false;
    }
    if (H.cols != H.rows) {
        refuse(r, "The H matrix must be square.");
        return false;
    }
    if (H.rows > static_cast<std::size_t>(INT_MAX)) {
        refuse(r, "The H matrix has too many rows.");
        return false;
    }
    const int n = static_cast<int>(H.rows);
    r->n = n;
    const InputView& f = in[1];
    if (f.is_sparse) {
        refuse(r, "The f vector must be dense (use full(f)).");
        return false;
    }
    if (!is_real_double(f)) {
        refuse(r, "The f vector must be a real double vector.");
        return false;
    }
    if (f.rows != static_cast<std::size_t>(n) || !holds_values(f)) {
        refuse(r, "The f column vector must have %i entries.", n);
        return false;
    }
    if (!check_bound(in[2], n, "l", &r->has_lower, r)) return false;
    if (!check_bound(in[3], n, "u", &r->has_upper, r)) return false;
    // With the options given, an empty x0 stands in for "no start".
    r->has_start = nrhs >= 6 && !(nrhs >= 7 && holds_values(in[5]) == false);
    if (r->has_start) {
        const InputView& x0 = in[5];
        if (x0.is_sparse || !is_real_double(x0)) {
            refuse(r, "The x0 vector must be a dense real double vector.");
            return false;
        }
        if (x0.rows * x0.cols < static_cast<std::size_t>(n)) {
            refuse(r, "The x0 vector must have at least %i entries.", n);
            return false;
        }
    }
    return true;
}

bool check_values(const InputView* in, CheckResult* r) {
    const int n = r->n;
    if (!check_matrix_values(n, in[0].data, &r->symmetric)) {
        refuse(r, "The H matrix must not contain NaN or Inf.");
        return false;
    }
    if (!all_finite(n, in[1].data)) {
        refuse(r, "The f vector must not contain NaN or Inf.");
        return false;
    }
    const double* l = r->has_lower ? in[2].data : nullptr;
    const double* u = r->has_upper ? in[3].data : nullptr;
    for (int i = 0; l != nullptr && i < n; ++i) {
        if (std::isnan(l[i]) || l[i] == kInfinity) {
            refuse(r, "The l vector must not contain NaN or +Inf.");
            return false;
        }
    }
    for (int i = 0; u != nullptr && i < n; ++i) {
        if (std::isnan(u[i]) || u[i] == -kInfinity) {
            refuse(r, "The u vector must not contain NaN or -Inf.");
            return false;
        }
    }
    for (int i = 0; l != nullptr && u != nullptr && i < n; ++i) {
        if (l[i] > u[i]) {
            refuse(r, "The l vector must not exceed u (entry %i).", i + 1);
            return false;
        }
    }
    if (r->has_start && !all_finite(n, in[5].data)) {
        refuse(r, "The x0 vector must not contain NaN or Inf.");
        return false;
    }
    return true;
}

}  // namespace

void check_inputs(int nrhs, const InputView* inputs, CheckResult* result) {
    *result = CheckResult{CheckResult::kAccept, 0, false, false, false, true, {0}};
    if (nrhs < 4) {
        refuse(result, "There must be at least four inputs.");
        return;
    }
    if (!holds_values(inputs[0])) {
        result->kind = CheckResult::kRefuseSilently;
        return;
    }
    if (!check_shapes(nrhs, inputs, result)) return;
    check_values(inputs, result);
}

void check_options(const OptionField* fields, int count, int* method, long long* max_newton_steps,
                   CheckResult* result) {
    *method = KELPIE_METHOD_DESCRIBED;
    *max_newton_steps = 0;
    for (int k = 0; k < count; ++k) {
        const OptionField& field = fields[k];
        if (std::strcmp(field.name, "MaxNewtonSteps") == 0) {
            const double v = field.number;
            if (!field.is_real_double_scalar || !(v >= 1) || v != std::floor(v) || v > 9.0e15) {
                refuse(result, "The MaxNewtonSteps option must be a positive whole number.");
                return;
            }
            *max_newton_steps = static_cast<long long>(v);
        } else if (std::strcmp(field.name, "Method") == 0) {
            if (field.text != nullptr && same_word(field.text, "described")) {
                *method = KELPIE_METHOD_DESCRIBED;
            } else if (field.text != nullptr && same_word(field.text, "accelerated")) {
                *method = KELPIE_METHOD_ACCELERATED;
            } else {
                refuse(result, "The Method option must be 'described' or 'accelerated'.");
                return;
            }
        } else {
            char name[40];
            std::snprintf(name, sizeof name, "%s", field.name);
            refuse(result, "Unknown option '%s' (the options are MaxNewtonSteps and Method).", name);
            return;
        }
    }
}

void symmetrise(int n, const double* H, double* S) {
    const std::size_t m = static_cast<std::size_t>(n);
    for (std::size_t j = 0; j < m; ++j) {
        for (std::size_t i = 0; i < m; ++i) {
            const double a = H[i + j * m];
            const double b = H[j + i * m];
            // 0.5a + 0.5b cannot overflow; an equal pair keeps its value exactly.
            S[i + j * m] = (a == b) ? a : 0.5 * a + 0.5 * b;
        }
    }
}

}  // namespace kelpie
