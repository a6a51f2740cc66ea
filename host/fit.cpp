// Splitting export calls across threads.
//
// The exports print to standard output, that is to file descriptor 1, which
// every thread of the process shares: a capture of fd 1 taken on one thread
// collects what all threads print meanwhile, and lines from concurrent calls
// interleave in it with nothing to tell whose they are. So the text of each
// call is captured one call at a time, never two at once:
//
//  - when the library is known to print at every point (the conditional
//    variance with dummies brings a warning per point), the slices run one
//    after another, each under its own capture;
//  - otherwise the slices run in parallel under a single capture around the
//    whole parallel section. Nearly always nothing is printed and that is the
//    end. When something was printed (a failed point, a singular moment
//    matrix), the slices are run again one after another under their own
//    captures. The calls are pure functions of their arguments, so the second
//    run repeats the numbers and gives each call's text whole, in point order.
#include "host/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

namespace lpfit {

namespace {

// The opening of the line an export prints when the conditioning test fails
// at a point; the point (from 0) and the off-diagonal sum follow.
const char kFailure[] = "t: sum of off-diagonal element of invZWZ*ZWZ ";
// The first lines of the exports' refusals.
const char* const kRefusals[] = {
    "You cannot use leave one out (nloo=1) since you do not compute\n",
    "locparg: use lam > 0 or tremsal \n",
    "locpa2g: use lam > 0 or tremsal \n",
};

const double kUnwritten = std::numeric_limits<double>::quiet_NaN();

std::size_t whole(double v) { return v > 0 ? static_cast<std::size_t>(v) : 0; }

// Runs task(i, local) for i = 0 ... count - 1 on up to `threads` threads, each
// thread with its own copy `local` of pr to call the export with. The first
// exception of any task is thrown again here.
template <class Task>
void parallel(std::size_t count, int threads, const host::Problem& pr, Task task)
{
    std::atomic<std::size_t> next{0};
    std::exception_ptr error;
    std::mutex lock;
    auto worker = [&] {
        try {
            host::Problem local = pr;
            for (std::size_t i; (i = next++) < count;) task(i, local);
        } catch (...) {
            std::lock_guard<std::mutex> hold(lock);
            if (!error) error = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> pool;
    const std::size_t T = std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), count);
    for (std::size_t k = 1; k < T; ++k) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    if (error) std::rethrow_exception(error);
}

// Runs task(i, local) for i = 0 ... count - 1 and returns what each task's
// call printed, in the way the head of this file explains. With `together`,
// the tasks first run on up to `threads` threads under one capture; when that
// printed something, or without `together`, they run one after another, each
// under its own capture, until stop(text) says that one call would have ended
// there. `ran` is the number of tasks of the last run; a task counts itself in
// `done`, which restarts with the second run.
template <class Task, class Stop>
std::vector<std::string> captured(std::size_t count, int threads, bool together, const host::Problem& pr,
                                  std::atomic<long>* done, std::size_t& ran, Task task, Stop stop)
{
    std::vector<std::string> printed(count);
    ran = count;
    if (together) {
        host::StdoutCapture capture;
        parallel(count, threads, pr, task);
        if (capture.finish().empty()) return printed;
        if (done) *done = 0;
    }
    host::Problem local = pr;
    for (std::size_t i = 0; i < count; ++i) {
        host::StdoutCapture capture;
        task(i, local);
        printed[i] = capture.finish();
        if (stop(printed[i])) {
            ran = i + 1;
            break;
        }
    }
    return printed;
}

// Points [a, b) of a fit and what the call over them left behind.
struct Slice {
    Slice(std::size_t a, std::size_t b) : a(a), b(b) {}
    std::size_t a, b;
    std::vector<double> mh, sh, fh;
    std::string printed;
};

// Sizes of a fit: points, output columns, density columns.
struct Shape {
    std::size_t m, B, F;
    explicit Shape(const std::string& name, const host::Problem& pr)
        : m(whole(pr.m)), B(static_cast<std::size_t>(host::output_columns(name, pr))), F(1)
    {
        if (m > 0) F = host::density_size(pr) / m;
    }
};

// Calls the export on the points of slice s of pr, through `local`, a copy of
// pr owned by the calling thread.
void run(const host::Library& lib, const std::string& name, const host::Problem& pr, const Shape& sz,
         host::Problem& local, Slice& s)
{
    const std::size_t ms = s.b - s.a, p = whole(pr.p);
    local.m = static_cast<double>(ms);
    local.t.resize(std::max<std::size_t>(ms * p, 1));
    for (std::size_t k = 0; k < p; ++k)
        for (std::size_t j = 0; j < ms; ++j) local.t[j + k * ms] = pr.t[s.a + j + k * sz.m];
    s.mh.assign(std::max<std::size_t>(ms * sz.B, 1), kUnwritten);
    s.sh.assign(s.mh.size(), kUnwritten);
    s.fh.assign(std::max<std::size_t>(ms * sz.F, 1), 0.0);
    host::invoke(lib, name, local, s.mh.data(), s.sh.data(), s.fh.data());
}

// `text` with the point number of its failure line changed from j to J.
std::string renumbered(const std::string& text, long j, std::size_t J)
{
    const std::size_t at = text.find(kFailure);
    const std::size_t from = at + sizeof kFailure - 1;
    const std::string old = std::to_string(j);
    return text.substr(0, from) + std::to_string(J) + text.substr(from + old.size());
}

}  // namespace

bool failure_in(const std::string& text, long& j, double& S)
{
    for (std::size_t at = text.find(kFailure); at != std::string::npos; at = text.find(kFailure, at + 1)) {
        if (at > 0 && text[at - 1] != '\n') continue;
        const char* s = text.c_str() + at + sizeof kFailure - 1;
        char* end = nullptr;
        j = std::strtol(s, &end, 10);
        S = std::strtod(end, nullptr);
        return true;
    }
    return false;
}

bool refusal_in(const std::string& text)
{
    for (const char* r : kRefusals) {
        const std::size_t at = text.find(r);
        if (at != std::string::npos && (at == 0 || text[at - 1] == '\n')) return true;
    }
    return false;
}

Call fit(const host::Library& lib, const std::string& name, const host::Problem& pr, int threads, std::atomic<long>* done)
{
    const Shape sz(name, pr);
    const std::size_t n = whole(pr.n), p = whole(pr.p);
    const std::size_t pc = p == 0 || pr.h.size() < p || pr.h[p - 1] >= 0 ? p : whole(-pr.h[p - 1]);
    // Leave-one-out pairs point j with observation j, so its points stay in one call.
    const bool loo = pr.nloo == 1;
    // Slices of at most 256 points, at least four per thread, keep the threads
    // busy to the end and let the progress line move.
    const std::size_t count =
        loo ? 1 : std::min<std::size_t>(sz.m, std::max<std::size_t>(threads <= 1 ? 1 : 4 * static_cast<std::size_t>(threads),
                                                                     (sz.m + 255) / 256));
    std::vector<Slice> slices;
    for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i)
        slices.emplace_back(sz.m * i / std::max<std::size_t>(count, 1), sz.m * (i + 1) / std::max<std::size_t>(count, 1));

