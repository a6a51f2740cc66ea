// Runs a fixed list of estimator calls through the host layer and writes their
// transcript: for every call its result, each line it printed, and every
// output double as the hexadecimal digits of its bits. One source is built for
// every platform, so two transcripts are equal exactly when the libraries gave
// the same bits and printed the same lines.
//
// Usage: transcript OUT [DORVANE TREMSAL]   write the transcript of the two libraries
//                                           (default Dorvane.dll and Tremsal.dll, found
//                                           beside the program, or ./Dorvane.so, ./Tremsal.so)
//        transcript --compare A B          compare two transcripts, ignoring "\r";
//                                           exit status 1 when they differ
//
// The data come from integer arithmetic and the four basic operations only, so
// that every platform starts from the same doubles.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "calls.h"

namespace {

#if defined(_WIN32)
const char* const default_paths[2] = {"Dorvane.dll", "Tremsal.dll"};
#else
const char* const default_paths[2] = {"./Dorvane.so", "./Tremsal.so"};
#endif

// splitmix64: the same stream of doubles in [0, 1) everywhere.
struct Stream {
    std::uint64_t s;
    double next()
    {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
};

// n observations of pc continuous regressors on [0, 1) and p - pc dummies, a
// cubic response with noise whose spread grows with the first regressor, m
// evaluation points inside the data, and one bandwidth h per regressor.
host::Problem problem(int n, int p, int pc, int m, std::uint64_t seed, double h)
{
    Stream r{seed};
    host::Problem pr;
    pr.n = pr.nr = n;
    pr.p = p;
    pr.m = m;
    pr.x.resize(static_cast<std::size_t>(n) * p);
    for (int k = 0; k < p; ++k)
        for (int i = 0; i < n; ++i) pr.x[i + k * n] = k < pc ? r.next() : (r.next() < 0.4 ? 1.0 : 0.0);
    for (int i = 0; i < n; ++i) {
        double f = 1.0;
        for (int k = 0; k < p; ++k) {
            const double v = pr.x[i + k * n];
            f += k < pc ? (k + 1) * v - 0.5 * v * v + 0.3 * v * v * v : 0.5 * v;
        }
        const double noise = r.next() + r.next() + r.next() - 1.5;
        pr.y.push_back(f + (0.2 + 0.2 * pr.x[i]) * noise);
    }
    pr.t.resize(static_cast<std::size_t>(m) * p);
    for (int k = 0; k < p; ++k)
        for (int j = 0; j < m; ++j) pr.t[j + k * m] = k < pc ? 0.2 + 0.6 * r.next() : 0.0;
    pr.h.assign(p, h);
    if (pc < p) pr.h[p - 1] = -pc;
    return pr;
}

// The last observation moved to `at` (one coordinate per continuous
// regressor), far from the others: at its own leave-one-out fit the weights
// of the rest span many orders of magnitude.
host::Problem isolated(host::Problem pr, std::vector<double> at)
{
    const int n = static_cast<int>(pr.n);
    for (std::size_t k = 0; k < at.size(); ++k) pr.x[n - 1 + k * n] = at[k];
    return pr;
}

// Evaluation at the observations themselves, as leave-one-out requires.
host::Problem at_observations(host::Problem pr)
{
    pr.m = pr.n;
    pr.t = pr.x;
    return pr;
}

struct Case {
    const char* title;
    const char* name;  // the export
    std::function<host::Problem()> make;
};

std::vector<Case> cases()
{
    std::vector<Case> c;
    auto with = [](host::Problem pr, std::function<void(host::Problem&)> change) {
        change(pr);
        return pr;
    };
    c.push_back({"local linear, conditional variance", "dorvane", [] {
                     host::Problem pr = problem(80, 1, 1, 9, 1, 0.15);
                     pr.vol = 1;
                     return pr;
                 }});
    c.push_back({"local linear, many observations", "dorvane", [] { return problem(600, 2, 2, 25, 2, 0.2); }});
    c.push_back({"squares of two regressors, 3 groups from phase 2", "dorvane", [=] {
                     return with(problem(90, 2, 2, 6, 3, 0.3), [](host::Problem& pr) {
                         pr.deg = 2, pr.vol = 1, pr.grp[0] = 3, pr.grp[1] = 2;
                     });
                 }});
    c.push_back({"dummy warning at every point", "dorvane", [=] {
                     return with(problem(70, 3, 2, 3, 4, 0.35), [](host::Problem& pr) { pr.vol = 1; });
                 }});
    c.push_back({"leave-one-out at the observations, 2 groups", "dorvane", [=] {
                     return with(at_observations(problem(40, 1, 1, 0, 5, 0.2)), [](host::Problem& pr) {
                         pr.nloo = 1, pr.vol = 1, pr.grp[0] = 2, pr.grp[1] = 1;
                     });
                 }});
    c.push_back({"nr = n/2", "dorvane", [=] {
                     return with(problem(60, 2, 2, 5, 6, 0.3), [](host::Problem& pr) { pr.nr = 30, pr.vol = 1; });
                 }});
    c.push_back({"leave-one-out refused when nr < n", "dorvane", [=] {
                     return with(problem(60, 1, 1, 4, 7, 0.3), [](host::Problem& pr) { pr.nr = 30, pr.nloo = 1; });
                 }});
    c.push_back({"conditioning test fails at the third point", "dorvane", [] {
                     // Observations at 0, 20, ..., 980 and a local fit in 1, x - t,
                     // (x - t)², (x - t)⁴; far outside the data the quartic column
                     // swamps the others.
                     host::Problem pr;
                     for (int i = 0; i < 50; ++i) {
                         pr.x.push_back(20.0 * i);
                         pr.y.push_back(0.1 * (i % 7) - 0.002 * i);
                     }
                     pr.n = pr.nr = 50;
                     pr.p = 1;
                     pr.t = {300.0, 500.0, 2000.0, 400.0, 600.0};
                     pr.m = 5;
                     pr.h = {50.0};
                     pr.deg = 3;
                     return pr;
                 }});
    c.push_back({"every weight underflows: LU report, refitted from the relative weights", "dorvane", [=] {
                     return with(problem(30, 1, 1, 2, 8, 0.4), [](host::Problem& pr) {
                         pr.t = {0.5, 40.0};
                         pr.vol = 1;
                     });
                 }});
    c.push_back({"no evaluation points", "dorvane", [=] { return problem(20, 1, 1, 0, 9, 0.3); }});
    c.push_back({"refused: nr > n", "dorvane", [=] {
                     return with(problem(20, 1, 1, 2, 10, 0.3), [](host::Problem& pr) { pr.nr = 21; });
                 }});
    c.push_back({"refused: more continuous regressors than p", "dorvane", [=] {
                     return with(problem(20, 2, 2, 2, 11, 0.3), [](host::Problem& pr) { pr.h[1] = -3; });
                 }});
    c.push_back({"local cubic, two regressors, groups scaled by 2.5", "tremsal", [=] {
                     return with(problem(120, 2, 2, 6, 12, 0.35), [](host::Problem& pr) {
                         pr.deg = 3, pr.vol = 1, pr.grp[0] = 2.5, pr.grp[1] = 1;
                     });
                 }});
    c.push_back({"local quadratic with a dummy", "tremsal", [=] {
                     return with(problem(100, 2, 1, 5, 13, 0.3), [](host::Problem& pr) { pr.deg = 2, pr.vol = 1; });
                 }});
    c.push_back({"local cubic, leave-one-out", "tremsal", [=] {
                     return with(at_observations(problem(35, 1, 1, 0, 14, 0.3)),
                                 [](host::Problem& pr) { pr.deg = 3, pr.nloo = 1, pr.vol = 1; });
                 }});
    c.push_back({"third-order terms of regressor 2", "locparg", [=] {
                     return with(problem(150, 2, 2, 5, 15, 0.4), [](host::Problem& pr) {
                         pr.deg = 3, pr.lam = 2, pr.vol = 1;
                     });
                 }});
    c.push_back({"third-order terms of regressor 1, with a dummy, 4 groups", "locparg", [=] {
                     return with(problem(160, 3, 2, 4, 16, 0.45), [](host::Problem& pr) {
                         pr.deg = 3, pr.lam = 1, pr.vol = 1, pr.grp[0] = 4, pr.grp[1] = 3;
                     });
                 }});
    c.push_back({"refused: lam = 0", "locparg", [=] {
                     return with(problem(30, 2, 2, 2, 17, 0.4), [](host::Problem& pr) { pr.deg = 3, pr.lam = 0; });
                 }});
    c.push_back({"refused: lam beyond the continuous regressors", "locparg", [=] {
                     return with(problem(30, 2, 2, 2, 18, 0.4), [](host::Problem& pr) { pr.deg = 3, pr.lam = 3; });
                 }});
    c.push_back({"cross products of regressor 2, three regressors", "locpa2g", [=] {
                     return with(problem(150, 3, 3, 5, 19, 0.4), [](host::Problem& pr) {
                         pr.deg = 2, pr.lam = 2, pr.vol = 1;
                     });
                 }});
    c.push_back({"cross products, leave-one-out, nloo = 2 is ordinary", "locpa2g", [=] {
                     return with(problem(60, 2, 2, 3, 20, 0.4), [](host::Problem& pr) {
                         pr.deg = 2, pr.lam = 1, pr.nloo = 2;
                     });
                 }});
    c.push_back({"refused: deg = 3", "locpa2g", [=] {
                     return with(problem(30, 2, 2, 2, 21, 0.4), [](host::Problem& pr) { pr.deg = 3, pr.lam = 1; });
                 }});

    // Stiff points: the normal equations cannot carry these fits, which are
    // solved again from the weighted rows (or NaN where even that fails).
    c.push_back({"stiff: an isolated observation, local linear, leave-one-out", "dorvane", [=] {
                     return with(at_observations(isolated(problem(60, 1, 1, 0, 31, 0.1), {2.0})),
                                 [](host::Problem& pr) { pr.nloo = 1, pr.vol = 1; });
                 }});
    c.push_back({"stiff: far outside the data, local quadratic", "dorvane", [=] {
                     return with(problem(120, 1, 1, 5, 32, 0.1), [](host::Problem& pr) {
                         pr.t = {0.5, 1.5, 2.2, 3.0, 6.0};
                         pr.deg = 2, pr.vol = 1;
                     });
                 }});
    c.push_back({"stiff: an isolated observation, local cubic, leave-one-out", "tremsal", [=] {
                     return with(at_observations(isolated(problem(50, 1, 1, 0, 33, 0.12), {2.5})),
                                 [](host::Problem& pr) { pr.deg = 3, pr.nloo = 1, pr.vol = 1; });
                 }});
    c.push_back({"stiff: two regressors, an isolated observation, local linear, leave-one-out", "dorvane", [=] {
                     return with(at_observations(isolated(problem(100, 2, 2, 0, 34, 0.15), {1.9, 1.7})),
                                 [](host::Problem& pr) { pr.nloo = 1, pr.vol = 1; });
                 }});
    c.push_back({"stiff: third-order terms of regressor 2 at and beyond an isolated observation", "locparg", [=] {
                     return with(isolated(problem(120, 2, 2, 3, 35, 0.25), {1.9, 1.7}), [](host::Problem& pr) {
                         pr.t = {1.9, 1.5, 0.4, 1.7, 1.4, 0.6};
                         pr.deg = 3, pr.lam = 2, pr.vol = 1;
                     });
                 }});
    c.push_back({"stiff: cross products, leave-one-out with an isolated observation", "locpa2g", [=] {
                     return with(at_observations(isolated(problem(80, 2, 2, 0, 36, 0.2), {1.9, 1.7})),
                                 [](host::Problem& pr) { pr.deg = 2, pr.lam = 1, pr.nloo = 1, pr.vol = 1; });
                 }});
    c.push_back({"stiff: nr < n, the isolated observation outside the intercept sums", "dorvane", [=] {
                     return with(isolated(problem(60, 1, 1, 4, 37, 0.1), {2.0}), [](host::Problem& pr) {
                         pr.t = {2.0, 1.5, 0.3, 2.5};
                         pr.nr = 50, pr.vol = 1;
                     });
                 }});
    c.push_back({"stiff: a dummy and the conditional variance, leave-one-out with an isolated observation",
                 "dorvane", [=] {
                     return with(at_observations(isolated(problem(70, 2, 1, 0, 38, 0.1), {2.0})),
                                 [](host::Problem& pr) { pr.nloo = 1, pr.vol = 1; });
                 }});
    return c;
}

std::uint64_t bits(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

void write_doubles(std::FILE* out, const char* label, const std::vector<double>& v)
{
    for (std::size_t k = 0; k < v.size(); ++k)
        std::fprintf(out, "%s %llu %016" PRIx64 "\n", label, static_cast<unsigned long long>(k), bits(v[k]));
}

// Every line printed, each after "out "; a last line without "\n" is marked.
void write_printed(std::FILE* out, const std::string& text)
{
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            std::fprintf(out, "out-unterminated %s\n", text.substr(from).c_str());
            break;
        }
        std::fprintf(out, "out %s\n", text.substr(from, end - from).c_str());
        from = end + 1;
    }
}

int write_transcript(const char* path, const char* dorvane_path, const char* tremsal_path)
{
    const host::Library dorvane(dorvane_path), tremsal(tremsal_path);
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "transcript: cannot write %s\n", path);
        return 1;
    }
    for (const Case& c : cases()) {
        const host::Problem pr = c.make();
        const host::Library& lib = std::strcmp(c.name, "dorvane") == 0 ? dorvane : tremsal;
        // mh and sh start as -777: entries a call leaves alone show as such.
        const host::Outcome o = call_export(lib, c.name, pr, -777.0);
        std::fprintf(out, "case %s: %s\nret %d\n", c.name, c.title, o.ret);
        write_printed(out, o.printed);
        write_doubles(out, "mh", o.mh);
        write_doubles(out, "sh", o.sh);
        write_doubles(out, "fh", o.fh);
    }
    const bool ok = std::fclose(out) == 0;
    if (!ok) std::fprintf(stderr, "transcript: cannot write %s\n", path);
    return ok ? 0 : 1;
}

