// The fitting engine shared by all estimators.
//
// At evaluation point t_j it solves the kernel-weighted least-squares problem
// of the local design Z (one row per observation, one column per layout
// entry) through its normal equations:
//
//   ZWZ = Zᵀ W Z,   ZWy = Zᵀ W y,   ZWy2 = Zᵀ W y²,   W = diag(w),
//   beta = ZWZ⁻¹ ZWy,   gamma = ZWZ⁻¹ ZWy2,
//
// except that the three intercept sums ZWZ(0,0), ZWy(0) and ZWy2(0) run over
// the first nr observations only. Every sum adds its terms in increasing
// observation order; the engine walks the observations once and updates all
// sums of an observation together, which keeps that order for each of them.
// Each product is formed as (Z(i,a)·w_i)·Z(i,b), and s = (Z(i,c)·w_i)·y_i for
// the right-hand sides, so results are reproducible bit for bit.
//
// gamma estimates E[y²|t]; the conditional variance Var[y|t] = E[y²|t] -
// E[y|t]² and its derivatives follow column by column from the layout:
//   level          gamma_0 - beta_0²
//   first order    gamma_c - 2·beta_0·beta_c
//   square of a    2·gamma_c - 4·beta_c·beta_0 - 2·beta_a²
//   cube, cross    gamma_c as the fit gives it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "estimators/frame.h"
#include "matrix/Matrix"

namespace lp {

namespace {

const char loo_refusal[] =
    "You cannot use leave one out (nloo=1) since you do not compute\n"
    "the function at the observed values\n";
const char dummy_warning[] =
    "WARNING: The estimation of the\n"
    "cond. volatility function is not\n"
    "checked if the regressor matrix\n"
    "contains dummies \n";

// An owned array of doubles from the free store, null when it cannot be had.
std::unique_ptr<double[]> scratch(int count)
{
    return std::unique_ptr<double[]>(new (std::nothrow) double[count > 0 ? count : 1]);
}

// Everything one call works in, taken once before any output is written.
struct Work {
    explicit Work(const Args& a, int B)
        : u(scratch(a.pc)), centre(scratch(a.pc)), w(scratch(a.n)), z(scratch(B)), ZWZ(B, B, std::nothrow),
          ZWy(B, 1, std::nothrow), ZWy2(B, 1, std::nothrow), Q(1), beta(1), gamma(1)
    {
    }
    bool complete() const { return u && centre && w && z && !ZWZ.empty() && !ZWy.empty() && !ZWy2.empty(); }

