// Storage of a call under fault injection, the engine linked statically (on
// Windows, where a DLL keeps its own allocator, this is the fault injection;
// elsewhere tests/robust/ injects through the shared libraries). This program
// replaces the free
// store's allocation functions so that the k-th allocation of a call fails,
// for every k the call makes. Each such call must end in a refusal, return 0
// and leave every output untouched; the process goes on.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <malloc.h>
#endif

#include "estimators/frame.h"
#include "plain_alloc.h"
#include "support.h"

// The replacements below pair every allocation function with its own release
// through malloc and free, which the compiler cannot see as a pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// While armed: allocations are counted, the largest request is kept, and the
// allocation numbered `fail_at` (from 1) fails.
std::atomic<bool> armed{false};
std::atomic<long> made{0}, fail_at{0};
std::atomic<std::size_t> largest{0}, total{0};

bool refuse(std::size_t bytes)
{
    if (!armed) return false;
    const long k = ++made;
    total += bytes;
    std::size_t seen = largest;
    while (bytes > seen && !largest.compare_exchange_weak(seen, bytes)) {
    }
    return k == fail_at;
}

void* take(std::size_t bytes, std::size_t align = 0)
{
    if (refuse(bytes)) return nullptr;
    return plain_take(bytes, align);
}

void give(void* p, std::size_t align) { plain_give(p, align); }

}  // namespace

#include "replaced_new.inc"

namespace {

bool power_rule(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, false); }
bool cubic_rule(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, true); }
bool products_rule(const lp::Args& a, lp::Layout& lay)
{
    return lp::lam_products(a, lay, static_cast<std::int64_t>(a.p) + 2LL * a.pc);
}

struct Case {
    const char* what;
    lp::LayoutRule rule;
    int n, p, pc, m, deg;
    double K, nloo, nr;  // nr < 0: n
    bool fails;          // a point fails its conditioning check
    bool lone = false;   // the last observation far from the others: stiff points, refitted
};

struct Outcome {
    long allocations = 0;
    std::size_t largest = 0;
    std::size_t total = 0;    // bytes of all allocations
    double counted = 0;       // what call_bytes says the call takes
    std::string printed;
    bool untouched = true;
};

// Runs the case with the k-th allocation failing (k = 0: none fails).
Outcome run(const Case& c, long k)
{
    const int n = c.n, p = c.p, m = c.m, B = std::min(1 + c.pc * c.deg + (p - c.pc) + 4, 64);
    std::vector<double> x(static_cast<std::size_t>(n) * p), y(n), t(static_cast<std::size_t>(m) * p), h(p, 0.4);
    for (int k2 = 0; k2 < p; ++k2)
        for (int i = 0; i < n; ++i) x[i + k2 * n] = k2 < c.pc ? (i * 0.37 + k2) - static_cast<int>(i * 0.37 + k2) : i % 2;
    for (int i = 0; i < n; ++i) y[i] = x[i] * x[i] + 0.1 * (i % 5);
    for (int k2 = 0; k2 < p; ++k2)
        for (int j = 0; j < m; ++j) t[j + k2 * m] = 0.2 + 0.6 * j / m;
    if (c.fails && m > 2) {  // far outside the data of a local quartic: the check sum is about 1e12
        for (int i = 0; i < n; ++i) x[i] = 20.0 * i;
        for (int j = 0; j < m; ++j) t[j] = 300.0 + 20.0 * j;
        t[2] = 2000.0;
        h[0] = 50.0;
    }
    if (c.lone) {  // at its own leave-one-out fit every weight underflows
        x[n - 1] = 6.0;
        h[0] = 0.1;
    }
    if (c.nloo == 1) t = x;
    if (c.pc < p) h[p - 1] = -c.pc;
    const std::size_t cells = static_cast<std::size_t>(m) * B, dens = static_cast<std::size_t>(m) * (c.K >= 2 ? c.K + 1 : 1);
    std::vector<double> mh(cells, -5.0), sh(cells, -5.0), fh(dens, 0.0);
    double dn = n, dp = p, dnr = c.nr < 0 ? n : c.nr, dm = m, grp[2] = {c.K, 1}, deg = c.deg, vol = 1, nloo = c.nloo,
           lam = 1;
    const lp::Pointers ptr{x.data(), &dn, &dp, y.data(), &dnr, t.data(), &dm, h.data(), grp,
                           mh.data(), sh.data(), fh.data(), &deg, &vol, &nloo, &lam};
    Outcome out;
    made = 0;
    largest = total = 0;
    fail_at = k;
    out.printed = printed_by([&] {
        armed = true;
        EXPECT_EQ(lp::estimate(ptr, "test", c.rule), 0);
        armed = false;
    });
    out.allocations = made;
    out.largest = largest;
    out.total = total;
    lp::Args a{};
    lp::Layout lay;
    if (lp::read_args(ptr, "test", a) && c.rule(a, lay)) out.counted = lp::call_bytes(a, lay.size());
    for (double v : mh) out.untouched = out.untouched && v == -5.0;
    for (double v : sh) out.untouched = out.untouched && v == -5.0;
    for (double v : fh) out.untouched = out.untouched && v == 0.0;
    return out;
}