std::vector<std::string> lines_of(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot read ") + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        std::string kept;
        for (char ch : line)
            if (ch != '\r') kept += ch;
        lines.push_back(kept);
    }
    return lines;
}

// The bits of the double on a line "mh 12 3ff0000000000000", or false.
bool double_line(const std::string& line, std::string& key, std::uint64_t& b)
{
    const std::size_t sp = line.rfind(' ');
    if (sp == std::string::npos || line.size() - sp != 17) return false;
    if (line.compare(0, 3, "mh ") != 0 && line.compare(0, 3, "sh ") != 0 && line.compare(0, 3, "fh ") != 0)
        return false;
    key = line.substr(0, sp);
    char* end = nullptr;
    b = std::strtoull(line.c_str() + sp + 1, &end, 16);
    return *end == '\0';
}

// Distance in units in the last place: the number of doubles between a and b.
std::uint64_t ulps(std::uint64_t a, std::uint64_t b)
{
    // Order the bit patterns like the values: negative numbers count down from 0.
    auto ordered = [](std::uint64_t v) {
        return (v >> 63) != 0 ? 0x8000000000000000ull - (v & 0x7FFFFFFFFFFFFFFFull) : v + 0x8000000000000000ull;
    };
    const std::uint64_t x = ordered(a), y = ordered(b);
    return x > y ? x - y : y - x;
}

