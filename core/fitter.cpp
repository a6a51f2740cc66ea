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
    std::size_t a = 0, b = 0;  // points [a, b) of the run
    std::size_t first = 0;     // the number of the run's point 0 in the whole fit
    std::vector<double> mh, sh, fh;
    std::vector<Message> messages;
    std::vector<lp::Event> events;     // event of each point of the slice, in order
    std::vector<int> event_points;
    std::vector<double> leverage;      // with Call::leverage
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
void slice_solved(void* ctx, const lp::Solved& sv)
{
    auto* sl = static_cast<Slice*>(ctx);
    if (sl->leverage.empty()) return;
    const std::size_t i = sl->first + sl->a + static_cast<std::size_t>(sv.j);
    const std::vector<double> z = own_row(*sl->d, i);
    std::vector<double> x = z;
    sv.solve(sv.self, x.data());
    double q = 0.0;
    for (std::size_t c = 0; c < z.size(); ++c) q += z[c] * x[c];
    sl->leverage[static_cast<std::size_t>(sv.j)] = sl->own_weight * q;
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
    s.fh.assign(std::max<std::size_t>(ms * F, 1), 0.0);
    const double grp[2] = {call.density_groups && d.K >= 2 ? static_cast<double>(d.K) : 0.0,
                           call.density_groups && d.K >= 2 ? static_cast<double>(d.phase) : 0.0};

    lp::Report report;
    report.ctx = &s;
    report.text = slice_text;
    report.event = slice_event;
    report.go_on = true;
    if (call.leverage) {
        s.d = &d;
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
    for (const Slice& s : slices) {
        if (s.status == LPC_ENOMEM) throw Error(LPC_ENOMEM, "out of memory while fitting");
        if (!s.refusal.empty()) throw Error(LPC_EFAILED, "the engine refused the fit: " + s.refusal);
        const std::size_t ms = s.b - s.a;
        for (std::size_t c = 0; c < B; ++c)
            for (std::size_t j = 0; j < ms; ++j) {
                r.mh[s.a + j + c * m] = s.mh[j + c * ms];
                if (call.vol) r.sh[s.a + j + c * m] = s.sh[j + c * ms];
            }
        for (std::size_t g = 0; g < F; ++g)
            for (std::size_t j = 0; j < ms; ++j) r.fh[s.a + j + g * m] = s.fh[j + g * ms];
        for (const Message& msg : s.messages) r.messages.push_back(msg);
        if (call.leverage) std::copy(s.leverage.begin(), s.leverage.end(), r.leverage.begin() + static_cast<std::ptrdiff_t>(s.a));

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
    return r;
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
