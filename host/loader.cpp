// Export calls on host arrays. The loading itself is per platform:
// library_posix.cpp, library_win32.cpp.
#include "host/loader.h"

#include <algorithm>
#include <cmath>

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

}  // namespace host
