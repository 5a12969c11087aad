#include "grid_problems.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace kelpie_bench {

namespace {

// Adds the quadratic 1/2 weight (v_a - v_b)^2 / h^2 * area of one triangle
// edge to H, for grid points a and b (-1: a boundary point, where v = 0).
void add_edge(NamedProblem* q, int a, int b, double weight) {
    const int n = q->n;
    if (a >= 0) q->H[a + static_cast<size_t>(a) * n] += weight;
    if (b >= 0) q->H[b + static_cast<size_t>(b) * n] += weight;
    if (a >= 0 && b >= 0) {
        q->H[a + static_cast<size_t>(b) * n] -= weight;
        q->H[b + static_cast<size_t>(a) * n] -= weight;
    }
}

// The grid point (i, j), i in 0..nx+1 and j in 0..ny+1, as a variable number,
// or -1 on the boundary.
int point(int nx, int ny, int i, int j) {
    if (i < 1 || i > nx || j < 1 || j > ny) return -1;
    return (i - 1) + (j - 1) * nx;
}

// The quadratic of the grid's triangles: the lower triangle at (i, j) has the
// vertices (i, j), (i+1, j), (i, j+1); the upper one (i, j), (i-1, j),
// (i, j-1). On each, grad v is constant and the term is area * weight/2 *
// |grad v|^2, with area = hx hy / 2 and weight the mean of w_q over its
// vertices (w_q depends on the first coordinate only).
template <typename Weight>
void add_triangles(NamedProblem* q, int nx, int ny, double hx, double hy, Weight w_q) {
    const double area = 0.5 * hx * hy;
    for (int j = 0; j <= ny + 1; ++j) {
        for (int i = 0; i <= nx + 1; ++i) {
            const int here = point(nx, ny, i, j);
            if (i <= nx && j <= ny) {  // lower triangle
                const double weight = (2.0 * w_q(i) + w_q(i + 1)) / 3.0;
                add_edge(q, here, point(nx, ny, i + 1, j), area * weight / (hx * hx));
                add_edge(q, here, point(nx, ny, i, j + 1), area * weight / (hy * hy));
            }
            if (i >= 1 && j >= 1) {  // upper triangle
                const double weight = (2.0 * w_q(i) + w_q(i - 1)) / 3.0;
                add_edge(q, here, point(nx, ny, i - 1, j), area * weight / (hx * hx));
                add_edge(q, here, point(nx, ny, i, j - 1), area * weight / (hy * hy));
            }
        }
    }
}

NamedProblem empty_grid(const std::string& name, int nx, int ny) {
    const int n = nx * ny;
    return NamedProblem{name, n, std::vector<double>(static_cast<size_t>(n) * n, 0.0), std::vector<double>(n, 0.0),
                        std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
}

}  // namespace

NamedProblem torsion(int nx, int ny, double c) {
    const double hx = 1.0 / (nx + 1), hy = 1.0 / (ny + 1);
    char name[64];
    std::snprintf(name, sizeof name, "torsion c=%g", c);
    NamedProblem q = empty_grid(name, nx, ny);
    add_triangles(&q, nx, ny, hx, hy, [](int) { return 1.0; });
    for (int j = 1; j <= ny; ++j) {
        for (int i = 1; i <= nx; ++i) {
            const int k = point(nx, ny, i, j);
            // Each point is a vertex of six triangles of area hx hy / 2, and
            // carries a third of each one's integral of v.
            q.f[k] = -c * hx * hy;
            const double dist = std::min(std::min(i, nx + 1 - i) * hx, std::min(j, ny + 1 - j) * hy);
            q.lower[k] = -dist;
            q.upper[k] = dist;
        }
    }
    return q;
}

NamedProblem journal_bearing(int nx, int ny, double b, double eps) {
    const double pi = std::acos(-1.0);
    const double hx = 2.0 * pi / (nx + 1), hy = 2.0 * b / (ny + 1);
    NamedProblem q = empty_grid("journal bearing", nx, ny);
    add_triangles(&q, nx, ny, hx, hy, [&](int i) { return std::pow(1.0 + eps * std::cos(i * hx), 3); });
    for (int j = 1; j <= ny; ++j) {
        for (int i = 1; i <= nx; ++i) {
            const int k = point(nx, ny, i, j);
            q.f[k] = -eps * std::sin(i * hx) * hx * hy;
            q.lower[k] = 0.0;
            q.upper[k] = HUGE_VAL;
        }
    }
    return q;
}

double elastic_torsion_value(double c) {
    // J = (1/3) (1 - 192 / pi^5 sum over odd k of tanh(k pi / 2) / k^5) for
    // the unit square; the solution of -lap v = c has int v = c J / 4, and
    // the minimum is -c/2 int v.
    const double pi = std::acos(-1.0);
    double sum = 0.0;
    for (int k = 1; k < 200; k += 2) sum += std::tanh(k * pi / 2.0) / std::pow(k, 5);
    const double J = (1.0 - 192.0 / std::pow(pi, 5) * sum) / 3.0;
    return -c * c * J / 8.0;
}

}  // namespace kelpie_bench
