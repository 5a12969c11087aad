// The gateway's input checks, on plain descriptions of MATLAB's arrays, so
// that their order and messages can be tested without a MEX host.
#ifndef KELPIE_GATEWAY_CHECKS_H
#define KELPIE_GATEWAY_CHECKS_H

#include <cstddef>

namespace kelpie {

// What the checks need to know of one input argument.
struct InputView {
    bool is_double;   // double class (sparse or dense)
    bool is_complex;
    bool is_sparse;
    std::size_t rows;
    std::size_t cols;
    const double* data;  // real part, column-major; valid only for dense real doubles
};

struct CheckResult {
    enum Kind { kAccept, kRefuseSilently, kRefuse } kind;
    int n;              // number of variables, when accepted
    bool has_lower;     // false: an empty l, no lower bounds
    bool has_upper;
    bool has_start;     // a sixth input gives the start
    bool symmetric;     // H equals H' exactly
    char message[192];  // the whole text to print, when refused
};

// Checks the inputs in the order a user sees their messages: the count, H
// (empty, sparse, class, square), f, l, u, x0, then the values (NaN and Inf,
// crossed bounds). nrhs is the number of inputs; inputs[k] describes input
// k + 1 (the fifth, display, is never looked at). With seven inputs an x0
// that holds no values means no start (x starts at zero).
void check_inputs(int nrhs, const InputView* inputs, CheckResult* result);

// One field of the options struct (the seventh input), as the MEX file reads it.
struct OptionField {
    const char* name;
    bool is_real_double_scalar;  // a 1-by-1 real double
    double number;               // its value, when it is one
    const char* text;            // its text, when it is a char row vector; else null
};

// The options, checked: each field known, each value allowed. Fills *method
// (KELPIE_METHOD_...) and *max_newton_steps (0: the default); on a refusal
// sets result->kind to kRefuse with the message.
void check_options(const OptionField* fields, int count, int* method, long long* max_newton_steps,
                   CheckResult* result);

// S = (H + H') / 2; a pair that is already equal is copied as it is.
void symmetrise(int n, const double* H, double* S);

}  // namespace kelpie

#endif
