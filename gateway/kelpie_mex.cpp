/* kelpie: MEX gateway.
 *
 *   [x, exitflag, lambda] = kelpie(H, f, l, u)
 *   [x, exitflag, lambda] = kelpie(H, f, l, u, display, x0)
 *   [x, exitflag, lambda, info] = kelpie(H, f, l, u, display, x0, options)
 *
 * minimises 1/2 x'Hx + f'x subject to l <= x <= u.
 *
 *   x         n-by-1 solution
 *   exitflag  0 converged, 99 iteration limit, -3 unbounded below
 *   lambda    1-by-1 struct: lambda.lowerbound and lambda.upperbound, the
 *             multipliers of the bounds (n-by-1 each)
 *   info      1-by-1 struct: passes, newtonSteps, firstOrderOptimality,
 *             objective, message
 *   options   [] or a struct with MaxNewtonSteps (a positive whole number)
 *             and Method ('described' or 'accelerated'); x0 may then be []
 *
 * Bad inputs print one message ("ERROR: ...") and return empty outputs; the
 * gateway never raises a MATLAB error. See kelpie.m for the whole help.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "box_qp.h"
#include "gateway_checks.h"
#include "mex.h"

namespace {

constexpr int kMaxOutputs = 4;
constexpr int kMaxInputs = 7;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<double[], FreeDeleter>;

// Zero-filled heap memory for n values; empty on failure.
Buffer zeros(std::size_t count) { return Buffer(static_cast<double*>(std::calloc(count, sizeof(double)))); }

kelpie::InputView view_of(const mxArray* a) {
    kelpie::InputView v;
    v.is_double = mxIsDouble(a);
    v.is_complex = mxIsComplex(a);
    v.is_sparse = mxIsSparse(a);
    // The data first: Octave stores ranges, diagonal and complex matrices
    // lazily, and fetching their data after their sizes loses the size
    // array it allocated for them (16 bytes a call, seen with valgrind).
    v.data = (v.is_double && !v.is_sparse) ? mxGetPr(a) : nullptr;
    v.rows = mxGetM(a);
    v.cols = mxGetN(a);
    return v;
}

// A new 0-by-0 double in every slot the caller provides (at least the first).
void return_empty(int nlhs, mxArray* plhs[]) {
    for (int k = 0; k < (nlhs > 1 ? nlhs : 1) && k < kMaxOutputs; ++k) plhs[k] = mxCreateDoubleMatrix(0, 0, mxREAL);
}

void refuse(const char* message, int nlhs, mxArray* plhs[]) {
    mexPrintf("%s", message);
    return_empty(nlhs, plhs);
}

const char kOutOfMemory[] = "\nERROR: There is not enough memory to solve this problem.\n\n";

// The seventh input: [] for the defaults, else a 1-by-1 struct whose fields
// check_options judges. Returns false with the message in *check.
bool read_options(const mxArray* given, kelpie_options* options, kelpie::CheckResult* check) {
    *options = kelpie_options KELPIE_OPTIONS_INIT;
    if (mxIsEmpty(given) && !mxIsStruct(given)) return true;
    if (!mxIsStruct(given) || mxGetNumberOfElements(given) != 1) {
        check->kind = kelpie::CheckResult::kRefuse;
        std::snprintf(check->message, sizeof check->message, "\nERROR: %s\n\n",
                      "The options must be a 1-by-1 struct (or []).");
        return false;
    }
    constexpr int kMaxFields = 16;
    const int count = mxGetNumberOfFields(given);
    kelpie::OptionField fields[kMaxFields];
    char texts[kMaxFields][32];
    for (int k = 0; k < count && k < kMaxFields; ++k) {
        const mxArray* value = mxGetFieldByNumber(given, 0, k);
        if (value != nullptr) (void)mxGetData(value);  // the data before the sizes (see above)
        fields[k].name = mxGetFieldNameByNumber(given, k);
        fields[k].is_real_double_scalar = value != nullptr && mxIsDouble(value) && !mxIsComplex(value) &&
                                          !mxIsSparse(value) && mxGetNumberOfElements(value) == 1;
        fields[k].number = fields[k].is_real_double_scalar ? mxGetScalar(value) : 0.0;
        fields[k].text = nullptr;
        if (value != nullptr && mxIsChar(value) && mxGetM(value) == 1 &&
            mxGetString(value, texts[k], sizeof texts[k]) == 0) {
            fields[k].text = texts[k];
        }
    }
    int method = 0;
    long long max_newton_steps = 0;
    check->kind = kelpie::CheckResult::kAccept;
    kelpie::check_options(fields, count < kMaxFields ? count : kMaxFields, &method, &max_newton_steps, check);
    if (check->kind == kelpie::CheckResult::kAccept && count > kMaxFields) {
        check->kind = kelpie::CheckResult::kRefuse;
        std::snprintf(check->message, sizeof check->message, "\nERROR: %s\n\n",
                      "The options struct has too many fields (the options are MaxNewtonSteps and Method).");
    }
    options->method = method;
    options->max_newton_steps = max_newton_steps;
    return check->kind == kelpie::CheckResult::kAccept;
}

// The fourth output: what the solve did.
mxArray* info_struct(const kelpie_info& info) {
    const char* names[] = {"passes", "newtonSteps", "firstOrderOptimality", "objective", "message"};
    mxArray* out = mxCreateStructMatrix(1, 1, 5, names);
    mxSetField(out, 0, "passes", mxCreateDoubleScalar(static_cast<double>(info.passes)));
    mxSetField(out, 0, "newtonSteps", mxCreateDoubleScalar(static_cast<double>(info.newton_steps)));
    mxSetField(out, 0, "firstOrderOptimality", mxCreateDoubleScalar(info.first_order_residual));
    mxSetField(out, 0, "objective", mxCreateDoubleScalar(info.objective));
    mxSetField(out, 0, "message", mxCreateString(info.message != nullptr ? info.message : ""));
    return out;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    /* ---- get and check the inputs ---- */
    // The arrays of inputs 1 to 6; the fifth (display) has no effect, and the
    // seventh (options) is read as a struct below. Asking Octave for the
    // sizes of an input whose data was never fetched leaks its size array.
    kelpie::InputView inputs[kMaxInputs] = {};
    for (int k = 0; k < nrhs && k < 6; ++k) {
        if (k != 4) inputs[k] = view_of(prhs[k]);
    }
    kelpie::CheckResult check;
    kelpie::check_inputs(nrhs, inputs, &check);
    kelpie_options options = KELPIE_OPTIONS_INIT;
    if (check.kind == kelpie::CheckResult::kAccept && nrhs >= 7) read_options(prhs[6], &options, &check);
    if (check.kind != kelpie::CheckResult::kAccept) {
        if (check.kind == kelpie::CheckResult::kRefuse) mexPrintf("%s", check.message);
        return_empty(nlhs, plhs);
        return;
    }
    const int n = check.n;
    const std::size_t count = static_cast<std::size_t>(n);

    /* ---- scratch: missing bounds, a symmetric H, multipliers not asked for ---- */
    const double* H = inputs[0].data;
    Buffer symmetric_H, lower_fill, upper_fill, lambda_fill;
    if (!check.symmetric) {
        symmetric_H.reset(static_cast<double*>(std::malloc(count * count * sizeof(double))));
        if (!symmetric_H) return refuse(kOutOfMemory, nlhs, plhs);
        kelpie::symmetrise(n, H, symmetric_H.get());
        H = symmetric_H.get();
    }
    const double* lower = inputs[2].data;
    const double* upper = inputs[3].data;
    if (!check.has_lower || !check.has_upper) {
        lower_fill = zeros(count);
        upper_fill = zeros(count);
        if (!lower_fill || !upper_fill) return refuse(kOutOfMemory, nlhs, plhs);
        for (std::size_t i = 0; i < count; ++i) {
            lower_fill[i] = -std::numeric_limits<double>::infinity();
            upper_fill[i] = std::numeric_limits<double>::infinity();
        }
        if (!check.has_lower) lower = lower_fill.get();
        if (!check.has_upper) upper = upper_fill.get();
    }
    if (nlhs < 3) {
        lambda_fill = zeros(2 * count);
        if (!lambda_fill) return refuse(kOutOfMemory, nlhs, plhs);
    }

    /* ---- create the outputs the caller asked for ---- */
    mxArray* x_out = mxCreateDoubleMatrix(n, 1, mxREAL);
    double* x = mxGetPr(x_out);
    if (check.has_start) std::memcpy(x, inputs[5].data, count * sizeof(double));
    mxArray* lambda_out = nullptr;
    double* lambda_lower = lambda_fill.get();
    double* lambda_upper = lambda_fill.get() + (lambda_fill ? count : 0);
    if (nlhs >= 3) {
        lambda_out = mxCreateStructMatrix(1, 1, 0, nullptr);
        mxArray* lower_field = mxCreateDoubleMatrix(n, 1, mxREAL);
        mxArray* upper_field = mxCreateDoubleMatrix(n, 1, mxREAL);
        mxAddField(lambda_out, "lowerbound");
        mxSetField(lambda_out, 0, "lowerbound", lower_field);
        mxAddField(lambda_out, "upperbound");
        mxSetField(lambda_out, 0, "upperbound", upper_field);
        lambda_lower = mxGetPr(lower_field);
        lambda_upper = mxGetPr(upper_field);
    }

    /* ---- solve ---- */
    // Calls without options or info are the plain solve_box_qp call.
    kelpie_info info = KELPIE_INFO_INIT;
    const bool extended = nrhs >= 7 || nlhs >= 4;
    const int result = extended ? solve_box_qp_with_options(n, H, inputs[1].data, lower, upper, x, lambda_lower,
                                                            lambda_upper, &options, &info)
                                : solve_box_qp(n, H, inputs[1].data, lower, upper, x, lambda_lower, lambda_upper);
    if (result == KELPIE_OUT_OF_MEMORY || result == KELPIE_INFEASIBLE) {
        mxDestroyArray(x_out);
        if (lambda_out != nullptr) mxDestroyArray(lambda_out);
        return refuse(result == KELPIE_OUT_OF_MEMORY ? kOutOfMemory
                                                     : "\nERROR: The bounds l and u admit no point.\n\n",
                      nlhs, plhs);
    }

    /* ---- hand the outputs to the caller ---- */
    plhs[0] = x_out;
    if (nlhs >= 2) {
        plhs[1] = mxCreateDoubleMatrix(1, 1, mxREAL);
        *mxGetPr(plhs[1]) = static_cast<double>(result);
    }
    if (nlhs >= 3) plhs[2] = lambda_out;
    if (nlhs >= 4) plhs[3] = info_struct(info);
}
