// Runs a fixed list of fits through the fitting core and writes their
// transcript: every table column, every named value as the hexadecimal digits
// of its bits, and every text. One source is built for every platform, so two
// transcripts are equal exactly when the cores gave the same bits: the
// bandwidths they chose, the standard errors and intervals, and the draws of
// the simultaneous band.
//
// Usage: core_transcript OUT             write the transcript
//        core_transcript --compare A B   compare two, ignoring "\r"; exit 1 when they differ
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "lpcore.h"

namespace {

// splitmix64: the same doubles in [0, 1) everywhere.
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

struct Data {
    std::vector<double> x1, x2, d, y;
    Data(int n, std::uint64_t seed)
    {
        Stream r{seed};
        for (int i = 0; i < n; ++i) {
            x1.push_back(r.next());
            x2.push_back(r.next());
            d.push_back(r.next() < 0.4 ? 1.0 : 0.0);
            const double noise = r.next() + r.next() + r.next() - 1.5;
            const double v = x1.back();
            y.push_back(v - 2 * v * v + 1.5 * v * v * v + 0.5 * d.back() + x2.back() + (0.2 + 0.3 * v) * noise);
        }
    }
};

std::string hex(double v)
{
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016" PRIx64, u);
    return buf;
}

struct Case {
    const char* title;
    const char* estimator;
    bool second, dummy;
    std::vector<std::pair<const char*, const char*>> texts;
    std::vector<std::pair<const char*, long long>> ints;
    std::vector<std::pair<const char*, std::vector<double>>> lists;
};

std::vector<Case> cases()
{
    return {
        {"cross-validation minimised, rbc intervals", "dorvane", false, false, {{"bandwidth", "cv"}, {"ci", "rbc"}},
         {{"grid", 9}}, {}},
        {"AICc in two regressors with a dummy", "dorvane", true, true, {{"bandwidth", "aicc"}}, {}, {{"at", {0.3, 0.6, 0.4, 0.7}}}},
        {"plug-in, uniform band", "dorvane", false, false, {{"bandwidth", "plugin"}, {"ci", "uniform"}},
         {{"grid", 15}, {"seed", 3}}, {}},
        {"local cubic, pointwise intervals with the leverage variance", "tremsal", false, false,
         {{"ci", "pointwise"}, {"se", "leverage"}}, {{"grid", 7}, {"vol", 1}}, {}},
        {"locpa2g, rbc, a grid of candidates", "locpa2g", true, false, {{"ci", "rbc"}, {"se", "nn"}}, {{"grid", 4}},
         {{"cv_grid", {0.2, 0.3, 0.5, 0.25, 0.4, 0.6}}}},
        {"fitted values, residual variance", "dorvane", false, true, {}, {{"fitted", 1}, {"var_residual", 1}}, {}},
    };
}

void write_case(std::FILE* out, const Case& c, const Data& d)
{
    lpc_request* s = lpc_request_new(c.estimator);
    lpc_set_response(s, "y", d.y.data(), d.y.size());
    lpc_add_regressor(s, "a", d.x1.data(), d.x1.size(), 0);
    if (c.second) lpc_add_regressor(s, "b", d.x2.data(), d.x2.size(), 0);
    if (c.dummy) lpc_add_regressor(s, "d", d.d.data(), d.d.size(), 1);
    for (const auto& t : c.texts) lpc_set_text(s, t.first, t.second);
    for (const auto& i : c.ints) lpc_set_int(s, i.first, i.second);
    for (const auto& l : c.lists) lpc_set_doubles(s, l.first, l.second.data(), l.second.size());
    lpc_set_int(s, "threads", 2);
    lpc_fit* f = nullptr;
    const int status = lpc_run(s, nullptr, nullptr, &f);
    std::fprintf(out, "case %s\nstatus %d %s\n", c.title, status, lpc_message(f));
    for (std::size_t k = 0; k < lpc_columns(f); ++k) {
        std::fprintf(out, "column %s", lpc_column_name(f, k));
        for (std::size_t j = 0; j < lpc_rows(f); ++j) std::fprintf(out, " %s", hex(lpc_column(f, k)[j]).c_str());
        std::fprintf(out, "\n");
    }
    for (std::size_t k = 0; const char* name = lpc_name(f, "values", k); ++k) {
        std::size_t count = 0;
        const double* v = lpc_values(f, name, &count);
        std::fprintf(out, "value %s", name);
        for (std::size_t j = 0; j < count; ++j) std::fprintf(out, " %s", hex(v[j]).c_str());
        std::fprintf(out, "\n");
    }
    for (std::size_t k = 0; const char* name = lpc_name(f, "texts", k); ++k)
        std::fprintf(out, "text %s\n%s\n", name, lpc_text(f, name, 1));
    lpc_fit_free(f);
    lpc_request_free(s);
}

std::vector<std::string> lines(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> v;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        v.push_back(line);
    }
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) {
        const std::vector<std::string> a = lines(argv[2]), b = lines(argv[3]);
        if (a.empty()) return std::fprintf(stderr, "%s is empty\n", argv[2]), 1;
        for (std::size_t k = 0; k < std::max(a.size(), b.size()); ++k)
            if (k >= a.size() || k >= b.size() || a[k] != b[k]) {
                std::fprintf(stderr, "line %zu differs:\n  %s\n  %s\n", k + 1, k < a.size() ? a[k].c_str() : "(end)",
                             k < b.size() ? b[k].c_str() : "(end)");
                return 1;
            }
        std::printf("%zu lines agree\n", a.size());
        return 0;
    }
    if (argc != 2) return std::fprintf(stderr, "usage: core_transcript OUT | core_transcript --compare A B\n"), 2;
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) return std::perror(argv[1]), 2;
    const Data d(160, 11);
    for (const Case& c : cases()) write_case(out, c, d);
    return std::fclose(out) == 0 ? 0 : 2;
}
