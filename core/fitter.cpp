// Slices of evaluation points on worker threads, and their assembly.
#include "core/fitter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/threads.h"

namespace lpc {

void Progress::step(const char* stage, long long done, long long total)
{
    if (fn != nullptr && fn(ctx, stage, done, total) != 0) throw Error(LPC_ECANCELLED, "cancelled");
}

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const char failure_line[] = "t: sum of off-diagonal element of invZWZ*ZWZ ";

// One slice of points: what the engine reported, and its outputs.
struct Slice {
    const Design* d = nullptr;
    const Points* at = nullptr;
    const Call* call = nullptr;
    std::size_t a = 0, b = 0;  // points [a, b) of the run
    std::size_t first = 0;     // the number of the run's point 0 in the whole fit
    std::vector<double> mh, sh, fh;
    std::vector<Message> messages;
    std::vector<lp::Event> events;     // event of each point of the slice, in order
    std::vector<int> event_points;
    std::vector<double> leverage;      // with Call::leverage
    std::vector<double> se, L;         // with Call::s2, Call::level_weights: ms × B, ms × n
    std::vector<double> df;            // with Call::s2: the effective observations less B
    std::vector<double> z, M, g;       // scratch of the sandwich
    // Points whose sandwich waits for the moment pass: A⁻¹ of each (B × B)
    // and its Σ_i w_i.
    std::vector<char> pending;
    std::vector<double> inverse, sw;
    std::vector<double> x;  // scratch of the stored inverse's solves
    double own_weight = 0;             // w_ii, the kernel weight of an observation at itself
    int status = LPC_OK;               // LPC_ENOMEM when the slice could not be served
    std::string refusal;               // the engine's refusal, which the checks should have prevented
};

// The engine's sink for one slice: lines and events with the run's point numbers.
void slice_text(void* ctx, int j, const char* s)
{
    auto* sl = static_cast<Slice*>(ctx);
    const long long point = j < 0 ? -1 : static_cast<long long>(sl->first + sl->a) + j;
    std::string text = s;
    // The engine numbers a failing point within its call; the run has one numbering.
    if (j >= 0 && text.compare(0, sizeof failure_line - 1, failure_line) == 0) {
        const std::size_t from = sizeof failure_line - 1, end = text.find(' ', from);
        text = text.substr(0, from) + std::to_string(point) + text.substr(end);
    }
    if (j < 0 && text.find("cannot allocate") != std::string::npos) sl->status = LPC_ENOMEM;
    else if (j < 0) sl->refusal += text;
    sl->messages.push_back(Message{point, text});
}

void slice_event(void* ctx, int j, lp::Event e, double)
{
    auto* sl = static_cast<Slice*>(ctx);
    sl->events.push_back(e);
    sl->event_points.push_back(j);
}

// The weight S_jj of observation j in its own fit: w_jj · z̃ᵀA⁻¹z̃, z̃ its
// own design row.
void leverage(Slice& sl, const lp::Solved& sv)
{
    const std::size_t i = sl.first + sl.a + static_cast<std::size_t>(sv.j);
    const std::vector<double> z = own_row(*sl.d, i);
    std::vector<double> x = z;
    sv.solve(sv.self, x.data());
    double q = 0.0;
    for (std::size_t c = 0; c < z.size(); ++c) q += z[c] * x[c];
    // A refitted point's system is in relative weights, its own e^(shift - 0).
    sl.leverage[static_cast<std::size_t>(sv.j)] = (sv.relative ? lp::expo(sv.shift) : sl.own_weight) * q;
}

// The weight of observation i at point t: the engine's, or relative to
// e^(-shift) as a refitted point's system has it.
double weight_at(const Design& d, std::size_t i, const double* t, const std::vector<double>& h, double D,
                 const lp::Solved& sv)
{
    if (!sv.relative) return kernel_weight(d, i, t, h, D);
    double e = 0.0;
    for (std::size_t k = 0; k < d.pc; ++k) {
        const double u = (d.x[i + k * d.n] - t[k]) / h[k];
        e = e + (u * u) * 0.5;
    }
    return lp::expo(sv.shift - e);
}

// V = A⁻¹ M A⁻¹ from the sums M (B × B) of point sv.j, and the standard error
// of every column; the effective observations (Σw)²/Σw² less B.
void finish(Slice& sl, const lp::Solved& sv, double sw, double sw2)
{
    const Design& d = *sl.d;
    const std::size_t B = d.B, ms = sl.b - sl.a;
    std::vector<double>& M = sl.M;
    sl.df[static_cast<std::size_t>(sv.j)] = (sw / sw2) * sw - static_cast<double>(B);
    // V = A⁻¹ M A⁻¹: each column of M solved, then each row of the result.
    for (std::size_t c = 0; c < B; ++c) sv.solve(sv.self, M.data() + c * B);
    for (std::size_t c = 0; c < B; ++c)
        for (std::size_t b = 0; b < c; ++b) std::swap(M[c + b * B], M[b + c * B]);
    for (std::size_t c = 0; c < B; ++c) sv.solve(sv.self, M.data() + c * B);
    for (std::size_t c = 0; c < B; ++c)
        sl.se[static_cast<std::size_t>(sv.j) + c * ms] = std::fabs(factor(d, c)) * std::sqrt(std::max(M[c + c * B], 0.0));
}

// The sandwich of point j: M = Σ_i w_i² σ̂_i² z_i z_iᵀ over the observations,
// z_i the design row of observation i at the point (its intercept 1 for the
// first nr observations, as in the sums of the right-hand side), V = A⁻¹MA⁻¹,
// and se_c = |factor_c|·sqrt(V_cc). The level's linear weights are
// L_i = factor_0 · w_i · z_iᵀA⁻¹e_0.
void sandwich(Slice& sl, const lp::Solved& sv)
{
    const Design& d = *sl.d;
    const Call& call = *sl.call;
    const std::size_t B = d.B, n = d.n, J = sl.a + static_cast<std::size_t>(sv.j), ms = sl.b - sl.a;
    std::vector<double> t(d.pc);
    for (std::size_t k = 0; k < d.pc; ++k) t[k] = sl.at->t[J + k * sl.at->m];
    const double D = static_cast<double>(call.loo ? n - 1 : n);
    const long long dropped = call.loo ? static_cast<long long>(sl.first + J) : -1;
    std::vector<double>& z = sl.z;
    std::vector<double>& M = sl.M;
    z.assign(B, 0.0);
    M.assign(B * B, 0.0);
    if (!sl.L.empty()) {
        sl.g.assign(B, 0.0);
        sl.g[0] = 1.0;
        sv.solve(sv.self, sl.g.data());
    }
    const double f0 = factor(d, 0);
    double sw = 0, sw2 = 0;
    // A refitted point's system is far from well conditioned: A⁻¹MA⁻¹ would
    // square its condition, so its sandwich is Σ_i σ̂_i² ℓ_i ℓ_iᵀ from the linear
    // weights ℓ_i = A⁻¹ z_i w_i of each observation, checked by the
    // reproduction of the design columns b >= 1: Σ_i ℓ_i Z(i, b) =
    // e_b - A⁻¹e_0 · Σ_(i >= nr) w_i Z(i, b).
    const bool by_weights = sv.relative;
    std::vector<double> l, E, Eabs, g0, tail;
    if (by_weights) {
        l.assign(B, 0.0), E.assign(B * B, 0.0), Eabs.assign(B * B, 0.0), g0.assign(B, 0.0), tail.assign(B, 0.0);
        g0[0] = 1.0;
        sv.solve(sv.self, g0.data());
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double w = static_cast<long long>(i) == dropped ? 0.0 : weight_at(d, i, t.data(), call.h, D, sv);
        sw += w;
        sw2 += w * w;
        for (std::size_t c = 0; c < B; ++c) {
            const Output& o = d.out[c];
            switch (o.kind) {
            case lp::Kind::intercept: z[c] = static_cast<int>(i) < d.nr ? 1.0 : 0.0; break;
            case lp::Kind::slope: z[c] = d.x[i + static_cast<std::size_t>(o.a) * n] - t[static_cast<std::size_t>(o.a)]; break;
            case lp::Kind::dummy: z[c] = d.x[i + static_cast<std::size_t>(o.a) * n]; break;
            default: z[c] = z[static_cast<std::size_t>(o.a)] * z[static_cast<std::size_t>(o.b)];
            }
        }
        if (by_weights) {
            for (std::size_t c = 0; c < B; ++c) l[c] = z[c] * w;
            sv.solve(sv.self, l.data());
            for (std::size_t b = 1; b < B; ++b) {
                if (static_cast<int>(i) >= d.nr) tail[b] += w * z[b];
                for (std::size_t c = 0; c < B; ++c) E[c + b * B] += l[c] * z[b], Eabs[c + b * B] += std::fabs(l[c] * z[b]);
            }
            if (call.s2 != nullptr)
                for (std::size_t c = 0; c < B; ++c)
                    for (std::size_t b = c; b < B; ++b) M[c + b * B] += (*call.s2)[i] * (l[c] * l[b]);
            if (!sl.L.empty()) sl.L[static_cast<std::size_t>(sv.j) + i * ms] = f0 * l[0];
            continue;
        }
        if (call.s2 != nullptr) {
            const double v = (w * w) * (*call.s2)[i];
            for (std::size_t c = 0; c < B; ++c) {
                const double vz = v * z[c];
                for (std::size_t b = c; b < B; ++b) M[c + b * B] += vz * z[b];
            }
        }
        if (!sl.L.empty()) {
            double q = 0.0;
            for (std::size_t c = 0; c < B; ++c) q += z[c] * sl.g[c];
            sl.L[static_cast<std::size_t>(sv.j) + i * ms] = f0 * (w * q);
        }
    }
    if (by_weights) {
        double worst = 0.0;
        for (std::size_t b = 1; b < B; ++b)
            for (std::size_t c = 0; c < B; ++c) {
                const double want = (c == b ? 1.0 : 0.0) - g0[c] * tail[b];
                const double scale = Eabs[c + b * B] + std::fabs(g0[c] * tail[b]) + (c == b ? 1.0 : 0.0);
                worst = std::max(worst, std::fabs(E[c + b * B] - want) / scale);
            }
        if (!(worst <= 1e-7)) {
            // The weights are not accurate: no standard errors here.
            const long long point = static_cast<long long>(sl.first + J);
            sl.messages.push_back(Message{point, "standard errors at point " + std::to_string(point) +
                                                     ": the linear weights fail their check; NaN\n"});
            if (!sl.L.empty())
                for (std::size_t i = 0; i < n; ++i) sl.L[static_cast<std::size_t>(sv.j) + i * ms] = nan;
            M.assign(B * B, nan);
        }
    }
    if (call.s2 == nullptr) return;
    for (std::size_t c = 0; c < B; ++c)
        for (std::size_t b = 0; b < c; ++b) M[c + b * B] = M[b + c * B];
    if (by_weights) {
        sl.df[static_cast<std::size_t>(sv.j)] = (sw / sw2) * sw - static_cast<double>(B);
        for (std::size_t c = 0; c < B; ++c)
            sl.se[static_cast<std::size_t>(sv.j) + c * ms] = std::fabs(factor(d, c)) * std::sqrt(std::max(M[c + c * B], 0.0));
        return;
    }
    finish(sl, sv, sw, sw2);
}

// A stored inverse, applied as the engine applies its own.
struct Stored {
    const double* inv;
    std::size_t B;
    double* x;
};
void solve_by_stored(const void* self, double* b)
{
    const auto& s = *static_cast<const Stored*>(self);
    for (std::size_t r = 0; r < s.B; ++r) {
        double sum = 0.0;
        for (std::size_t c = 0; c < s.B; ++c) sum += s.inv[r + c * s.B] * b[c];
        s.x[r] = sum;
    }
    for (std::size_t r = 0; r < s.B; ++r) b[r] = s.x[r];
}

void slice_solved(void* ctx, const lp::Solved& sv)
{
    auto* sl = static_cast<Slice*>(ctx);
    if (!sl->leverage.empty()) leverage(*sl, sv);
    if (sl->se.empty() && sl->L.empty()) return;
    if (!sl->pending.empty() && !sv.relative) {
        // The sums of the sandwich come from the moment pass: keep A⁻¹, by
        // the engine's solve of each unit vector, and Σ_i w_i, the density.
        const std::size_t B = static_cast<std::size_t>(sv.B), j = static_cast<std::size_t>(sv.j);
        double* inv = sl->inverse.data() + j * B * B;
        for (std::size_t c = 0; c < B; ++c) {
            std::fill(inv + c * B, inv + (c + 1) * B, 0.0);
            inv[c + c * B] = 1.0;
            sv.solve(sv.self, inv + c * B);
        }
        sl->pending[j] = 1;
        sl->sw[j] = sl->fh[j];
        return;
    }
    sandwich(*sl, sv);
}

// Point j of the moment pass: the engine's Σ_i w̃_i σ̂_i² z_i z_iᵀ at
// bandwidths h/√2, whose weights w̃_i = κ·w_i², κ = (4π)^(pc/2)·D·hprod, and
// its density Σ_i w̃_i. The pass's response is 1 for the first nr
// observations and 0 for the others, so that ZWy is the first column of the
// sums with the intercept of the right-hand side. Served where the pass's
// weights stay far from the subnormal numbers (Σ w̃ ≥ 2^-600); elsewhere the
// sums are those of the observations one by one.
void slice_moments(void* ctx, int jj, const double* S, const double* Sy, double density)
{
    auto* sl = static_cast<Slice*>(ctx);
    const std::size_t j = static_cast<std::size_t>(jj);
    if (sl->pending[j] == 0) return;
    const Design& d = *sl->d;
    const std::size_t B = d.B;
    sl->x.resize(B);
    const Stored st{sl->inverse.data() + j * B * B, B, sl->x.data()};
    const lp::Solved sv{jj, static_cast<int>(B), nullptr, nullptr, &st, solve_by_stored, false, 0.0};
    if (!(density >= 0x1p-600)) {
        sandwich(*sl, sv);
        return;
    }
    double kappa = static_cast<double>(sl->call->loo ? d.n - 1 : d.n);
    for (std::size_t k = 0; k < d.pc; ++k) kappa = kappa * (sl->call->h[k] * std::sqrt(4 * 3.141592653589793));
    sl->M.resize(B * B);
    for (std::size_t e = 0; e < B * B; ++e) sl->M[e] = S[e] / kappa;
    for (std::size_t c = 0; c < B; ++c) sl->M[c] = sl->M[c * B] = Sy[c] / kappa;
    finish(*sl, sv, sl->sw[j], density / kappa);
}

// The engine's call over the points of slice s.
void run_slice(const Design& d, const Points& at, const Call& call, const std::vector<double>& h, Slice& s)
{
    const std::size_t ms = s.b - s.a, B = d.B, F = call.density_groups ? d.F() : 1;
    std::vector<double> t(std::max<std::size_t>(ms * d.p, 1), 0.0);
    for (std::size_t k = 0; k < d.pc; ++k)
        std::copy(at.t.begin() + static_cast<std::ptrdiff_t>(k * at.m + s.a),
                  at.t.begin() + static_cast<std::ptrdiff_t>(k * at.m + s.b), t.begin() + static_cast<std::ptrdiff_t>(k * ms));
    s.mh.assign(std::max<std::size_t>(ms * B, 1), nan);
    s.sh.assign(call.vol ? s.mh.size() : 1, nan);
    // Cyclic groups are the engine's; given ones are summed after the fit.
    const bool cyclic = call.density_groups && d.K >= 2 && d.group_of.empty();
    const double grp[2] = {cyclic ? static_cast<double>(d.K) : 0.0, cyclic ? static_cast<double>(d.phase) : 0.0};
    s.fh.assign(std::max<std::size_t>(ms * (cyclic ? F : 1), 1), 0.0);

    lp::Report report;
    report.ctx = &s;
    report.text = slice_text;
    report.event = slice_event;
    report.go_on = true;
    s.d = &d;
    s.at = &at;
    s.call = &call;
    if (call.s2 != nullptr) s.se.assign(ms * B, nan), s.df.assign(ms, nan);
    if (call.level_weights) s.L.assign(ms * d.n, nan);
    if (call.s2 != nullptr || call.level_weights) report.solved = slice_solved;
    // Without the level's weights, the sums of the sandwich come from a
    // second pass of the engine's kernels over the slice (see slice_moments).
    if (call.s2 != nullptr && !call.level_weights)
        s.pending.assign(ms, 0), s.inverse.assign(ms * B * B, nan), s.sw.assign(ms, nan);
    if (call.leverage) {
        s.leverage.assign(ms, nan);
        report.solved = slice_solved;
        // The weight of x_i at t = x_i, by the engine's operations: the kernel
        // factor e^0/√(2π) per continuous regressor, over D·hprod.
        double r = 1.0, hprod = 1.0;
        for (std::size_t k = 0; k < d.pc; ++k) {
            r = r * (lp::expo(-0.0) / std::sqrt(6.283185307179586));
            hprod = hprod * h[k];
        }
        s.own_weight = r / (static_cast<double>(call.loo ? d.n - 1 : d.n) * hprod);
    }

    lp::Args a{};
    a.name = d.est->name;
    a.x = d.x.data();
    a.y = d.y.data();
    a.t = t.data();
    a.h = h.data();
    a.grp = grp;
    a.mh = s.mh.data();
    a.sh = s.sh.data();
    a.fh = s.fh.data();
    a.n = static_cast<int>(d.n);
    a.p = static_cast<int>(d.p);
    a.nr = d.nr;
    a.m = static_cast<int>(ms);
    a.deg = d.deg;
    a.vol = call.vol ? 1 : 0;
    a.nloo = call.loo ? 1 : 0;
    a.lam = d.lam;
    a.pc = static_cast<int>(d.pc);
    a.K = static_cast<int>(grp[0]);
    a.phase = static_cast<int>(grp[1]);
    a.loo_base = static_cast<int>(at.first + s.a);
    a.report = &report;
    lp::run(a, d.est->rule);
    if (std::find(s.pending.begin(), s.pending.end(), 1) == s.pending.end()) return;

    // The moment pass: weights w̃_i·σ̂_i² at bandwidths h/√2 (w̃_i ∝ w_i²).
    std::vector<double> h2 = h, mh2(s.mh.size(), nan), sh2(1, nan), fh2(ms, 0.0), first(d.n, 0.0);
    for (std::size_t k = 0; k < d.pc; ++k) h2[k] = h[k] / std::sqrt(2.0);
    std::fill(first.begin(), first.begin() + d.nr, 1.0);
    const double none[2] = {0.0, 0.0};
    lp::Report moments;
    moments.ctx = &s;
    moments.text = slice_text;
    moments.moments = slice_moments;
    moments.go_on = true;
    a.h = h2.data();
    a.y = first.data();
    a.grp = none;
    a.K = a.phase = 0;
    a.vol = 0;
    a.mh = mh2.data();
    a.sh = sh2.data();
    a.fh = fh2.data();
    a.mult = call.s2->data();
    a.report = &moments;
    lp::run(a, d.est->rule);
}

}  // namespace

