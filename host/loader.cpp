// Export calls on host arrays and capture of what the libraries print. The
// loading itself is per platform: library_posix.cpp, library_win32.cpp.
#include "host/loader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/platform.h"

namespace host {

namespace {

// The integer a library reads from a host double: truncation toward zero,
// then the low 32 bits (NaN and the infinities read as 0). Any double gives
// a count whose products with another stay within 64 bits.
long long whole(double v)
{
    if (!std::isfinite(v)) return 0;
    double r = std::fmod(std::trunc(v), 4294967296.0);  // exact
    if (r < 0) r += 4294967296.0;
    const auto low = static_cast<long long>(r);
    return low < 2147483648LL ? low : low - 4294967296LL;
}

long long continuous(const Problem& pr)
{
    const long long p = whole(pr.p);
    if (p < 1 || static_cast<long long>(pr.h.size()) < p) return 0;
    const double last = pr.h[p - 1];
    return last >= 0 ? p : -whole(last);
}

}  // namespace

int output_columns(const std::string& name, const Problem& pr)
{
    const long long p = whole(pr.p), pc = continuous(pr), deg = whole(pr.deg);
    long long B = 1 + pc * deg + (p - pc);
    if (name == "locparg") B = p + 4 * pc - 1;
    if (name == "locpa2g") B = p + 2 * pc;
    return B >= 1 && B < 100000 ? static_cast<int>(B) : 1;
}

std::size_t density_size(const Problem& pr)
{
    const long long m = std::max(0LL, whole(pr.m)), K = whole(pr.grp[0]);
    return static_cast<std::size_t>(K >= 2 ? m * (K + 1) : m);
}

int invoke(const Library& lib, const std::string& name, Problem& pr, double* mh, double* sh, double* fh)
{
    if (name == "locparg" || name == "locpa2g")
        return lib.get<Estimator16>(name)(pr.x.data(), &pr.n, &pr.p, pr.y.data(), &pr.nr, pr.t.data(), &pr.m,
                                          pr.h.data(), pr.grp, mh, sh, fh, &pr.deg, &pr.vol, &pr.nloo, &pr.lam);
    return lib.get<Estimator15>(name)(pr.x.data(), &pr.n, &pr.p, pr.y.data(), &pr.nr, pr.t.data(), &pr.m,
                                      pr.h.data(), pr.grp, mh, sh, fh, &pr.deg, &pr.vol, &pr.nloo);
}

Outcome outputs(const std::string& name, const Problem& pr, double fill, const std::vector<double>& fh0)
{
    const std::size_t m = static_cast<std::size_t>(std::max(0LL, whole(pr.m)));
    const std::size_t B = static_cast<std::size_t>(output_columns(name, pr));
    Outcome out;
    out.mh.assign(std::max<std::size_t>(m * B, 1), fill);
    out.sh.assign(std::max<std::size_t>(m * B, 1), fill);
    out.fh = fh0.empty() ? std::vector<double>(std::max<std::size_t>(density_size(pr), 1), 0.0) : fh0;
    return out;
}

Outcome call(const Library& lib, const std::string& name, const Problem& pr, double fill,
             const std::vector<double>& fh0)
{
    Outcome out = outputs(name, pr, fill, fh0);

    // The host's own copies: the library must read them and write only outputs.
    Problem copy = pr;
    if (copy.t.empty()) copy.t.push_back(0.0);

    StdoutCapture capture;
    out.ret = invoke(lib, name, copy, out.mh.data(), out.sh.data(), out.fh.data());
    out.printed = capture.finish();
    return out;
}

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    file = scratch_file();
    if (file == nullptr) throw std::runtime_error("cannot open a temporary file");
    saved = dup(STDOUT_FILENO);
    if (saved < 0 || dup2(fileno(file), STDOUT_FILENO) < 0) {
        if (saved >= 0) close(saved);
        std::fclose(file);
        throw std::runtime_error("cannot redirect standard output");
    }
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::finish()
{
    if (file == nullptr) return {};
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text;
    std::rewind(file);
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, got);
    std::fclose(file);
    file = nullptr;
    return text;
}

const std::vector<double>& Table::column(const std::string& name) const
{
    for (std::size_t k = 0; k < names.size(); ++k)
        if (names[k] == name) return columns[k];
    throw std::runtime_error("no column " + name);
}

Table read_csv(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    Table tab;
    std::string line, cell;
    if (!std::getline(in, line)) throw std::runtime_error(path + " is empty");
    std::istringstream head(line);
    while (std::getline(head, cell, ',')) tab.names.push_back(cell);
    tab.columns.resize(tab.names.size());
    for (int row = 2; std::getline(in, line); ++row) {
        if (line.empty() || line == "\r") continue;
        std::istringstream fields(line);
        std::size_t k = 0;
        for (; std::getline(fields, cell, ','); ++k) {
            char* end = nullptr;
            errno = 0;
            const double v = std::strtod(cell.c_str(), &end);
            if (k >= tab.names.size() || end == cell.c_str() || errno == ERANGE)
                throw std::runtime_error(path + ":" + std::to_string(row) + ": not a number: " + cell);
            tab.columns[k].push_back(v);
        }
        if (k != tab.names.size())
            throw std::runtime_error(path + ":" + std::to_string(row) + ": expected " +
                                     std::to_string(tab.names.size()) + " fields");
    }
    return tab;
}

}  // namespace host
