// The direct plug-in rule for the bandwidth of a local linear fit.
//
// With the Gaussian kernel, R(K) = 1/(2√π) and μ2(K) = 1, the bandwidth that
// minimises the asymptotic mean integrated squared error over the inner range
// of length r is
//
//   h = [σ² r / (2√π θ22 n)]^(1/5),   θ22 = n⁻¹ Σ m''(X_i)² over the inner range.
//
// θ22 comes from a local cubic fit of m'' with the pilot bandwidth g that
// cancels the leading bias of θ̂22 against its variance term,
//
//   g = C2·[σ² r / (|θ24| n)]^(1/7),   C2 = (24 R(K*)/μ4(K*))^(1/7) = (3/(8√π))^(1/7),
//
// K*(u) = (u² - 1)K(u)/2 the local cubic equivalent kernel of m'', for which
// R(K*) = 3/(32√π) and μ4(K*) = 6. σ² is the residual variance of a local
// linear fit, ‖(I - S)y‖² / (n - 2 tr S + tr SᵀS), with the pilot bandwidth
// that minimises its asymptotic mean squared error,
//
//   λ = C3·[σ⁴ r / (θ22² n²)]^(1/9),   C3 = (4·∫(2K - K*K)²)^(1/9).
//
// The pilots' own σ², θ22 and θ24 come from quartic least-squares fits on N
// blocks of consecutive observations, N chosen by Mallows' Cp among
// 1 ... max(min(n/20, 5), 1).
#include "core/plugin.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "estimators/batch.h"

namespace lpc {

namespace {

const double pi = 3.14159265358979323846;

// A least-squares quartic fit of y on x over [from, to): its residual sum of
// squares and, at each of its observations, m'' and m''''. The fit is in
// z = (x - c)/s, centred and scaled to the block, by Householder's QR.
double quartic(const std::vector<double>& x, const std::vector<double>& y, std::size_t from, std::size_t to,
               std::vector<double>& m2, std::vector<double>& m4)
{
    const std::size_t k = to - from, P = 5;
    const double lo = x[from], hi = x[to - 1];
    const double c = 0.5 * (lo + hi), s = hi > lo ? 0.5 * (hi - lo) : 1.0;
    std::vector<double> A(k * P), b(y.begin() + static_cast<std::ptrdiff_t>(from),
                                    y.begin() + static_cast<std::ptrdiff_t>(to));
    for (std::size_t i = 0; i < k; ++i) {
        const double z = (x[from + i] - c) / s;
        double e = 1.0;
        for (std::size_t p = 0; p < P; ++p, e *= z) A[i + p * k] = e;
    }
    // Householder QR of A, applied to b.
    std::vector<double> R(P * P, 0.0);
    for (std::size_t p = 0; p < P; ++p) {
        double norm = 0;
        for (std::size_t i = p; i < k; ++i) norm += A[i + p * k] * A[i + p * k];
        norm = std::sqrt(norm);
        const double alpha = A[p + p * k] > 0 ? -norm : norm;
        std::vector<double> v(k, 0.0);
        for (std::size_t i = p; i < k; ++i) v[i] = A[i + p * k];
        v[p] -= alpha;
        double vv = 0;
        for (std::size_t i = p; i < k; ++i) vv += v[i] * v[i];
        if (vv > 0) {
            for (std::size_t q = p; q < P; ++q) {
                double dot = 0;
                for (std::size_t i = p; i < k; ++i) dot += v[i] * A[i + q * k];
                for (std::size_t i = p; i < k; ++i) A[i + q * k] -= 2.0 * dot / vv * v[i];
            }
            double dot = 0;
            for (std::size_t i = p; i < k; ++i) dot += v[i] * b[i];
            for (std::size_t i = p; i < k; ++i) b[i] -= 2.0 * dot / vv * v[i];
        }
        for (std::size_t q = p; q < P; ++q) R[p + q * P] = A[p + q * k];
    }
    std::vector<double> beta(P, 0.0);
    for (std::size_t p = P; p-- > 0;) {
        double sum = b[p];
        for (std::size_t q = p + 1; q < P; ++q) sum -= R[p + q * P] * beta[q];
        beta[p] = R[p + p * P] != 0 ? sum / R[p + p * P] : 0.0;
    }
    double rss = 0;
    for (std::size_t i = P; i < k; ++i) rss += b[i] * b[i];
    for (std::size_t i = 0; i < k; ++i) {
        const double z = (x[from + i] - c) / s;
        m2[from + i] = (2 * beta[2] + 6 * beta[3] * z + 12 * beta[4] * z * z) / (s * s);
        m4[from + i] = 24 * beta[4] / (s * s * s * s);
    }
    return rss;
}

// The residual variance ‖(I - S)y‖² / (n - 2 tr S + tr SᵀS) of the local
// linear fit with bandwidth lambda, from the smoother weights
// l_j(X_i) = w_j (S2 - S1 d_j) / (S0 S2 - S1²), d_j = X_j - X_i.
double local_linear_variance(const std::vector<double>& x, const std::vector<double>& y, double lambda)
{
    const std::size_t n = x.size();
    double rss = 0, trace = 0, squares = 0;
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i) {
        double S0 = 0, S1 = 0, S2 = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double u = (x[j] - x[i]) / lambda;
            w[j] = lp::expo(((-u) * u) / 2.0);
            const double dj = x[j] - x[i];
            S0 += w[j];
            S1 += w[j] * dj;
            S2 += w[j] * dj * dj;
        }
        const double det = S0 * S2 - S1 * S1;
        double fit = 0, own = 0, sq = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double l = w[j] * (S2 - S1 * (x[j] - x[i])) / det;
            fit += l * y[j];
            sq += l * l;
            if (j == i) own = l;
        }
        rss += (y[i] - fit) * (y[i] - fit);
        trace += own;
        squares += sq;
    }
    return rss / (static_cast<double>(n) - 2 * trace + squares);
}

}  // namespace

