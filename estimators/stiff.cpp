// The orthogonal refit of a stiff evaluation point (estimators/stiff.h).
//
// Notation: the design Z̄ is the local design with its intercept column 1 in
// every row (the intercept sums over the first nr observations only are the
// rank-one modification below). Row g of the weighted problem is
//
//   â_g = r_g·z̄_g·S,   b̂_g = r_g·y_g,   r_g = √ω_g,   ω_g = e^(a_min - a_g),
//
// S a diagonal of powers of two that brings every column's largest entry
// into [1, 2) (exact, and it makes the pivot order independent of units).
// Observations with the same weight and the same regressors are one row of
// the summed weight and the mean response, which leaves the normal equations
// as they are and keeps exact ties from looking like a rank deficiency.
#include "estimators/stiff.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "estimators/batch.h"

namespace lp {

namespace {

constexpr double unit = 0x1p-53;  // the unit roundoff of double
const double inf = std::numeric_limits<double>::infinity();

// Observations whose relative weight is below e^-708 (< 2^-1022, where
// doubles lose precision) are left out; what they would add lies below the
// rounding of any weight that matters, unless nothing else determines the
// fit, and then the point has no trustworthy solution anyway.
constexpr double weight_span = 708.0;

// A refit is trusted when the bound of its error, relative to the largest
// scaled coefficient, is at most this: a quarter of 1e-9, which leaves room
// for the differences of the conditional variance (gamma_0 - beta_0², ...)
// to stay within 1e-9 of the exact fit.
constexpr double trusted = 2.5e-10;

std::uint64_t bits_of(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// 2^-e for the binary exponent e of m > 0, so that m·2^-e lies in [1, 2);
// e is held within [-1022, 1022], so the factor is a normal number and every
// product with it is exact unless it underflows.
double pow2_inverse(double m)
{
    const int field = static_cast<int>((bits_of(m) >> 52) & 0x7ff);
    int e = field == 0 ? -1022 : field - 1023;
    e = std::min(1022, std::max(-1022, e));
    const std::uint64_t b = static_cast<std::uint64_t>(1023 - e) << 52;
    double f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// The largest |v_i|, NaN when some v_i is NaN.
double largest(const double* v, int len)
{
    double m = 0.0;
    for (int i = 0; i < len; ++i) {
        const double a = std::fabs(v[i]);
        if (a > m) m = a;
        if (a != a) return a;
    }
    return m;
}

// The Euclidean norm of v, summed after an exact scaling by a power of two
// so that no square underflows or overflows.
double norm(const double* v, int len)
{
    const double m = largest(v, len);
    if (!(m > 0.0) || m == inf) return m;
    const double s = pow2_inverse(m);
    double sum = 0.0;
    for (int i = 0; i < len; ++i) {
        const double e = v[i] * s;
        sum = sum + e * e;
    }
    return std::sqrt(sum) / s;
}

// The strict total order of the rows: increasing exponent (decreasing
// weight), then the regressors' bits, then the index; observations with the
// same exponent and regressors are neighbours.
struct RowOrder {
    const double* ex;
    const double* x;
    std::ptrdiff_t n;
    int p;
    bool same(int i, int k) const
    {
        if (ex[i] != ex[k]) return false;
        for (int c = 0; c < p; ++c)
            if (bits_of(x[i + c * n]) != bits_of(x[k + c * n])) return false;
        return true;
    }
    bool operator()(int i, int k) const
    {
        if (ex[i] != ex[k]) return ex[i] < ex[k];
        for (int c = 0; c < p; ++c) {
            const std::uint64_t bi = bits_of(x[i + c * n]), bk = bits_of(x[k + c * n]);
            if (bi != bk) return bi < bk;
        }
        return i < k;
    }
};

// The carved-up scratch of `small`.
struct Small {
    double *t, *z, *sig, *xi, *xi2, *Rt, *w1, *w2, *g, *q;
};

}  // namespace

double StiffFit::bytes(double n, double p, double B, bool vol)
{
    const double doubles = n * (B + 3 + (vol ? 1 : 0)) + B * B + 9 * B + p;
    const double ints = 2 * n + 1 + B;
    return doubles * sizeof(double) + ints * sizeof(int);
}

bool StiffFit::take(const Args& a, const Layout& lay)
{
    n = a.n;
    B = lay.size();
    vol = a.vol != 0;
    const std::size_t N = static_cast<std::size_t>(n), b = static_cast<std::size_t>(B);
    const std::size_t doubles = N * (b + 3 + (vol ? 1 : 0)) + b * b + 9 * b + static_cast<std::size_t>(a.p);
    block.reset(new (std::nothrow) double[doubles]);
    ints.reset(new (std::nothrow) int[2 * N + 1 + b]);
    if (!block || !ints) return false;
    double* d = block.get();
    ex = d;
    d += N;
    A = d;
    d += N * b;
    qy = d;
    d += N;
    qy2 = vol ? d : nullptr;
    d += vol ? N : 0;
    rho = d;
    d += N;
    small = d;
    order = ints.get();
    start = order + N;
    perm = start + N + 1;
    return true;
}

bool StiffFit::solve(const Args& a, const Layout& lay, int j, double* beta, double* gamma)
{
    const std::ptrdiff_t ld = n, m = a.m;
    const int p = a.p, pc = a.pc;
    const double* x = a.x;
    const double* y = a.y;
    Small s;
    {
        double* d = small;
        s.t = d, d += p;
        s.z = d, d += B;
        s.sig = d, d += B;
        s.xi = d, d += B;
        s.xi2 = d, d += B;
        s.w1 = d, d += B;
        s.w2 = d, d += B;
        s.g = d, d += B;
        s.q = d, d += B;
        s.Rt = d;  // B × B: the inverse of the unit triangle
    }
    for (int k = 0; k < pc; ++k) s.t[k] = a.t[j + k * m];
    const std::int64_t loo = a.nloo == 1 ? static_cast<std::int64_t>(a.loo_base) + j : -1;

    // Exponents a_i = Σ_k u_k²/2 with u_k = (x_ik - t_k)/h_k as the kernel
    // forms them. A NaN weight leaves the local fit undefined; an infinite
    // exponent is a weight of exactly zero.
    double amin = inf;
    for (int i = 0; i < n; ++i) {
        if (i == loo) {
            ex[i] = inf;
            continue;
        }
        double e = 0.0;
        for (int k = 0; k < pc; ++k) {
            const double u = (x[i + k * ld] - s.t[k]) / a.h[k];
            e = e + (u * u) * 0.5;
        }
        if (e != e) return false;
        ex[i] = e;
        if (e < amin) amin = e;
    }
    if (!(amin < inf)) return false;
    int count = 0;
    for (int i = 0; i < n; ++i)
        if (ex[i] - amin <= weight_span) order[count++] = i;
    const RowOrder less{ex, x, ld, p};
    std::sort(order, order + count, less);
    int rows = 0;
    start[0] = 0;
    for (int q = 0; q < count;) {
        int e = q + 1;
        while (e < count && less.same(order[q], order[e])) ++e;
        start[++rows] = e;
        q = e;
    }
    if (rows < B) return false;

    // Row g: the design row of its first observation, the factor r = √(k·ω)
    // of its k observations and their mean responses.
    const auto row = [&](int g, double* z, double& r, double& yb, double& y2b) {
        const int first = start[g], k = start[g + 1] - first, i = order[first];
        r = expo((amin - ex[i]) * 0.5);
        if (k > 1) r = r * std::sqrt(static_cast<double>(k));
        z[0] = 1.0;
        for (int c = 1; c <= p; ++c) {
            const Column& col = lay[c];
            z[c] = col.kind == Kind::slope ? x[i + col.a * ld] - s.t[col.a] : x[i + col.a * ld];
        }
        for (int c = p + 1; c < B; ++c) z[c] = z[lay[c].a] * z[lay[c].b];
        double sy = 0.0, sy2 = 0.0;
        for (int q = first; q < first + k; ++q) {
            const double v = y[order[q]];
            sy = sy + v;
            sy2 = sy2 + v * v;
        }
        yb = sy / k;
        y2b = sy2 / k;
    };
    for (int g = 0; g < rows; ++g) {
        double r, yb, y2b;
        row(g, s.z, r, yb, y2b);
        bool finite = std::isfinite(yb) && (!vol || std::isfinite(y2b));
        for (int c = 0; c < B; ++c) {
            A[g + c * ld] = r * s.z[c];
            finite = finite && std::isfinite(s.z[c]);
        }
        if (!finite) return false;
        qy[g] = r * yb;
        if (vol) qy2[g] = r * y2b;
    }

    // Column scaling by powers of two; a column without a nonzero entry
    // leaves the fit undetermined.
    for (int c = 0; c < B; ++c) {
        double* col = A + c * ld;
        const double top = largest(col, rows);
        if (!(top > 0.0)) return false;
        s.sig[c] = pow2_inverse(top);
        for (int g = 0; g < rows; ++g) col[g] = col[g] * s.sig[c];
        perm[c] = c;
    }

    // rho_g: the magnitude of row g, its largest scaled entry. The rounding
    // of the design entries and of the Householder steps perturbs each row
    // by about eta times its magnitude (row-wise backward stability).
    const double eta = 4.0 * (B + 2) * unit;
    for (int g = 0; g < rows; ++g) {
        double top = 0.0;
        for (int c = 0; c < B; ++c) top = std::max(top, std::fabs(A[g + c * ld]));
        rho[g] = top;
    }

    // Householder QR with column pivoting. At step k the rows k.. determine
    // the pivot direction: its column norm mu_k there stands against their
    // size sqrt(Σ_(g>=k) rho_g²), so that a light observation that alone
    // fixes a direction counts at its own scale, not at the heaviest row's.
    double level = 0.0;  // max over k of sqrt(Σ_(g>=k) rho_g²) / mu_k
    double curve = 0.0;  // max over k of sqrt(Σ_(g>=k) rho_g²) / mu_k²
    for (int k = 0; k < B; ++k) {
        int piv = k;
        double best = -1.0;
        for (int c = k; c < B; ++c) {
            const double v = norm(A + c * ld + k, rows - k);
            if (v > best) {
                best = v;
                piv = c;
            }
        }
        if (!(best > 0.0) || best == inf) return false;
        if (piv != k) {
            double* u = A + k * ld;
            double* v = A + piv * ld;
            for (int g = 0; g < rows; ++g) std::swap(u[g], v[g]);
            std::swap(s.sig[k], s.sig[piv]);
            std::swap(perm[k], perm[piv]);
        }
        {
            const double scale = pow2_inverse(largest(rho + k, rows - k));
            double size = 0.0;
            for (int g = k; g < rows; ++g) {
                const double v = rho[g] * scale;
                size = size + v * v;
            }
            level = std::max(level, std::sqrt(size) / (best * scale));
            curve = std::max(curve, (std::sqrt(size) / (best * scale)) / best);
        }

        // The reflector H = I - tau·v·vᵀ, v = (1, col[k+1..]/(alpha - beta)),
        // that maps column k onto beta·e_k.
        double* col = A + k * ld;
        const double alpha = col[k];
        const double rest = norm(col + k + 1, rows - k - 1);
        double tau = 0.0;
        if (rest > 0.0) {
            const double pair[2] = {alpha, rest};
            const double len = norm(pair, 2);
            const double bet = alpha >= 0.0 ? -len : len;
            tau = (bet - alpha) / bet;
            const double d = alpha - bet;
            for (int g = k + 1; g < rows; ++g) col[g] = col[g] / d;
            col[k] = bet;
        }
        const auto reflect = [&](double* v) {
            double w = v[k];
            for (int g = k + 1; g < rows; ++g) w = w + col[g] * v[g];
            const double tw = tau * w;
            v[k] = v[k] - tw;
            for (int g = k + 1; g < rows; ++g) v[g] = v[g] - tw * col[g];
        };
        if (tau != 0.0) {
            for (int c = k + 1; c < B; ++c) reflect(A + c * ld);
            reflect(qy);
            if (vol) reflect(qy2);
        }
    }

    // R is the upper triangle of A. The unit triangle U = diag(R)⁻¹·R and its
    // inverse Rt bound how the levels' errors mix in back substitution.
    const auto R = [&](int r, int c) { return A[r + c * ld]; };
    for (int c = 0; c < B; ++c) {
        for (int r = B - 1; r >= 0; --r) {
            double v;
            if (r > c) {
                v = 0.0;
            } else if (r == c) {
                v = 1.0;
            } else {
                v = 0.0;
                for (int l = r + 1; l <= c; ++l) v = v - (R(r, l) / R(r, r)) * s.Rt[l + c * B];
            }
            s.Rt[r + c * B] = v;
        }
    }
    double mix = 0.0;  // ‖U⁻¹‖∞
    for (int r = 0; r < B; ++r) {
        double sum = 0.0;
        for (int c = 0; c < B; ++c) sum = sum + std::fabs(s.Rt[r + c * B]);
        mix = std::max(mix, sum);
    }

    // Back substitution: xi = R⁻¹·(Qᵀb̂)_(0..B).
    const auto back = [&](const double* rhs, double* out) {
        for (int k = B - 1; k >= 0; --k) {
            double v = rhs[k];
            for (int c = k + 1; c < B; ++c) v = v - R(k, c) * out[c];
            out[k] = v / R(k, k);
        }
    };
    back(qy, s.xi);
    if (vol) back(qy2, s.xi2);

    // The weights' own rounding: the relative error of omega_g is at most
    // delta_g = (5 + pc)·u·(a_g + a_min) + 2u, from the roundings of the
    // exponents and of expo. To first order it moves the solution by
    // delta_g·G⁻¹·â_g·res_g (G = RᵀR, res_g the residual of row g), which
    // stays small where the weighted fit is well posed however stiff it is.
    // wt and wt2 collect the bound per coefficient; the residuals are those
    // of the plain least-squares fits.
    double* wt = s.w1;
    double* wt2 = s.w2;
    for (int k = 0; k < B; ++k) wt[k] = wt2[k] = 0.0;
    for (int g = 0; g < rows; ++g) {
        double r, yb, y2b;
        row(g, s.z, r, yb, y2b);
        double* ah = s.q;
        double res = r * yb, res2 = r * y2b;
        for (int k = 0; k < B; ++k) {
            ah[k] = (r * s.z[perm[k]]) * s.sig[k];
            res = res - ah[k] * s.xi[k];
            if (vol) res2 = res2 - ah[k] * s.xi2[k];
        }
        // G⁻¹·â_g by two triangular solves, in place.
        for (int k = 0; k < B; ++k) {
            double v = ah[k];
            for (int l = 0; l < k; ++l) v = v - R(l, k) * ah[l];
            ah[k] = v / R(k, k);
        }
        for (int k = B - 1; k >= 0; --k) {
            double v = ah[k];
            for (int c = k + 1; c < B; ++c) v = v - R(k, c) * ah[c];
            ah[k] = v / R(k, k);
        }
        const int i = order[start[g]];
        const double delta = (5 + pc) * unit * (ex[i] + amin) + 2 * unit;
        for (int k = 0; k < B; ++k) {
            wt[k] = wt[k] + (delta * std::fabs(ah[k])) * std::fabs(res);
            if (vol) wt2[k] = wt2[k] + (delta * std::fabs(ah[k])) * std::fabs(res2);
        }
    }
    double grow = 1.0;

    // Intercept sums over the first nr observations: the system is
    // Z̄ᵀWZ̄ - s·e0e0ᵀ with right-hand side Z̄ᵀWy - c·e0, s and c the weight
    // and weighted response of observations nr.. . By Sherman and Morrison
    // its solution is beta + (c/s - beta_0)/(u_0 - 1/s)·u, u = (Z̄ᵀWZ̄)⁻¹e0,
    // u_0 its first entry; the difference u_0 - 1/s cancels when the
    // modified matrix is close to singular, which multiplies the bound.
    if (a.nr < n) {
        double sw = 0.0, sy = 0.0, sy2 = 0.0;
        for (int i = a.nr; i < n; ++i) {
            if (!(ex[i] - amin <= weight_span)) continue;
            const double w = expo(amin - ex[i]);
            sw = sw + w;
            sy = sy + w * y[i];
            sy2 = sy2 + (w * y[i]) * y[i];
        }
        if (sw > 0.0) {
            // In the scaled, pivoted coordinates e0 is sig_0·e_k0; with
            // q = R⁻ᵀe_k0 scaled by P to unit size and ĝ = R⁻¹q,
            // u = sig_0·ĝ/P and u_0 = sig_0²·|q|²/P².
            int k0 = 0;
            while (perm[k0] != 0) ++k0;
            const double sig0 = s.sig[k0];
            for (int k = 0; k < B; ++k) {
                double v = k == k0 ? 1.0 : 0.0;
                for (int l = 0; l < k; ++l) v = v - R(l, k) * s.q[l];
                s.q[k] = v / R(k, k);
            }
            const double top = largest(s.q, B);
            if (!(top > 0.0) || top == inf) return false;
            const double P = pow2_inverse(top);
            double qq = 0.0;
            for (int k = 0; k < B; ++k) {
                s.q[k] = s.q[k] * P;
                qq = qq + s.q[k] * s.q[k];
            }
            back(s.q, s.g);
            // Coefficient of ĝ: (c/s - beta_0)/(sig_0·|q|²/P - P/(sig_0·s)).
            const double t1 = (sig0 * qq) / P, t2 = P / (sig0 * sw);
            const double den = t1 - t2;
            const double cancel = std::max(t1, t2) / std::fabs(den);
            const auto modify = [&](double* xi, double mean) {
                const double b0 = sig0 * xi[k0];
                const double f = (mean - b0) / den;
                for (int k = 0; k < B; ++k) xi[k] = xi[k] + f * s.g[k];
            };
            modify(s.xi, sy / sw);
            if (vol) modify(s.xi2, sy2 / sw);
            grow = 1.0 + cancel;
        }
    }

    // Trusted: every coefficient finite and the error bound small against
    // the largest scaled coefficient. The bound, to first order in the rows'
    // noise: eta at the level where it weighs most, carried through the back
    // substitution (‖U⁻¹‖), acting on the coefficients; u·size/mu² of a
    // level acting on the residual |Qᵀb̂| beyond the first B rows (the term
    // of least-squares perturbation theory that squares the condition; with
    // u rather than eta, since the factorisation's rounding does not line up
    // with it: fits far outside the data keep within it with u); and the
    // weights' rounding. All grown by the cancellation of the intercept
    // modification. (A zero fit of zero responses has no error.)
    const auto accept = [&](const double* xi, const double* qb, const double* w) {
        double top = 0.0, wmax = 0.0;
        for (int k = 0; k < B; ++k) {
            if (!std::isfinite(xi[k])) return false;
            top = std::max(top, std::fabs(xi[k]));
            wmax = std::max(wmax, w[k]);
        }
        const double residual = norm(qb + B, rows - B);
        const double bound = grow * (mix * eta * level * top + (mix * mix) * unit * curve * residual + wmax);
        return bound <= trusted * top;
    };
    const bool ok = accept(s.xi, qy, wt) && (!vol || accept(s.xi2, qy2, wt2));
    for (int k = 0; k < B; ++k) {
        beta[perm[k]] = s.sig[k] * s.xi[k];
        if (vol) gamma[perm[k]] = s.sig[k] * s.xi2[k];
    }
    amin_ = amin;
    sig_ = s.sig;
    plain_ = a.nr >= n;
    return ok;
}

void StiffFit::apply(double* b) const
{
    // (ZᵀΩZ)⁻¹ = P·S·(RᵀR)⁻¹·S·Pᵀ, S the column scales and P the pivoting:
    // c_k = sig_k·b_perm(k), Rᵀd = c, Re = d, x_perm(k) = sig_k·e_k.
    if (!plain_) {
        for (int c = 0; c < B; ++c) b[c] = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    double* e = small;  // the room of the point's coordinates and rows, free after solve
    const std::ptrdiff_t ld = n;
    const auto R = [&](int r, int c) { return A[r + c * ld]; };
    for (int k = 0; k < B; ++k) {
        double v = sig_[k] * b[perm[k]];
        for (int l = 0; l < k; ++l) v = v - R(l, k) * e[l];
        e[k] = v / R(k, k);
    }
    for (int k = B - 1; k >= 0; --k) {
        double v = e[k];
        for (int c = k + 1; c < B; ++c) v = v - R(k, c) * e[c];
        e[k] = v / R(k, k);
    }
    for (int k = 0; k < B; ++k) b[perm[k]] = sig_[k] * e[k];
}

}  // namespace lp
