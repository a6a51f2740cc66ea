// Standard errors, pointwise intervals, the simultaneous band and the
// variances of the observations they rest on.
//
// Every output column C is a linear function of the responses at each point,
// β̂ = A⁻¹ Σ_i w_i z_i y_i, so its variance given the regressors is the
// finite-sample sandwich A⁻¹ (Σ_i w_i² σ_i² z_i z_iᵀ) A⁻¹, scaled by the
// column's output factor; σ_i² is estimated from the residuals of the same
// fit at the observations. The intervals:
//   pointwise   estimate ± z·se
//   rbc         the estimate of the fit widened to a higher order, whose bias
//               is of smaller order (Calonico, Cattaneo and Farrell 2018: with
//               equal bandwidths the bias-corrected estimate is exactly the
//               wider fit's), ± z·(its own se)
//   uniform     for the level, the rbc estimate ± c·se with c the critical
//               value of the maximum over the points of the studentised
//               process, by a Gaussian multiplier bootstrap of its linear
//               representation Σ_i L_i(t)·σ̂_i·ξ_i; rbc for the other columns.
// The density: f̂ ± z·sqrt(f̂·R(K)^pc/(n·hprod)), R(K) = 1/(2√π).
#include "core/intervals.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "core/random.h"
#include "core/threads.h"

namespace lpc {

namespace {

const double kPi = 3.14159265358979323846;

// Horner's rule over coefficients from the highest power down.
template <std::size_t N>
double horner(const double (&c)[N], double r)
{
    double v = c[0];
    for (std::size_t k = 1; k < N; ++k) v = v * r + c[k];
    return v;
}

}  // namespace

double normal_quantile(double p)
{
    // Wichura's algorithm AS 241 (PPND16), accurate to about 1e-16: rational
    // functions of (p - 1/2)² in the centre and of sqrt(-log p) in the tails.
    // R's qnorm and Python's statistics.NormalDist compute the same
    // expressions, so the three front ends give the same bits.
    if (!(p > 0.0 && p < 1.0)) return std::numeric_limits<double>::quiet_NaN();
    const double q = p - 0.5;
    if (std::fabs(q) <= 0.425) {
        static const double a[] = {2.5090809287301226727e+3, 3.3430575583588128105e+4, 6.7265770927008700853e+4,
                                   4.5921953931549871457e+4, 1.3731693765509461125e+4, 1.9715909503065514427e+3,
                                   1.3314166789178437745e+2, 3.3871328727963666080e+0};
        static const double b[] = {5.2264952788528545610e+3, 2.8729085735721942674e+4, 3.9307895800092710610e+4,
                                   2.1213794301586595867e+4, 5.3941960214247511077e+3, 6.8718700749205790830e+2,
                                   4.2313330701600911252e+1, 1.0};
        const double r = 0.180625 - q * q;
        return horner(a, r) * q / horner(b, r);
    }
    double r = std::sqrt(-log_det(q <= 0.0 ? p : 1.0 - p));
    double x;
    if (r <= 5.0) {
        static const double c[] = {7.74545014278341407640e-4, 2.27238449892691845833e-2, 2.41780725177450611770e-1,
                                   1.27045825245236838258e+0, 3.64784832476320460504e+0, 5.76949722146069140550e+0,
                                   4.63033784615654529590e+0, 1.42343711074968357734e+0};
        static const double d[] = {1.05075007164441684324e-9, 5.47593808499534494600e-4, 1.51986665636164571966e-2,
                                   1.48103976427480074590e-1, 6.89767334985100004550e-1, 1.67638483018380384940e+0,
                                   2.05319162663775882187e+0, 1.0};
        r = r - 1.6;
        x = horner(c, r) / horner(d, r);
    } else {
        static const double e[] = {2.01033439929228813265e-7, 2.71155556874348757815e-5, 1.24266094738807843860e-3,
                                   2.65321895265761230930e-2, 2.96560571828504891230e-1, 1.78482653991729133580e+0,
                                   5.46378491116411436990e+0, 6.65790464350110377720e+0};
        static const double f[] = {2.04426310338993978564e-15, 1.42151175831644588870e-7, 1.84631831751005468180e-5,
                                   7.86869131145613259100e-4, 1.48753612908506148525e-2, 1.36929880922735805310e-1,
                                   5.99832206555887937690e-1, 1.0};
        r = r - 5.0;
        x = horner(e, r) / horner(f, r);
    }
    return q < 0.0 ? -x : x;
}

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();

// The variance of the intervals when none is asked for: see the coverage
// figures in the README.
const char interval_variance[] = "local";

}  // namespace