Plugin plugin_steps(std::vector<double> x, std::vector<double> y, int threads, Progress& progress)
{
    // Sorted by x, 1% trimmed at each end.
    std::vector<std::size_t> order(x.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
    const std::size_t cut = static_cast<std::size_t>(std::floor(0.01 * static_cast<double>(x.size())));
    std::vector<double> xs, ys;
    for (std::size_t k = cut; k + cut < order.size(); ++k) xs.push_back(x[order[k]]), ys.push_back(y[order[k]]);
    Plugin P;
    const std::size_t n = xs.size();
    P.n = n;
    const double a = xs.front(), b = xs.back();
    const double inner_lo = a + 0.05 * (b - a), inner_hi = b - 0.05 * (b - a);
    P.range = inner_hi - inner_lo;
    const double N = static_cast<double>(n);
    if (n < 20 || !(b > a)) throw input("the plug-in rule needs at least 20 observations with distinct regressor values");

    // The blocked quartic pilots; N by Mallows' Cp.
    const std::size_t most = std::max<std::size_t>(std::min<std::size_t>(n / 20, 5), 1);
    std::vector<double> m2(n), m4(n), rss(most + 1);
    for (std::size_t blocks = 1; blocks <= most; ++blocks) {
        rss[blocks] = 0;
        for (std::size_t k = 0; k < blocks; ++k) rss[blocks] += quartic(xs, ys, n * k / blocks, n * (k + 1) / blocks, m2, m4);
    }
    std::size_t best = 1;
    double best_cp = 0;
    for (std::size_t blocks = 1; blocks <= most; ++blocks) {
        const double cp = rss[blocks] / (rss[most] / (N - 5.0 * static_cast<double>(most))) -
                          (N - 10.0 * static_cast<double>(blocks));
        if (blocks == 1 || cp < best_cp) best = blocks, best_cp = cp;
    }
    for (std::size_t k = 0; k < best; ++k) quartic(xs, ys, n * k / best, n * (k + 1) / best, m2, m4);
    P.blocks = best;
    P.sigma2_q = rss[best] / (N - 5.0 * static_cast<double>(best));
    for (std::size_t i = 0; i < n; ++i)
        if (xs[i] >= inner_lo && xs[i] <= inner_hi) {
            P.theta22_q += m2[i] * m2[i];
            P.theta24_q += m2[i] * m4[i];
        }
    P.theta22_q /= N;
    P.theta24_q /= N;
    if (!(std::fabs(P.theta24_q) > 0) || !(P.theta22_q > 0) || !(P.sigma2_q > 0))
        throw Error(LPC_EFAILED, "the plug-in rule finds no curvature in the data (its quartic pilots are flat); "
                                 "give a bandwidth or use cross-validation");

    // θ22 from a local cubic fit with the pilot bandwidth g.
    const double C2 = std::pow(3.0 / (8.0 * std::sqrt(pi)), 1.0 / 7.0);
    P.g = C2 * std::pow(P.sigma2_q * P.range / (std::fabs(P.theta24_q) * N), 1.0 / 7.0);
    Request cubic;
    cubic.estimator = "tremsal";
    cubic.y = Column{"y", ys};
    cubic.have_y = true;
    cubic.cont.push_back(Column{"x", xs});
    cubic.deg.set(3);
    cubic.threads.set(threads);
    const Design dc = design(cubic);
    Call call;
    call.h = {P.g};
    call.density_groups = false;
    const Run r = fit_points(dc, observation_points(dc), call, progress, "bandwidth");
    for (std::size_t i = 0; i < n; ++i)
        if (xs[i] >= inner_lo && xs[i] <= inner_hi) {
            const double d2 = r.mh[i + 2 * n];  // the d2 column: 2·beta_2 = m''
            P.theta22 += d2 * d2;
        }
    P.theta22 /= N;

    // σ² from a local linear fit with the pilot bandwidth λ.
    const double C = 4.0 / (2.0 * std::sqrt(pi)) - 4.0 / std::sqrt(6.0 * pi) + 1.0 / std::sqrt(8.0 * pi);
    const double C3 = std::pow(4.0 * C, 1.0 / 9.0);
    P.lambda = C3 * std::pow(P.sigma2_q * P.sigma2_q * P.range / (P.theta22_q * P.theta22_q * N * N), 1.0 / 9.0);
    P.sigma2 = local_linear_variance(xs, ys, P.lambda);
    if (!(P.theta22 > 0) || !std::isfinite(P.theta22) || !(P.sigma2 > 0) || !std::isfinite(P.sigma2))
        throw Error(LPC_EFAILED, "the plug-in rule cannot estimate the curvature or the noise of the data; give a "
                                 "bandwidth or use cross-validation");
    P.h = std::pow(P.sigma2 * P.range / (2.0 * std::sqrt(pi) * P.theta22 * N), 0.2);
    return P;
}

double plugin_bandwidth(const Design& d, Progress& progress, std::vector<std::string>& notes)
{
    if (std::string(d.est->name) != "dorvane" || d.deg != 1 || d.pc != 1 || d.q != 0)
        throw input("the plug-in bandwidth serves a local linear fit (dorvane, deg 1) in one continuous regressor "
                    "without dummies; use cv or aicc for this fit");
    const Plugin P = plugin_steps(d.x, d.y, d.threads, progress);
    notes.push_back("plug-in bandwidth " + d.cont[0] + " = " + number(P.h, 6) + " (pilots: " +
                    std::to_string(P.blocks) + (P.blocks == 1 ? " quartic block" : " quartic blocks") + ", g = " +
                    number(P.g, 4) + ", lambda = " + number(P.lambda, 4) + ", sigma^2 = " + number(P.sigma2, 4) +
                    ", theta22 = " + number(P.theta22, 4) + ")");
    return P.h;
}

}  // namespace lpc
