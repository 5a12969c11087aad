/* Solves a small bounded least-squares problem with the C interface:
 * minimise 1/2 x'Hx + f'x with 0 <= x <= 1. Build: see README. */
#include <math.h>
#include <stdio.h>

#include "box_qp.h"

int main(void) {
    /* H = A'A and f = -A'b for A = [1 2 0; 0 1 1; 1 0 1; 2 1 1], b = (4, -1, 1, 3). */
    const double H[9] = {6, 4, 3, 4, 6, 2, 3, 2, 3}; /* column-major, symmetric */
    const double f[3] = {-11, -10, -3};
    const double lower[3] = {0, 0, 0};
    const double upper[3] = {1, 1, INFINITY}; /* x3 has no upper bound */
    double x[3] = {0, 0, 0};                  /* starting point */
    double lambda_lower[3] = {0, 0, 0};       /* must be zero on entry */
    double lambda_upper[3] = {0, 0, 0};

    int result = solve_box_qp(3, H, f, lower, upper, x, lambda_lower, lambda_upper);

    printf("result %d\n", result);
    for (int i = 0; i < 3; ++i) {
        printf("x[%d] = %8.5f   lambda_lower = %8.5f   lambda_upper = %8.5f\n", i, x[i], lambda_lower[i],
               lambda_upper[i]);
    }
    return result == KELPIE_CONVERGED ? 0 : 1;
}
