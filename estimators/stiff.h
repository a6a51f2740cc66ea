// The local fit of one evaluation point by orthogonal factors instead of the
// normal equations, for points whose kernel weights span so many orders of
// magnitude that the moment matrix ZᵀWZ no longer carries the fit.
//
// At such a point the weighted least-squares problem itself is well posed:
// the fit through the few observations nearest the point is determined, and
// the others only perturb it. Forming ZᵀWZ, however, squares the condition of
// the weighted design and drops every contribution below the rounding of the
// heaviest one. Here the rows √w_i·z_i are factored directly: Householder QR
// with column pivoting of the rows sorted by decreasing weight, which is
// row-wise backward stable (Powell and Reid 1969; Cox and Higham 1998), so
// that even an observation with a relative weight of 1e-200 keeps its say.
//
// The weights enter relative to the largest one at the point, through their
// exponents a_i = Σ_k u_k²/2: ω_i = e^(a_min - a_i), so that nothing
// underflows that matters. The solution is that of the same system as the
// normal equations: the three intercept sums over the first nr observations,
// leave-one-out, dummies and the fit of y² for the conditional variance.
//
// A refit is trusted only when a first-order bound of its error, from the
// row-wise backward error of the factorisation and the rounding of the
// weights, is small against the coefficients; otherwise the design is
// numerically rank deficient at this point in the sense that matters here,
// and the point has no trustworthy solution in double precision.
//
// Every operation is +, -, ×, /, sqrt, fabs or lp::expo in a fixed order, so
// a refit gives the same bits on every processor and platform.
#pragma once

#include <cstdint>
#include <memory>

#include "estimators/frame.h"

namespace lp {

class StiffFit {
public:
    // Bytes that take() asks for, in floating point so that no count
    // overflows.
    static double bytes(double n, double p, double B, bool vol);

    // Takes the room for n observations and B design columns, without
    // throwing; false on a shortage.
    bool take(const Args& a, const Layout& lay);

    // Fits evaluation point j of the call. On true, beta[0..B) (and gamma
    // when a.vol is not 0) hold the coefficients of the local fit; on false
    // the point has no trustworthy fit and beta and gamma hold nothing of use.
    bool solve(const Args& a, const Layout& lay, int j, double* beta, double* gamma);

    // After a solve that returned true: b (B values) becomes (ZᵀΩZ)⁻¹b, Ω the
    // relative weights e^(shift() - a_i) of that point, by the factors; all
    // NaN when the intercept sums ran over fewer than n observations, whose
    // system is not that one.
    void apply(double* b) const;
    double shift() const { return amin_; }

private:
    int n = 0, B = 0;
    bool vol = false;
    std::unique_ptr<double[]> block;  // everything below
    std::unique_ptr<int[]> ints;
    double* ex = nullptr;     // n: a_i, the exponent of observation i's weight
    double* A = nullptr;      // n × B: the weighted rows, then their factors
    double* qy = nullptr;     // n: the weighted responses, then Qᵀ of them
    double* qy2 = nullptr;    // n: the same for y² (vol)
    double* rho = nullptr;    // n: the magnitude of each row
    double* small = nullptr;  // O(B²) of vectors and matrices
    int* order = nullptr;     // n: the observations in the order of their rows
    int* start = nullptr;     // n + 1: row g merges order[start[g] .. start[g+1])
    int* perm = nullptr;      // B: the design column in pivot position k
    // The last point solved: its exponent shift, its column scales, and
    // whether its system is the plain one (nr = n).
    double amin_ = 0.0;
    const double* sig_ = nullptr;
    bool plain_ = false;
};

}  // namespace lp