double t_quantile(double p, double df)
{
    // The Cornish-Fisher expansion of Student's t in the normal quantile z
    // (Abramowitz and Stegun 26.7.5), to the fourth power of 1/df; within
    // 1e-4 of the true quantile for df >= 5, where it is used.
    const double z = normal_quantile(p);
    if (!(df < 1e300)) return z;
    const double v = std::max(df, 5.0), z2 = z * z;
    const double g1 = (z2 + 1) * z / 4, g2 = ((5 * z2 + 16) * z2 + 3) * z / 96,
                 g3 = (((3 * z2 + 19) * z2 + 17) * z2 - 15) * z / 384,
                 g4 = ((((79 * z2 + 776) * z2 + 1482) * z2 - 1920) * z2 - 945) * z / 92160;
    return z + g1 / v + g2 / (v * v) + g3 / (v * v * v) + g4 / (v * v * v * v);
}

Residuals residual_fit(const Design& given, const std::vector<double>& h, Progress& progress)
{
    // The fit at the observations is the ordinary one, with nr = n.
    Design d = given;
    d.nr = static_cast<int>(d.n);
    Call call;
    call.h = h;
    call.density_groups = false;
    call.leverage = true;
    const Run o = fit_points(d, observation_points(d), call, progress, "fitted");
    Residuals res;
    res.fitted.resize(d.n);
    res.e.resize(d.n);
    for (std::size_t i = 0; i < d.n; ++i) {
        res.fitted[i] = prediction(d, o, i);
        res.e[i] = d.y[i] - res.fitted[i];
    }
    res.leverage = o.leverage;
    res.failed = o.failed;
    return res;
}

std::vector<double> variances(const std::string& kind, const Design& d, const std::vector<double>& h,
                              const Residuals& res, Progress& progress)
{
    const std::size_t n = d.n;
    std::vector<double> s2(n);
    if (kind == "residual") {
        for (std::size_t i = 0; i < n; ++i) s2[i] = res.e[i] * res.e[i];
    } else if (kind == "leverage") {
        for (std::size_t i = 0; i < n; ++i) {
            const double q = res.e[i] / (1.0 - res.leverage[i]);
            s2[i] = q * q;
        }
    } else if (kind == "loo") {
        Call call;
        call.h = h;
        call.loo = true;
        call.density_groups = false;
        const Run o = fit_points(d, observation_points(d), call, progress, "intervals");
        for (std::size_t i = 0; i < n; ++i) {
            const double q = d.y[i] - prediction(d, o, i);
            s2[i] = q * q;
        }
    } else if (kind == "nn") {
        for (std::size_t i = 0; i < n; ++i) {
            double best = std::numeric_limits<double>::infinity();
            std::size_t at = i;
            for (std::size_t j = 0; j < n; ++j) {
                if (j == i) continue;
                bool same = true;
                for (std::size_t k = d.pc; k < d.p && same; ++k) same = d.x[i + k * n] == d.x[j + k * n];
                if (!same) continue;
                double dist = 0;
                for (std::size_t k = 0; k < d.pc; ++k) {
                    const double u = (d.x[i + k * n] - d.x[j + k * n]) / h[k];
                    dist += u * u;
                }
                if (dist < best) best = dist, at = j;
            }
            const double q = d.y[i] - d.y[at];
            s2[i] = at == i ? res.e[i] * res.e[i] : 0.5 * q * q;
        }
    } else {  // "local": the local linear fit of the squared residuals
        s2 = residual_variance(d, h, observation_points(d), res, progress);
        for (std::size_t i = 0; i < n; ++i)
            if (!std::isfinite(s2[i])) s2[i] = res.e[i] * res.e[i];
    }
    // An observation whose own fit failed has no residual: it is left out.
    for (double& v : s2)
        if (!std::isfinite(v)) v = 0.0;
    return s2;
}

