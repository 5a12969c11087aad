// The Python extension over solve_box_qp: converts and checks the arguments,
// symmetrises H as the MEX file does, solves with the GIL released and
// returns plain numpy arrays. Bad input raises ValueError or TypeError with
// what to fix; nothing is read past an array.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "box_qp.h"
#include "gateway_checks.h"

namespace py = pybind11;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
using Doubles = py::array_t<double, py::array::forcecast>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

std::string shape_text(const py::array& a) {
    std::string text = "(";
    for (py::ssize_t k = 0; k < a.ndim(); ++k) {
        text += std::to_string(a.shape(k));
        if (a.ndim() == 1 || k + 1 < a.ndim()) text += k + 1 < a.ndim() ? ", " : ",";
    }
    return text + ")";
}

// Any array-like as an array of doubles (a copy only where the type or the
// layout needs one); complex, string and object data are refused.
py::array real_array(const py::object& value, const char* name) {
    py::array raw = py::array::ensure(value);
    if (!raw) throw py::type_error(std::string(name) + " must be an array of real numbers");
    const char kind = raw.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
        throw py::type_error(std::string(name) + " must hold real numbers, not dtype " +
                             std::string(py::str(raw.dtype())));
    }
    return raw;
}

// A vector of n values: shape (n,) or (n, 1); a scalar is repeated n times
// when `broadcast` is set. Returns a contiguous array of doubles.
Doubles vector_of(const py::object& value, py::ssize_t n, const char* name, bool broadcast) {
    py::array raw = real_array(value, name);
    const bool column = raw.ndim() == 2 && raw.shape(0) == n && raw.shape(1) == 1;
    if (raw.ndim() == 0 && broadcast) {
        Doubles scalar = Doubles::ensure(raw);
        Doubles filled(n);
        double* out = filled.mutable_data();
        for (py::ssize_t i = 0; i < n; ++i) out[i] = *scalar.data();
        return filled;
    }
    if (!((raw.ndim() == 1 && raw.shape(0) == n) || column)) {
        throw py::value_error(std::string(name) + " must have shape (" + std::to_string(n) + ",)" +
                              (broadcast ? " or be a scalar" : "") + ", not " + shape_text(raw));
    }
    Doubles converted = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(raw);
    return converted.reshape({n});
}

void require_finite(const double* v, std::size_t count, const char* name) {
    for (std::size_t k = 0; k < count; ++k) {
        if (!std::isfinite(v[k])) throw py::value_error(std::string(name) + " must not contain NaN or infinity");
    }
}

// Whether H equals its transpose exactly (H finite).
bool is_symmetric(const double* H, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = j + 1; i < n; ++i) {
            if (H[i + j * n] != H[j + i * n]) return false;
        }
    }
    return true;
}