int compare(const char* a_path, const char* b_path)
{
    const std::vector<std::string> a = lines_of(a_path), b = lines_of(b_path);
    std::size_t differing = 0, doubles = 0, shown = 0;
    std::uint64_t worst = 0;
    std::string title;
    for (std::size_t k = 0; k < a.size() || k < b.size(); ++k) {
        const std::string la = k < a.size() ? a[k] : "(end of file)";
        const std::string lb = k < b.size() ? b[k] : "(end of file)";
        if (la.compare(0, 5, "case ") == 0) title = la;
        if (la == lb) continue;
        ++differing;
        std::string ka, kb;
        std::uint64_t ba = 0, bb = 0;
        if (double_line(la, ka, ba) && double_line(lb, kb, bb) && ka == kb) {
            ++doubles;
            const std::uint64_t d = ulps(ba, bb);
            if (d > worst) worst = d;
        }
        if (shown++ < 12)
            std::printf("line %llu, in %s\n  %s: %s\n  %s: %s\n", static_cast<unsigned long long>(k + 1),
                        title.c_str(), a_path, la.c_str(), b_path, lb.c_str());
    }
    if (differing == 0) {
        std::printf("%s and %s agree: %llu lines\n", a_path, b_path, static_cast<unsigned long long>(a.size()));
        return 0;
    }
    std::printf("%llu of %llu lines differ; %llu of them are doubles, at most %" PRIu64 " ulp apart\n",
                static_cast<unsigned long long>(differing), static_cast<unsigned long long>(a.size()),
                static_cast<unsigned long long>(doubles), worst);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) return compare(argv[2], argv[3]);
        if (argc == 2 || argc == 4)
            return write_transcript(argv[1], argc == 4 ? argv[2] : default_paths[0],
                                    argc == 4 ? argv[3] : default_paths[1]);
        std::fprintf(stderr, "usage: transcript OUT [DORVANE TREMSAL] | transcript --compare A B\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "transcript: %s\n", e.what());
        return 1;
    }
}