std::vector<double> residual_variance(const Design& d, const std::vector<double>& h, const Points& at,
                                      const Residuals& res, Progress& progress)
{
    const std::size_t n = d.n;
    Request v;
    v.estimator = "dorvane";
    v.have_y = true;
    v.y.name = "e2";
    for (std::size_t i = 0; i < n; ++i) {
        const double e = res.e[i];
        v.y.values.push_back(std::isfinite(e) ? e * e : 0.0);
    }
    for (std::size_t k = 0; k < d.pc; ++k)
        v.cont.push_back(Column{d.cont[k], std::vector<double>(d.x.begin() + static_cast<std::ptrdiff_t>(k * n),
                                                               d.x.begin() + static_cast<std::ptrdiff_t>((k + 1) * n))});
    v.threads.set(d.threads);
    const Design dv = design(v);
    Call call;
    call.h = h;
    call.density_groups = false;
    const Run o = fit_points(dv, at, call, progress, "intervals");
    std::vector<double> out(at.m);
    for (std::size_t j = 0; j < at.m; ++j) out[j] = std::isfinite(o.mh[j]) ? std::max(o.mh[j], 0.0) : o.mh[j];
    return out;
}

Asked asked(const Request& s, const Design& d)
{
    Asked q;
    // The level's band of earlier releases, for a local linear fit in one
    // regressor with vol, comes with its old names ci_lower and ci_upper.
    const bool legacy = d.vol && std::string(d.est->name) == "dorvane" && d.deg == 1 && d.pc == 1 && d.q == 0;
    q.kind = s.ci.given ? *s.ci : legacy ? "rbc" : "none";
    q.any = q.kind != "none" || s.se.given;
    if (q.kind == "none") q.kind = "pointwise";
    q.aliases = q.any && (s.ci.given || legacy);
    q.se = s.se.given ? *s.se : "residual";
    q.interval = s.se.given ? *s.se : interval_variance;
    q.conf = s.conf.given ? *s.conf : 0.95;
    if (s.conf.given && !q.any) throw input("conf sets the level of the intervals; ask for them with ci");
    if (s.seed.given && q.kind != "uniform") throw input("seed goes with the uniform band (ci = \"uniform\")");
    return q;
}

double band_critical_value(const std::vector<double>& L, std::size_t m, std::size_t n, const std::vector<double>& s2,
                           const std::vector<double>& se, double conf, std::uint64_t seed, int draws, int threads)
{
    std::vector<double> sd(n), T(static_cast<std::size_t>(draws));
    for (std::size_t i = 0; i < n; ++i) sd[i] = std::sqrt(s2[i]);
    std::atomic<int> next{0};
    together(std::max(1, std::min(threads, draws)), [&](int) {
        std::vector<double> xi(n), sum(m);
        for (int r; (r = next++) < draws;) {
            for (std::size_t i = 0; i < n; ++i)
                xi[i] = sd[i] * normal(seed, static_cast<std::uint64_t>(r) * n + i);
            std::fill(sum.begin(), sum.end(), 0.0);
            for (std::size_t i = 0; i < n; ++i) {
                const double x = xi[i];
                const double* l = L.data() + i * m;
                for (std::size_t j = 0; j < m; ++j) sum[j] += l[j] * x;
            }
            double most = 0;
            for (std::size_t j = 0; j < m; ++j)
                if (se[j] > 0) most = std::max(most, std::fabs(sum[j]) / se[j]);
            T[static_cast<std::size_t>(r)] = most;
        }
    });
    std::sort(T.begin(), T.end());
    const std::size_t k = static_cast<std::size_t>(std::ceil(conf * draws)) - 1;
    return T[std::min(k, T.size() - 1)];
}