py::tuple solve(const py::object& H_in, const py::object& f_in, const py::object& lower_in,
                const py::object& upper_in, const py::object& x0_in, const std::string& method,
                long long max_newton_steps) {
    kelpie_options options = KELPIE_OPTIONS_INIT;
    if (method == "accelerated") {
        options.method = KELPIE_METHOD_ACCELERATED;
    } else if (method != "described") {
        throw py::value_error("method must be 'described' or 'accelerated', not '" + method + "'");
    }
    if (max_newton_steps < 0) throw py::value_error("max_newton_steps must be a positive whole number or None");
    options.max_newton_steps = max_newton_steps;
    py::array H_raw = real_array(H_in, "H");
    if (H_raw.ndim() != 2 || H_raw.shape(0) != H_raw.shape(1)) {
        throw py::value_error("H must be a square matrix, not of shape " + shape_text(H_raw));
    }
    const py::ssize_t n = H_raw.shape(0);
    if (n > std::numeric_limits<int>::max()) throw py::value_error("H has too many rows");
    // A C-ordered H read column by column is H': the symmetrised matrix and
    // the objective are the same, so either order is used without a copy.
    Doubles H = (H_raw.flags() & py::array::c_style) && H_raw.dtype().is(py::dtype::of<double>())
                    ? Doubles::ensure(H_raw)
                    : Doubles(py::array_t<double, py::array::f_style | py::array::forcecast>::ensure(H_raw));
    Doubles f = vector_of(f_in, n, "f", false);
    Doubles lower = lower_in.is_none() ? Doubles(n) : vector_of(lower_in, n, "lower", true);
    Doubles upper = upper_in.is_none() ? Doubles(n) : vector_of(upper_in, n, "upper", true);
    if (lower_in.is_none()) std::fill(lower.mutable_data(), lower.mutable_data() + n, -kInf);
    if (upper_in.is_none()) std::fill(upper.mutable_data(), upper.mutable_data() + n, kInf);
    py::array_t<double> x(n);
    if (x0_in.is_none()) {
        std::fill(x.mutable_data(), x.mutable_data() + n, 0.0);
    } else {
        Doubles x0 = vector_of(x0_in, n, "x0", true);
        std::copy(x0.data(), x0.data() + n, x.mutable_data());
    }

    const std::size_t count = static_cast<std::size_t>(n);
    require_finite(H.data(), count * count, "H");
    require_finite(f.data(), count, "f");
    require_finite(x.data(), count, "x0");
    const double* l = lower.data();
    const double* u = upper.data();
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isnan(l[i]) || l[i] == kInf) throw py::value_error("lower must not contain NaN or +inf");
        if (std::isnan(u[i]) || u[i] == -kInf) throw py::value_error("upper must not contain NaN or -inf");
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (l[i] > u[i]) {
            char text[160];
            std::snprintf(text, sizeof text, "lower must not exceed upper (index %zu: %.17g > %.17g)", i, l[i], u[i]);
            throw py::value_error(text);
        }
    }

    std::unique_ptr<double[], FreeDeleter> symmetrised;
    const double* H_used = H.data();
    if (!is_symmetric(H_used, count)) {
        symmetrised.reset(static_cast<double*>(std::malloc(count * count * sizeof(double))));
        if (!symmetrised) throw std::bad_alloc();
        kelpie::symmetrise(static_cast<int>(n), H_used, symmetrised.get());
        H_used = symmetrised.get();
    }
    py::array_t<double> lambda_lower(n), lambda_upper(n);
    std::fill(lambda_lower.mutable_data(), lambda_lower.mutable_data() + n, 0.0);
    std::fill(lambda_upper.mutable_data(), lambda_upper.mutable_data() + n, 0.0);
    double* x_data = x.mutable_data();
    double* lower_data = lambda_lower.mutable_data();
    double* upper_data = lambda_upper.mutable_data();
    const double* f_data = f.data();
    int result;
    kelpie_info info = KELPIE_INFO_INIT;
    {
        py::gil_scoped_release release;
        result = solve_box_qp_with_options(static_cast<int>(n), H_used, f_data, l, u, x_data, lower_data, upper_data,
                                           &options, &info);
    }
    if (result == KELPIE_OUT_OF_MEMORY) throw std::bad_alloc();
    if (result == KELPIE_INFEASIBLE) throw py::value_error("the bounds admit no point");
    if (result == KELPIE_INVALID_OPTIONS) throw py::value_error("invalid options");
    const double value = n == 0 ? 0.0 : info.objective;
    py::dict details;
    details["passes"] = info.passes;
    details["full_sweeps"] = info.full_sweeps;
    details["newton_steps"] = info.newton_steps;
    details["proximal_steps"] = info.proximal_steps;
    details["first_order_residual"] = n == 0 ? 0.0 : info.first_order_residual;
    details["message"] = info.message != nullptr ? info.message : "";
    return py::make_tuple(x, result, lambda_lower, lambda_upper, value, details);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "kelpie's compiled core: solve_box_qp for numpy arrays.";
    m.def("solve", &solve, py::arg("H"), py::arg("f"), py::arg("lower"), py::arg("upper"), py::arg("x0"),
          py::arg("method"), py::arg("max_newton_steps"),
          "Checks and converts the arguments, solves, and returns (x, status, lambda_lower, lambda_upper, "
          "objective, info).");
    m.attr("CONVERGED") = static_cast<int>(KELPIE_CONVERGED);
    m.attr("ITERATION_LIMIT") = static_cast<int>(KELPIE_ITERATION_LIMIT);
    m.attr("OUT_OF_MEMORY") = static_cast<int>(KELPIE_OUT_OF_MEMORY);
    m.attr("INFEASIBLE") = static_cast<int>(KELPIE_INFEASIBLE);
    m.attr("UNBOUNDED") = static_cast<int>(KELPIE_UNBOUNDED);
}