const Case cases[] = {
    {"linear", power_rule, 40, 1, 1, 9, 1, 0, 0, -1, false},
    {"dummy and groups", power_rule, 40, 2, 1, 9, 2, 5, 0, -1, false},
    {"leave-one-out", power_rule, 30, 1, 1, 30, 1, 0, 1, -1, false},
    {"leave-one-out refused", power_rule, 30, 1, 1, 30, 1, 0, 1, 29, false},
    {"cubic, two regressors", cubic_rule, 60, 2, 2, 11, 3, 0, 0, -1, false},
    {"cross products", products_rule, 60, 3, 3, 7, 2, 3, 0, -1, false},
    {"failed point", power_rule, 50, 1, 1, 9, 3, 0, 0, -1, true},
    {"stiff points refitted", power_rule, 40, 1, 1, 40, 1, 0, 1, -1, false, true},
};

}  // namespace

TEST(FaultInjection, EveryFailedAllocationIsARefusal)
{
    for (const Case& c : cases) {
        const Outcome clean = run(c, 0);
        ASSERT_GT(clean.allocations, 0) << c.what;
        ASSERT_LT(clean.allocations, 20) << c.what << ": the per-point work must not allocate";
        for (long k = 1; k <= clean.allocations; ++k) {
            const Outcome failed = run(c, k);
            EXPECT_TRUE(failed.untouched) << c.what << ", allocation " << k;
            EXPECT_EQ(failed.printed.rfind("test: cannot allocate", 0), 0u) << c.what << ", allocation " << k << ": "
                                                                           << failed.printed;
        }
        // The injection is gone: the call is served as before.
        EXPECT_EQ(run(c, 0).printed, clean.printed) << c.what;
        if (c.fails) {
            EXPECT_NE(clean.printed.find("t: sum of off-diagonal element"), std::string::npos);
        }
        if (c.lone) {
            EXPECT_NE(clean.printed.find("Singular matrix in routine LUDCMP"), std::string::npos);
        }
        std::printf("%-24s %2ld allocations, each failure refused with the outputs untouched\n", c.what,
                    clean.allocations);
    }
}

TEST(FaultInjection, CallBytesCountsEveryAllocation)
{
    // The layout's own columns, the moment matrices, the batch lanes, the LU
    // work and the refit's rows: nothing a call takes is left out of the
    // count that decides whether it can be served.
    for (const Case& c : cases) {
        const Outcome clean = run(c, 0);
        EXPECT_LE(static_cast<double>(clean.total), clean.counted) << c.what;
    }
    Case big = cases[0];
    big.n = 4000;
    const Outcome out = run(big, 0);
    EXPECT_LE(static_cast<double>(out.total), out.counted);
    EXPECT_GT(out.total, 4000u * (2 + 3) * sizeof(double));  // the refit's rows grow with n
}

TEST(FaultInjection, AllocationsDoNotGrowWithThePoints)
{
    Case few = cases[0], many = cases[0];
    many.m = 500;
    EXPECT_EQ(run(few, 0).allocations, run(many, 0).allocations);
}

TEST(FaultInjection, AnImpossibleDesignIsRefusedBeforeAnyAllocation)
{
    // deg = -5.12e19 reads as 29663232, and B = 1 + deg columns would need
    // some 6e16 bytes of moment matrices.
    Case huge = cases[0];
    huge.deg = 29663232;
    huge.m = 1;
    const Outcome out = run(huge, 0);
    EXPECT_EQ(out.allocations, 0);
    EXPECT_EQ(out.printed, "test: 29663233 design columns are more than can be served\n");
}