Run fit_points(const Design& d, const Points& at, const Call& call, Progress& progress, const char* stage)
{
    if (call.loo && !at.observations) throw usage("leave-one-out needs the observations as points");
    const std::vector<double> h = d.h_arg(call.h);
    const std::size_t m = at.m;
    // Slices of at most 256 points, and at least four per thread, keep the
    // threads busy to the end and the progress moving.
    const std::size_t threads = static_cast<std::size_t>(std::max(d.threads, 1));
    const std::size_t count = std::min(m, std::max(threads > 1 ? 4 * threads : 1, (m + 255) / 256));
    std::vector<Slice> slices(std::max<std::size_t>(count, 1));
    for (std::size_t i = 0; i < slices.size(); ++i) {
        slices[i].a = m * i / slices.size();
        slices[i].b = m * (i + 1) / slices.size();
        slices[i].first = at.first;
    }

    std::atomic<std::size_t> next{0}, done{0};
    std::atomic<bool> stop{false};
    auto work = [&](bool main) {
        for (std::size_t i; !stop && (i = next++) < slices.size();) {
            try {
                run_slice(d, at, call, h, slices[i]);
            } catch (...) {
                slices[i].status = LPC_ENOMEM;
            }
            ++done;
            if (main && progress.wanted()) {
                try {
                    progress.step(stage, static_cast<long long>(done), static_cast<long long>(slices.size()));
                } catch (const Error&) {
                    stop = true;
                }
            }
        }
    };
    // The calling thread alone reports progress.
    together(static_cast<int>(std::min(threads, slices.size())), [&](int k) { work(k == 0); });
    if (stop) throw Error(LPC_ECANCELLED, "cancelled");

    // Assembly in point order.
    Run r;
    r.m = m;
    const std::size_t B = d.B, F = call.density_groups ? d.F() : 1;
    r.mh.assign(m * B, nan);
    if (call.vol) r.sh.assign(m * B, nan);
    r.fh.assign(m * F, 0.0);
    if (call.leverage) r.leverage.assign(m, nan);
    if (call.s2 != nullptr) r.se.assign(m * B, nan), r.df.assign(m, nan);
    if (call.level_weights) r.L.assign(m * d.n, nan);
    for (const Slice& s : slices) {
        if (s.status == LPC_ENOMEM) throw Error(LPC_ENOMEM, "out of memory while fitting");
        if (!s.refusal.empty()) throw Error(LPC_EFAILED, "the engine refused the fit: " + s.refusal);
        const std::size_t ms = s.b - s.a;
        for (std::size_t c = 0; c < B; ++c)
            for (std::size_t j = 0; j < ms; ++j) {
                r.mh[s.a + j + c * m] = s.mh[j + c * ms];
                if (call.vol) r.sh[s.a + j + c * m] = s.sh[j + c * ms];
            }
        for (std::size_t g = 0; g < (d.group_of.empty() ? F : 1); ++g)
            for (std::size_t j = 0; j < ms; ++j) r.fh[s.a + j + g * m] = s.fh[j + g * ms];
        for (const Message& msg : s.messages) r.messages.push_back(msg);
        if (call.leverage) std::copy(s.leverage.begin(), s.leverage.end(), r.leverage.begin() + static_cast<std::ptrdiff_t>(s.a));
        for (std::size_t c = 0; c < (call.s2 != nullptr ? B : 0); ++c)
            for (std::size_t j = 0; j < ms; ++j) r.se[s.a + j + c * m] = s.se[j + c * ms];
        if (call.s2 != nullptr) std::copy(s.df.begin(), s.df.end(), r.df.begin() + static_cast<std::ptrdiff_t>(s.a));
        if (call.level_weights)
            for (std::size_t i = 0; i < d.n; ++i)
                for (std::size_t j = 0; j < ms; ++j) r.L[s.a + j + i * m] = s.L[j + i * ms];

        // What became of each point: an unreliable point, or one whose outputs
        // are not finite, is a failed one (NaN row); one solved again is refitted.
        std::vector<char> state(ms, 0);  // 0 fine, 1 refitted, 2 failed
        for (std::size_t k = 0; k < s.events.size(); ++k) {
            const std::size_t j = static_cast<std::size_t>(s.event_points[k]);
            if (s.events[k] == lp::Event::unreliable) state[j] = 2;
            else if (s.events[k] == lp::Event::refitted && state[j] == 0) state[j] = 1;
        }
        for (std::size_t j = 0; j < ms; ++j) {
            const std::size_t J = s.a + j;
            bool finite = true;
            for (std::size_t c = 0; c < B && finite; ++c)
                finite = std::isfinite(r.mh[J + c * m]) && (!call.vol || std::isfinite(r.sh[J + c * m]));
            if (!finite) state[j] = 2;
            if (state[j] == 2) {
                for (std::size_t c = 0; c < B; ++c) {
                    r.mh[J + c * m] = nan;
                    if (call.vol) r.sh[J + c * m] = nan;
                }
                r.failed.push_back(static_cast<long long>(at.first + J));
            } else if (state[j] == 1) {
                r.refitted.push_back(static_cast<long long>(at.first + J));
            }
        }
    }
    if (F > 1 && !d.group_of.empty()) group_densities(d, at, call, r);
    return r;
}