    // The conditional variance with dummies brings a warning at every point.
    const bool together = slices.size() > 1 && threads > 1 && !(pr.vol != 0 && pc < p);
    std::size_t ran = 0;
    const std::vector<std::string> printed = captured(
        slices.size(), threads, together, pr, done, ran,
        [&](std::size_t i, host::Problem& local) {
            run(lib, name, pr, sz, local, slices[i]);
            if (done) *done += static_cast<long>(slices[i].b - slices[i].a);
        },
        [](const std::string& text) {
            long j;
            double S;
            return refusal_in(text) || failure_in(text, j, S);
        });
    for (std::size_t i = 0; i < slices.size(); ++i) slices[i].printed = printed[i];

    Call out;
    if (slices.size() == 1) {
        Slice& s = slices[0];
        out.mh = std::move(s.mh);
        out.sh = std::move(s.sh);
        out.fh = std::move(s.fh);
        out.printed = std::move(s.printed);
        out.refused = refusal_in(out.printed);
        if (!out.refused) failure_in(out.printed, out.failed, out.S);
        return out;
    }

    // Assemble the slices into the arrays of one call over all m points.
    out.mh.assign(sz.m * sz.B, kUnwritten);
    out.sh.assign(sz.m * sz.B, kUnwritten);
    out.fh.assign(sz.m * sz.F, 0.0);
    auto scatter = [&](const Slice& s, std::size_t upto) {
        const std::size_t ms = s.b - s.a;
        for (std::size_t c = 0; c < sz.B; ++c)
            for (std::size_t j = 0; j < upto; ++j) {
                out.mh[s.a + j + c * sz.m] = s.mh[j + c * ms];
                out.sh[s.a + j + c * sz.m] = s.sh[j + c * ms];
            }
        for (std::size_t g = 0; g < sz.F; ++g)
            for (std::size_t j = 0; j < upto; ++j) out.fh[s.a + j + g * sz.m] = s.fh[j + g * ms];
    };
    for (std::size_t i = 0; i < ran; ++i) {
        Slice& s = slices[i];
        if (refusal_in(s.printed)) {
            // Every slice has the same set-up and so the same refusal; one call prints it once.
            Call refused;
            refused.mh.assign(sz.m * sz.B, kUnwritten);
            refused.sh = refused.mh;
            refused.fh.assign(sz.m * sz.F, 0.0);
            refused.printed = s.printed;
            refused.refused = true;
            return refused;
        }
        long j;
        double S;
        if (!failure_in(s.printed, j, S)) {
            scatter(s, s.b - s.a);
            out.printed += s.printed;
            continue;
        }
        // One call would have stopped at global point J after writing points
        // 0 ... J-1, then put NaN into the first n entries of mh. The failing
        // slice's own NaN marks covered some of its earlier points, so those
        // points, which pass the test, are fitted again by a call of their own.
        const std::size_t J = s.a + static_cast<std::size_t>(j);
        if (j > 0) {
            Slice head(s.a, J);
            host::Problem local = pr;
            host::StdoutCapture capture;
            run(lib, name, pr, sz, local, head);
            capture.finish();
            scatter(head, head.b - head.a);
        }
        for (std::size_t g = 0; g < sz.F; ++g) out.fh[J + g * sz.m] = s.fh[j + g * (s.b - s.a)];
        std::fill(out.mh.begin(), out.mh.begin() + std::min(n, out.mh.size()), s.mh[0]);
        out.printed += renumbered(s.printed, j, J);
        out.failed = static_cast<long>(J);
        out.S = S;
        break;
    }
    return out;
}

