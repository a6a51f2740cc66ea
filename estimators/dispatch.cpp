// Which batch kernels this processor can run, asked of the processor itself
// (cpuid, and xgetbv for the registers the operating system saves), once per
// call. A library built for the baseline loads everywhere and widens its
// vectors where it can.
#include <initializer_list>

#include "estimators/batch.h"
#include "estimators/frame.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace lp {

namespace {

struct Features {
    bool sse2 = false, avx2 = false, avx512 = false;
};

Features features()
{
    Features f;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.sse2 = (d >> 26) & 1;
    const bool fma = (c >> 12) & 1, osxsave = (c >> 27) & 1, avx = (c >> 28) & 1;
    if (!(fma && osxsave && avx)) return f;
    unsigned xlo = 0, xhi = 0;
    __asm__ volatile("xgetbv" : "=a"(xlo), "=d"(xhi) : "c"(0));
    const bool ymm = (xlo & 0x6) == 0x6, zmm = (xlo & 0xE6) == 0xE6;
    if (!ymm || __get_cpuid_max(0, nullptr) < 7) return f;
    __cpuid_count(7, 0, a, b, c, d);
    f.avx2 = (b >> 5) & 1;
    f.avx512 = f.avx2 && zmm && ((b >> 16) & 1);
#endif
    return f;
}

bool available(const Features& f, Path path)
{
    switch (path) {
    case Path::widest:
    case Path::scalar: return true;
    case Path::sse2: return f.sse2 && kernel_sse2().width > 0;
    case Path::avx2: return f.avx2 && kernel_avx2().width > 0;
    case Path::avx512: return f.avx512 && kernel_avx512().width > 0;
    }
    return false;
}

}  // namespace

bool path_available(Path path) { return available(features(), path); }

Path widest_path()
{
    // A benchmark build may cap the path (LP_WIDEST_PATH: 1 AVX-512, 2 AVX2,
    // 3 SSE2, 4 scalar) to time the narrower ones through the exports.
#ifdef LP_WIDEST_PATH
    const int cap = LP_WIDEST_PATH;
#else
    const int cap = 1;
#endif
    const Features f = features();
    for (Path p : {Path::avx512, Path::avx2, Path::sse2})
        if (static_cast<int>(p) >= cap && available(f, p)) return p;
    return Path::scalar;
}

}  // namespace lp