void group_densities(const Design& d, const Points& at, const Call& call, Run& r)
{
    // Cell g of point j: K·(the weights of the observations of group g),
    // as the engine's cyclic groups are scaled.
    const std::size_t m = at.m, n = d.n;
    const double K = static_cast<double>(d.K), D = static_cast<double>(call.loo ? n - 1 : n);
    std::vector<double> t(d.pc), cell(static_cast<std::size_t>(d.K));
    for (std::size_t j = 0; j < m; ++j) {
        for (std::size_t k = 0; k < d.pc; ++k) t[k] = at.t[j + k * m];
        std::fill(cell.begin(), cell.end(), 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            if (call.loo && i == at.first + j) continue;
            cell[static_cast<std::size_t>(d.group_of[i] - 1)] += kernel_weight(d, i, t.data(), call.h, D);
        }
        // The density from the scaled cells, as the engine forms it for groups.
        double f = 0.0;
        for (std::size_t g = 0; g < cell.size(); ++g) {
            r.fh[j + (g + 1) * m] = cell[g] * K;
            f = f + r.fh[j + (g + 1) * m];
        }
        r.fh[j] = f / K;
    }
}

double factor(const Design& d, std::size_t c)
{
    switch (d.out[c].kind) {
    case lp::Kind::intercept:
    case lp::Kind::slope:
    case lp::Kind::dummy: return static_cast<double>(d.n) / static_cast<double>(d.nr);
    case lp::Kind::square: return 2.0;
    case lp::Kind::cube: return 6.0;
    case lp::Kind::cross: return 1.0;
    }
    return 1.0;
}

