// Reading and checking of the argument block, and the whole call of an export.
//
// The exports are the trust boundary: any host may call them with anything.
// Everything that could end the host process, write outside the host's arrays
// or overflow a count is refused here, before anything is allocated or written,
// with one line on standard output and the return value 0.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "estimators/frame.h"

namespace lp {

int toint(double v)
{
    if (!std::isfinite(v)) return 0;
    // Reduction modulo 2^32 is exact in floating point and agrees with the low
    // 32 bits of a 64-bit truncation wherever that truncation exists.
    double r = std::fmod(std::trunc(v), 4294967296.0);
    if (r < 0.0) r += 4294967296.0;
    const auto low = static_cast<std::uint32_t>(r);
    return low <= 2147483647u ? static_cast<int>(low)
                              : static_cast<int>(static_cast<std::int64_t>(low) - 4294967296LL);
}

void say(const Args& a, int j, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (a.report == nullptr || a.report->text == nullptr) {
        std::vprintf(format, args);
    } else {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        a.report->text(a.report->ctx, j, text);
    }
    va_end(args);
}

bool read_args(const Pointers& ptr, const char* name, Args& a)
{
    // Every scalar must be there and be a finite number before it is read.
    const struct {
        const double* v;
        const char* label;
    } scalars[] = {{ptr.n, "n"},     {ptr.p, "p"},     {ptr.nr, "nr"},     {ptr.m, "m"},
                   {ptr.deg, "deg"}, {ptr.vol, "vol"}, {ptr.nloo, "nloo"}, {ptr.lam, "lam"}};
    a.name = name;
    const auto refuse = [&a](const char* what) {
        say(a, -1, "%s: %s\n", a.name, what);
        return false;
    };
    const int nscalars = ptr.lam != nullptr ? 8 : 7;
    for (int k = 0; k < nscalars; ++k) {
        if (scalars[k].v == nullptr) {
            say(a, -1, "%s: %s is a null pointer\n", name, scalars[k].label);
            return false;
        }
        if (!std::isfinite(*scalars[k].v)) {
            say(a, -1, "%s: %s is not a finite number\n", name, scalars[k].label);
            return false;
        }
    }
    if (ptr.grp == nullptr) return refuse("grp is a null pointer");
    if (!std::isfinite(ptr.grp[0])) return refuse("grp[0] is not a finite number");
    if (!std::isfinite(ptr.grp[1])) return refuse("grp[1] is not a finite number");

    a.n = toint(*ptr.n);
    a.p = toint(*ptr.p);
    a.nr = toint(*ptr.nr);
    a.m = toint(*ptr.m);
    a.deg = toint(*ptr.deg);
    a.vol = toint(*ptr.vol);
    a.nloo = toint(*ptr.nloo);
    a.lam = ptr.lam != nullptr ? toint(*ptr.lam) : 0;
    a.K = toint(ptr.grp[0]);
    a.phase = toint(ptr.grp[1]);

    if (a.n < 1) return refuse("n must be at least 1");
    if (a.p < 1) return refuse("p must be at least 1");
    if (a.nr < 1 || a.nr > a.n) return refuse("nr must lie between 1 and n");
    if (a.m < 0) return refuse("m must not be negative");
    if (a.deg < 1) return refuse("deg must be at least 1");
    if (a.K >= 2 && a.phase < 1) return refuse("grp[1] (the phase) must be at least 1 when grp[0] asks for groups");

    // The sign of the last bandwidth carries the number of continuous
    // regressors, which come first.
    if (ptr.h == nullptr) return refuse("h is a null pointer");
    const double last = ptr.h[a.p - 1];
    const std::int64_t pc = last >= 0.0 ? a.p : -static_cast<std::int64_t>(toint(last));
    if (pc < 1 || pc > a.p) {
        say(a, -1, "%s: h[p-1] = %g gives %lld continuous regressors; there must be 1 to p = %d\n", name,
                    last, static_cast<long long>(pc), a.p);
        return false;
    }
    a.pc = static_cast<int>(pc);
    // A negative bandwidth would give negative weights and densities; a zero
    // one is left to flow as NaN.
    for (int k = 0; k < a.pc; ++k) {
        if (ptr.h[k] < 0.0) {
            say(a, -1, "%s: bandwidth h[%d] is negative\n", name, k);
            return false;
        }
    }

    if (ptr.x == nullptr || ptr.y == nullptr || ptr.fh == nullptr)
        return refuse("x, y and fh must not be null pointers");
    if (a.m > 0 && (ptr.t == nullptr || ptr.mh == nullptr))
        return refuse("t and mh must not be null pointers");
    if (a.m > 0 && a.vol != 0 && ptr.sh == nullptr) return refuse("sh must not be a null pointer when vol is not 0");

    a.x = ptr.x;
    a.y = ptr.y;
    a.t = ptr.t;
    a.h = ptr.h;
    a.grp = ptr.grp;
    a.mh = ptr.mh;
    a.sh = ptr.sh;
    a.fh = ptr.fh;
    return true;
}

namespace {

// The floating-point environment of a call: round to nearest, subnormals
// kept, every exception masked, whatever the host set; the host's own is
// restored on return. Results therefore never depend on the host's settings.
class FloatingPointDefaults {
public:
#if defined(__SSE2__)
    FloatingPointDefaults() : saved(_mm_getcsr()) { _mm_setcsr(0x1F80); }
    ~FloatingPointDefaults() { _mm_setcsr(saved); }

private:
    unsigned saved;
#endif
};

}  // namespace

int estimate(const Pointers& ptr, const char* name, LayoutRule rule, Path path)
{
    // The host reads our lines in order with its own output.
    struct FlushOnReturn {
        ~FlushOnReturn() { std::fflush(stdout); }
    } flush;
    const FloatingPointDefaults environment;

    Args a{};
    if (!read_args(ptr, name, a)) return 0;
    Layout lay;
    if (!rule(a, lay)) return 0;
    return fit(a, lay, path);
}

int run(const Args& a, LayoutRule rule, Path path)
{
    const FloatingPointDefaults environment;
    Layout lay;
    if (!rule(a, lay)) return 0;
    return fit(a, lay, path);
}

}  // namespace lp