void intervals(const Request& s, const Asked& q, const Design& d, const std::vector<double>& h, const Points& at,
               const Run& r, const Residuals& res, const std::vector<double>& s2_se, lpc_fit& fit,
               Progress& progress)
{
    const std::size_t m = at.m, B = d.B;
    const double z = -normal_quantile((1.0 - q.conf) / 2.0);
    const std::vector<double> s2 = q.interval == q.se ? s2_se : variances(q.interval, d, h, res, progress);

    // The estimates and standard errors the intervals rest on.
    std::vector<double> est(r.mh), se, df;
    double critical = nan;
    if (q.kind == "pointwise") {
        if (q.interval == q.se) {
            se = r.se;
            df = r.df;
        } else {
            Call call;
            call.h = h;
            call.loo = d.loo;
            call.density_groups = false;
            call.s2 = &s2;
            const Run o = fit_points(d, at, call, progress, "intervals");
            se = o.se;
            df = o.df;
        }
    } else {
        // Column c of derivative order ν takes the wider fit of order q + 1
        // when q + 1 - ν is even and of order q + 2 otherwise, q the design's
        // own order: the estimate of a ν-th derivative by a fit of order p has
        // a bias of order h^(p+2-ν) when p - ν is even, h^(p+1-ν) when odd.
        int q0 = 1;
        for (const Output& o : d.out)
            if (o.kind != lp::Kind::dummy) q0 = std::max(q0, o.degree);
        est.assign(m * B, nan);
        se.assign(m * B, nan);
        df.assign(m, std::numeric_limits<double>::infinity());
        for (int extra = 1; extra <= 2; ++extra) {
            std::vector<std::size_t> cols;
            for (std::size_t c = 0; c < B; ++c)
                if (((q0 + 1 - d.out[c].degree) % 2 == 0) == (extra == 1)) cols.push_back(c);
            if (cols.empty()) continue;
            const Design w = widened(d, extra);
            Call call;
            call.h = h;
            call.loo = d.loo;
            call.density_groups = false;
            call.s2 = &s2;
            call.level_weights = q.kind == "uniform" && cols[0] == 0;
            const Run o = fit_points(w, at, call, progress, "intervals");
            for (std::size_t c : cols)
                for (std::size_t j = 0; j < m; ++j) {
                    est[j + c * m] = o.mh[j + c * m];
                    se[j + c * m] = o.se[j + c * m];
                }
            for (std::size_t j = 0; j < m; ++j) df[j] = std::min(df[j], o.df[j]);
            if (call.level_weights) {
                const std::vector<double> level_se(se.begin(), se.begin() + static_cast<std::ptrdiff_t>(m));
                critical = band_critical_value(o.L, m, d.n, s2, level_se, q.conf,
                                               s.seed.given ? static_cast<std::uint64_t>(*s.seed) : 1, 1000,
                                               d.threads);
                fit.values["critical_value"] = {critical};
            }
        }
    }

    auto part = [m](const std::vector<double>& v, std::size_t c) {
        return std::vector<double>(v.begin() + static_cast<std::ptrdiff_t>(c * m),
                                   v.begin() + static_cast<std::ptrdiff_t>((c + 1) * m));
    };
    // Student's t with each point's residual degrees of freedom in place of
    // the normal quantile: the local sample the variances rest on is small.
    const double p = (1.0 + q.conf) / 2.0;
    std::vector<double> t(m);
    for (std::size_t j = 0; j < m; ++j) t[j] = t_quantile(p, df[j]);
    for (std::size_t c = 0; c < B; ++c) {
        std::vector<double> lo(m), hi(m);
        for (std::size_t j = 0; j < m; ++j) {
            const double width = c == 0 && q.kind == "uniform" ? critical * (t[j] / z) : t[j];
            lo[j] = est[j + c * m] - width * se[j + c * m];
            hi[j] = est[j + c * m] + width * se[j + c * m];
        }
        fit.column("se_" + d.out[c].mean, part(r.se, c));
        fit.column("lower_" + d.out[c].mean, lo);
        fit.column("upper_" + d.out[c].mean, hi);
        if (c == 0 && q.aliases) {
            fit.column("ci_lower", lo);
            fit.column("ci_upper", hi);
        }
    }

    // The density.
    double hprod = 1.0;
    for (double e : h) hprod = hprod * e;
    const double R = std::pow(1.0 / (2.0 * std::sqrt(3.14159265358979323846)), static_cast<double>(d.pc));
    const double N = static_cast<double>(d.loo ? d.n - 1 : d.n);
    std::vector<double> fse(m), flo(m), fhi(m);
    for (std::size_t j = 0; j < m; ++j) {
        const double f = r.fh[j];
        fse[j] = std::sqrt(std::max(f, 0.0) * R / (N * hprod));
        flo[j] = f - z * fse[j];
        fhi[j] = f + z * fse[j];
    }
    fit.column("se_density", fse);
    fit.column("lower_density", flo);
    fit.column("upper_density", fhi);
}

}  // namespace lpc