double kernel_weight(const Design& d, std::size_t i, const double* t, const std::vector<double>& h, double D)
{
    // w = prod_k (e^(((-u)·u)/2) / √(2π)) / (D·hprod), u = (x_ik - t_k)/h_k.
    double r = 1.0, hprod = 1.0;
    for (std::size_t k = 0; k < d.pc; ++k) {
        const double u = (d.x[i + k * d.n] - t[k]) / h[k];
        const double e = lp::expo(((-u) * u) / 2.0) / std::sqrt(6.283185307179586);
        r = k == 0 ? e : r * e;
        hprod = hprod * h[k];
    }
    return r / (D * hprod);
}

std::vector<double> own_row(const Design& d, std::size_t i)
{
    std::vector<double> z(d.B, 0.0);
    for (std::size_t c = 0; c < d.B; ++c) {
        const Output& o = d.out[c];
        switch (o.kind) {
        case lp::Kind::intercept: z[c] = static_cast<int>(i) < d.nr ? 1.0 : 0.0; break;
        case lp::Kind::slope: z[c] = 0.0; break;
        case lp::Kind::dummy: z[c] = d.x[i + static_cast<std::size_t>(o.a) * d.n]; break;
        default: z[c] = z[static_cast<std::size_t>(o.a)] * z[static_cast<std::size_t>(o.b)];
        }
    }
    return z;
}

double prediction(const Design& d, const Run& r, std::size_t i)
{
    double v = r.mh[i];
    for (std::size_t k = 0; k < d.q; ++k) v += r.mh[i + (1 + d.pc + k) * r.m] * d.x[i + (d.pc + k) * d.n];
    return v;
}

}  // namespace lpc