    std::unique_ptr<double[]> u;       // scaled differences (x_i - t_j)/h of one observation
    std::unique_ptr<double[]> centre;  // the continuous coordinates of the evaluation point
    std::unique_ptr<double[]> w;  // kernel weights of all observations at the point
    std::unique_ptr<double[]> z;  // the design row Z(i, ·) of one observation
    Matrix ZWZ, ZWy, ZWy2;        // moments of the point; ZWZ becomes invZWZ
    Matrix Q, beta, gamma;        // check product ZWZ·invZWZ and the two fits
};

// Sums the moments ZWZ, ZWy and, when asked, ZWy2 of point j from the weights.
void moments(const Args& a, const Layout& lay, int j, bool second, Work& k)
{
    const int B = lay.size(), p = a.p, pc = a.pc;
    const std::ptrdiff_t n = a.n;
    double* __restrict S = k.ZWZ.elem_ptr(0);  // summed into the lower triangle, mirrored below
    double* __restrict Sy = k.ZWy.elem_ptr(0);
    double* __restrict Sy2 = k.ZWy2.elem_ptr(0);
    double* __restrict z = k.z.get();
    double* __restrict centre = k.centre.get();
    const double* __restrict w = k.w.get();
    const double* __restrict x = a.x;
    const double* __restrict y = a.y;
    std::fill(S, S + static_cast<std::ptrdiff_t>(B) * B, 0.0);
    std::fill(Sy, Sy + B, 0.0);
    std::fill(Sy2, Sy2 + B, 0.0);
    for (int r = 0; r < pc; ++r) centre[r] = a.t[j + static_cast<std::ptrdiff_t>(r) * a.m];

    z[0] = 1.0;
    for (int i = 0; i < a.n; ++i) {
        const double wi = w[i], yi = y[i];

        // Design row of observation i at point j: the centred continuous
        // regressors, the dummies, then each higher column as the product of
        // two earlier ones.
        for (int r = 0; r < pc; ++r) z[1 + r] = x[i + r * n] - centre[r];
        for (int r = pc; r < p; ++r) z[1 + r] = x[i + r * n];
        for (int c = p + 1; c < B; ++c) z[c] = z[lay[c].a] * z[lay[c].b];

        // Intercept sums over the first nr observations.
        if (i < a.nr) {
            S[0] += wi;
            const double s = (z[0] * wi) * yi;
            Sy[0] += s;
            if (second) Sy2[0] += s * yi;
        }
        // All other sums over every observation.
        for (int c = 1; c < B; ++c) {
            const double zw = z[c] * wi;
            const double s = zw * yi;
            Sy[c] += s;
            if (second) Sy2[c] += s * yi;
            double* __restrict Sc = S + static_cast<std::ptrdiff_t>(c) * B;  // column c: ZWZ(b, c), b >= c
            S[c] += zw;                                                       // ZWZ(c, 0)
            for (int b = c; b < B; ++b) Sc[b] += zw * z[b];
        }
    }

    // Mirror the lower triangle into the upper one.
    for (int c = 0; c < B; ++c)
        for (int b = c + 1; b < B; ++b)
            S[c + static_cast<std::ptrdiff_t>(b) * B] = S[b + static_cast<std::ptrdiff_t>(c) * B];
}

// Replaces ZWZ by its inverse and returns S = |sum of the off-diagonal entries
// of ZWZ·invZWZ|, 0 for an exact inverse. NaN when the inverse is not finite.
double invert_and_check(Work& k)
{
    k.Q = k.ZWZ;
    k.ZWZ.inverse();
    k.Q.mult(k.ZWZ);
    const int B = k.Q.get_rows();
    double S = 0.0;
    for (int r = 0; r < B; ++r)
        for (int c = r + 1; c < B; ++c) S = (k.Q(r, c) + k.Q(c, r)) + S;
    return std::fabs(S);
}

// Writes the outputs of point j from beta and, when vol is not 0, gamma.
void store(const Args& a, const Layout& lay, int j, const Work& k)
{
    const double* beta = k.beta.elem_ptr(0);
    const double* gamma = k.gamma.elem_ptr(0);
    const double n = a.n, nr = a.nr;
    const double b0 = beta[0];
    for (int c = 0; c < lay.size(); ++c) {
        const Column& col = lay[c];
        const double b = beta[c];
        double level = 0.0, var = 0.0;
        switch (col.kind) {
        case Kind::intercept:
            level = (n * b) / nr;
            if (a.vol != 0) var = gamma[c] - b0 * b0;
            break;
        case Kind::slope:
        case Kind::dummy:
            level = (n * b) / nr;
            if (a.vol != 0) var = gamma[c] - (2 * b0) * b;
            break;
        case Kind::square:
            level = 2 * b;
            if (a.vol != 0) var = (2 * gamma[c] - (2 * b * 2) * b0) - (2 * beta[col.a]) * beta[col.a];
            break;
        case Kind::cube:
            level = 6 * b;
            if (a.vol != 0) var = gamma[c];
            break;
        case Kind::cross:
            level = b;
            if (a.vol != 0) var = gamma[c];
            break;
        }
        const std::ptrdiff_t at = j + static_cast<std::ptrdiff_t>(c) * a.m;
        a.mh[at] = level;
        if (a.vol != 0) a.sh[at] = var;
    }
}

// Fits point j. Returns false, with invZWZ's check sum in S, when the
// conditioning test fails.
bool fit_point(const Args& a, const Layout& lay, int j, double norm, Work& k, double& S)
{
    kernel_stage(a, j, norm, k.u.get(), k.w.get());
    moments(a, lay, j, a.vol != 0, k);
    S = invert_and_check(k);
    if (S > 100000.0) return false;

    k.beta = k.ZWZ;
    k.beta.mult(k.ZWy);
    if (a.vol != 0) {
        if (a.pc < a.p) std::printf("%s", dummy_warning);
        k.gamma = k.ZWZ;
        k.gamma.mult(k.ZWy2);
    }
    store(a, lay, j, k);
    return true;
}

}  // namespace

int fit(const Args& a, const Layout& lay)
{
    Work k(a, lay.size());
    if (!k.complete()) {
        std::printf("%s: cannot allocate the working storage for n = %d and %d design columns\n", a.name,
                    a.n, lay.size());
        return 0;
    }

    double hprod = 1.0;
    for (int c = 0; c < a.pc; ++c) hprod = hprod * a.h[c];

    if (a.nloo == 1 && a.nr != a.n) {
        std::printf("%s", loo_refusal);
        return 0;
    }
    const int D = a.nloo == 1 ? a.n - 1 : a.n;
    const double norm = static_cast<double>(D) * hprod;

    for (int j = 0; j < a.m; ++j) {
        double S = 0.0;
        if (!fit_point(a, lay, j, norm, k, S)) {
            // An ill-conditioned point ends the call; the first n entries of
            // mh, in storage order, are marked as NaN.
            std::printf("t: sum of off-diagonal element of invZWZ*ZWZ %i %g \n", j, S);
            const std::int64_t marked = std::min<std::int64_t>(a.n, static_cast<std::int64_t>(a.m) * lay.size());
            std::fill(a.mh, a.mh + marked, std::numeric_limits<double>::quiet_NaN());
            std::printf(" m_out %g\n", a.mh[0]);
            return 0;
        }
    }
    return 0;
}

}  // namespace lp