std::vector<Score> cv_scores(const host::Library& lib, const std::string& name, const host::Problem& pr,
                             const std::vector<std::vector<double>>& hs, int threads, std::atomic<long>* done)
{
    const Shape sz(name, pr);
    const std::size_t n = whole(pr.n);
    std::vector<Score> out(hs.size(), Score{0, {}});
    auto one = [&](std::size_t k, host::Problem& local) {
        std::copy(hs[k].begin(), hs[k].end(), local.h.begin());
        std::vector<double> mh(std::max<std::size_t>(sz.m * sz.B, 1), kUnwritten), sh(mh.size(), kUnwritten),
            fh(std::max<std::size_t>(sz.m * sz.F, 1), 0.0);
        host::invoke(lib, name, local, mh.data(), sh.data(), fh.data());
        // A failed call leaves NaN in the first n levels, so it scores +inf too.
        double ss = 0;
        for (std::size_t i = 0; i < n; ++i) ss += (local.y[i] - mh[i]) * (local.y[i] - mh[i]);
        const double score = ss / static_cast<double>(n);
        out[k].value = std::isnan(score) ? std::numeric_limits<double>::infinity() : score;
        if (done) ++*done;
    };
    std::size_t ran = 0;
    const std::vector<std::string> printed =
        captured(hs.size(), threads, threads > 1 && hs.size() > 1, pr, done, ran, one, [](const std::string&) { return false; });
    for (std::size_t k = 0; k < hs.size(); ++k) {
        out[k].printed = printed[k];
        long j;
        double S;
        if (failure_in(printed[k], j, S)) out[k].value = std::numeric_limits<double>::infinity();
    }
    return out;
}

}  // namespace lpfit
