// Eigenvalues and eigenvectors of a real symmetric matrix by cyclic Jacobi
// rotations.
//
// A rotation P in the (p, q) plane, with c = cos φ and s = sin φ chosen so that
// (PᵀAP)(p, q) = 0, replaces A by PᵀAP and V by V·P; when every off-diagonal
// element is zero, A = V·diag(d)·Vᵀ. With θ = cot 2φ = (a_qq - a_pp) / (2·a_pq),
// t = tan φ is the smaller root of t² + 2tθ - 1 = 0:
//
//   t = sgn θ / (|θ| + √(1 + θ²)),   c = 1 / √(1 + t²),   s = t·c,   τ = s / (1 + c),
//
// and a_pp, a_qq change by -t·a_pq and +t·a_pq. Every other pair (x, y) of
// rows or columns p and q is rotated as x ← x - s·(y + x·τ), y ← y + s·(x - y·τ),
// which adds small corrections to the old values rather than forming c·x - s·y.
//
// Storage contract: a is 1..n × 1..n and only its diagonal and upper triangle
// are read; the upper triangle is driven to zero, the diagonal and the lower
// triangle keep their values, and the current diagonal lives in d. A sweep
// visits every p < q in order. The first three sweeps rotate only elements
// above 0.2·S / n², S the sum of off-diagonal magnitudes; from the fifth sweep
// on, an element negligible beside both its diagonal entries is set to zero
// without rotating. The diagonal updates of a sweep accumulate in z and are
// added at its end to b, the diagonal at its start, which limits rounding.
#include <cmath>

#include "numeric/numeric.h"

namespace lp {

namespace {

void rotate(double& x, double& y, double s, double tau)
{
    const double x0 = x, y0 = y;
    x = x0 - s * (y0 + x0 * tau);
    y = y0 + s * (x0 - y0 * tau);
}

}  // namespace

void jacobi(const dmat& a, int n, const dvec& d, const dmat& v, int& nrot)
{
    dvec b = dvector(1, n);
    dvec z = dvector(1, n);
    for (int p = 1; p <= n; ++p) {
        for (int q = 1; q <= n; ++q) v[p][q] = 0.0;
        v[p][p] = 1.0;
    }
    for (int p = 1; p <= n; ++p) {
        b[p] = a[p][p];
        d[p] = a[p][p];
        z[p] = 0.0;
    }
    nrot = 0;
    const double nn = static_cast<double>(static_cast<long long>(n) * n);

    for (int i = 1; i <= 50; ++i) {
        double sm = 0.0;
        for (int p = 1; p <= n - 1; ++p)
            for (int q = p + 1; q <= n; ++q) sm += std::fabs(a[p][q]);
        if (sm == 0.0) {  // converged: the upper triangle is exactly zero
            dvector_free(z, 1, n);
            dvector_free(b, 1, n);
            return;
        }
        const double threshold = i < 4 ? 0.2 * sm / nn : 0.0;

        for (int p = 1; p <= n - 1; ++p) {
            for (int q = p + 1; q <= n; ++q) {
                const double g = 100.0 * std::fabs(a[p][q]);
                if (i > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
                    a[p][q] = 0.0;
                } else if (std::fabs(a[p][q]) > threshold) {
                    double h = d[q] - d[p];
                    double t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = a[p][q] / h;  // θ so large that t = 1/(2θ) to working precision
                    } else {
                        const double theta = 0.5 * h / a[p][q];
                        t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                        if (theta < 0.0) t = -t;
                    }
                    const double c = 1.0 / std::sqrt(1.0 + t * t);
                    const double s = t * c;
                    const double tau = s / (1.0 + c);
                    h = t * a[p][q];
                    z[p] -= h;
                    z[q] += h;
                    d[p] -= h;
                    d[q] += h;
                    a[p][q] = 0.0;
                    for (int r = 1; r <= p - 1; ++r) rotate(a[r][p], a[r][q], s, tau);
                    for (int r = p + 1; r <= q - 1; ++r) rotate(a[p][r], a[r][q], s, tau);
                    for (int r = q + 1; r <= n; ++r) rotate(a[p][r], a[q][r], s, tau);
                    for (int r = 1; r <= n; ++r) rotate(v[r][p], v[r][q], s, tau);
                    ++nrot;
                }
            }
        }
        for (int p = 1; p <= n; ++p) {
            b[p] += z[p];
            d[p] = b[p];
            z[p] = 0.0;
        }
    }
    numeric_error("Too many iterations in routine JACOBI");
    dvector_free(z, 1, n);
    dvector_free(b, 1, n);
}

}  // namespace lp
