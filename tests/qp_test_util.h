// Problem generators and independent checks for the solver tests.
#ifndef KELPIE_QP_TEST_UTIL_H
#define KELPIE_QP_TEST_UTIL_H

#include <random>
#include <string>
#include <vector>

namespace kelpie_test {

struct Qp {
    int n = 0;
    std::vector<double> H, f, lower, upper, x0;
};

struct Solution {
    int result = 0;
    std::vector<double> x, lambda_lower, lambda_upper;
};

// Runs solve_box_qp from q.x0 with zeroed multipliers.
Solution solve(const Qp& q);
// The same with every entering variable added to the factor on its own
// (the reference for the batched additions: the same bits).
Solution solve_one_at_a_time(const Qp& q);

// H = Q diag(lambda) Q' with eigenvalues spread log-uniformly over [1, cond].
std::vector<double> random_spd(int n, double cond, std::mt19937_64& rng);
// H = A'A with A of rows x n entries from N(0, 1).
std::vector<double> random_gram(int rows, int n, std::mt19937_64& rng, std::vector<double>* A);
// Symmetric with entries from N(0, 1): indefinite.
std::vector<double> random_symmetric(int n, std::mt19937_64& rng);
// H = random_spd(n, cond), f from `normal`, lower <= x <= upper, x0 = 0.
Qp definite_problem(int n, double cond, double lower, double upper, std::mt19937_64& rng,
                    std::normal_distribution<double>& normal);
// f = -A'b for A of rows x n (column-major), each f_j summed in row order:
// the linear term of 1/2 |Ax - b|^2 with H = A'A.
std::vector<double> least_squares_linear_term(const std::vector<double>& A, int rows, int n,
                                              const std::vector<double>& b);
// H = random_symmetric(n), f from `normal`, -1 <= x <= 1, x0 = 0.
Qp nonconvex_problem(int n, std::mt19937_64& rng, std::normal_distribution<double>& normal);

std::vector<double> gradient(const Qp& q, const std::vector<double>& x);
double objective(const Qp& q, const std::vector<double>& x);
// The documented optimality test, computed here on its own: the largest
// entry of the projected gradient, each over the size of the terms of its
// row, |f_i| + sum_j |H_ij x_j|.
double documented_residual(const Qp& q, const std::vector<double>& x);
// Result 0 at a point in the box that passes the documented test, with
// multipliers as documented: non-negative, at most one side non-zero (the
// side follows the sign of g, so a rounding-sized entry of the wrong sign may
// sit on the other side), zero strictly inside the box, and carrying the
// gradient to the rounding of its terms (the scale of the documented test,
// so that ill-conditioned rows are judged fairly). Reports through gtest.
void expect_solution(const Qp& q, const Solution& s, const std::string& what);
// max_i |x_i - clip(x_i - g_i)| / max(1, max |g|).
double kkt_residual(const Qp& q, const std::vector<double>& x);
// Projected gradient with step 1/||H||, run until x stops changing: an
// independent reference for convex problems of small n.
std::vector<double> projected_gradient(const Qp& q, int max_iterations);

}  // namespace kelpie_test

#endif
