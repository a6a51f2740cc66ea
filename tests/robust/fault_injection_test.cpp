// Storage of a call under fault injection. This program replaces the free
// store's allocation functions and, outside AddressSanitizer builds, the C
// heap's (malloc, calloc, realloc, free), so that the k-th allocation that a
// call of an export makes from either fails, for every k the call makes. The
// exports run from the real shared libraries. Each such call must return 0
// with one refusal line, leave every output untouched and give back every
// block it took; the host process goes on, and the next call is served as if
// nothing had happened.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "exports/problems.h"
#include "matrix/Matrix"
#include "support.h"

#if defined(__SANITIZE_ADDRESS__)
#define LP_HEAP_INJECTION 0  // AddressSanitizer owns malloc
#else
#define LP_HEAP_INJECTION 1
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}
#endif

// The replacements below pair every allocation function with its own release,
// which the compiler cannot see as a pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

enum Heap { free_store, c_heap };

// While armed (on the calling thread only), the allocations of each heap are
// counted, the one numbered fail_at (from 1) of heap fail_heap fails, and the
// blocks taken are remembered until they are given back.
thread_local bool armed = false;
long made[2] = {0, 0};
long fail_at = 0;
Heap fail_heap = free_store;
constexpr int max_live = 512;
void* live[max_live];
int live_count = 0;
bool live_overflow = false;

bool refuse(Heap heap)
{
    if (!armed) return false;
    return ++made[heap] == fail_at && heap == fail_heap;
}

void* remember(void* p)
{
    if (armed && p != nullptr) {
        if (live_count < max_live)
            live[live_count++] = p;
        else
            live_overflow = true;
    }
    return p;
}

void forget(void* p)
{
    for (int k = live_count - 1; k >= 0; --k)
        if (live[k] == p) {
            live[k] = live[--live_count];
            return;
        }
}

void* raw_alloc(std::size_t bytes, std::size_t align)
{
    if (bytes == 0) bytes = 1;
#if LP_HEAP_INJECTION
    return align > alignof(std::max_align_t) ? __libc_memalign(align, bytes) : __libc_malloc(bytes);
#else
    return align > alignof(std::max_align_t) ? std::aligned_alloc(align, (bytes + align - 1) / align * align)
                                             : std::malloc(bytes);
#endif
}

void raw_free(void* p)
{
#if LP_HEAP_INJECTION
    __libc_free(p);
#else
    std::free(p);
#endif
}

void* take(std::size_t bytes, std::size_t align = 0)
{
    if (refuse(free_store)) return nullptr;
    return remember(raw_alloc(bytes, align));
}

void give(void* p, std::size_t /*align*/)
{
    if (p == nullptr) return;
    forget(p);
    raw_free(p);
}

}  // namespace

#if LP_HEAP_INJECTION
extern "C" {
void* malloc(std::size_t n)
{
    if (refuse(c_heap)) {
        errno = ENOMEM;
        return nullptr;
    }
    return remember(__libc_malloc(n));
}
void* calloc(std::size_t count, std::size_t size)
{
    if (refuse(c_heap)) {
        errno = ENOMEM;
        return nullptr;
    }
    return remember(__libc_calloc(count, size));
}
void* realloc(void* p, std::size_t n)
{
    if (refuse(c_heap)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* q = __libc_realloc(p, n);
    if (q != nullptr || n == 0) forget(p);
    return remember(q);
}
void free(void* p)
{
    if (p == nullptr) return;
    forget(p);
    __libc_free(p);
}
}
#endif

#include "replaced_new.inc"

namespace {

constexpr double fill = -5.0;

struct Trial {
    long allocations[2] = {0, 0};
    int leaked = 0;
    host::Outcome out;
};

// Calls export `name` on pr with the k-th allocation of `heap` failing (k = 0:
// none fails). The host's arrays and the capture of standard output are made
// before the injection is armed.
Trial run(const std::string& name, const host::Problem& pr, Heap heap, long k)
{
    Trial r;
    r.out = call_export(deliverable(name), name, pr, fill, {}, [&](const std::function<int()>& call) {
        made[0] = made[1] = 0;
        fail_at = k;
        fail_heap = heap;
        live_count = 0;
        live_overflow = false;
        armed = true;
        const int ret = call();
        armed = false;
        r.allocations[0] = made[0];
        r.allocations[1] = made[1];
        r.leaked = live_overflow ? max_live : live_count;
        return ret;
    });
    return r;
}

bool untouched(const host::Outcome& out)
{
    for (double v : out.mh)
        if (v != fill) return false;
    for (double v : out.sh)
        if (v != fill) return false;
    for (double v : out.fh)
        if (v != 0.0) return false;
    return true;
}

struct Case {
    const char* what;
    const char* name;
    host::Problem pr;
};

std::vector<Case> cases()
{
    std::vector<Case> c;
    auto add = [&c](const char* what, const char* name, host::Problem pr) { c.push_back({what, name, std::move(pr)}); };

    host::Problem plain = random_problem(40, 1, 1, 9, 1);
    add("linear", "dorvane", plain);

    host::Problem dummies = random_problem(40, 3, 2, 9, 2);
    dummies.vol = 1;
    dummies.grp[0] = 5, dummies.grp[1] = 2;
    add("dummy, groups, vol", "dorvane", dummies);

    host::Problem loo = random_problem(30, 1, 1, 30, 3);
    loo.t = loo.x;
    loo.nloo = 1;
    add("leave-one-out", "dorvane", loo);

    host::Problem loo_refused = loo;
    loo_refused.nr = 29;
    add("leave-one-out refused", "dorvane", loo_refused);

    add("failed point", "dorvane", extrapolated({300.0, 500.0, 2000.0, 700.0}));

    host::Problem refused = plain;
    refused.deg = 0;
    add("refused before storage", "dorvane", refused);

    host::Problem cubic = random_problem(60, 3, 2, 11, 4);
    cubic.deg = 3;
    cubic.vol = 1;
    cubic.grp[0] = 70, cubic.grp[1] = 3;  // more groups than observations
    add("cubic, dummy, 70 groups", "tremsal", cubic);

    host::Problem third = random_problem(60, 2, 2, 7, 5);
    third.deg = 3;
    third.lam = 2;
    third.vol = 1;
    add("third-order terms", "locparg", third);

    host::Problem lam0 = third;
    lam0.lam = 0;
    add("lam refused", "locparg", lam0);

    host::Problem cross = random_problem(60, 3, 3, 7, 6);
    cross.deg = 2;
    cross.lam = 2;
    cross.grp[0] = 3, cross.grp[1] = 1;
    add("cross products, groups", "locpa2g", cross);

    host::Problem cubic_refused = cross;
    cubic_refused.deg = 3;
    add("deg 3 refused", "locpa2g", cubic_refused);

    // An observation far from the others: its leave-one-out fit and some
    // of its neighbours' are refitted from the rows, in storage taken with
    // the rest of the call.
    host::Problem lone = random_problem(40, 1, 1, 40, 9, 0.1);
    lone.x[39] = 6.0;
    lone.t = lone.x;
    lone.nloo = 1;
    lone.vol = 1;
    add("stiff points refitted", "dorvane", lone);

    host::Problem lone2 = random_problem(60, 2, 2, 3, 10, 0.25);
    lone2.x[59] = 1.9, lone2.x[119] = 1.7;
    lone2.t = {1.5, 0.4, 2.3, 1.4, 0.6, 2.0};
    lone2.deg = 2, lone2.lam = 1, lone2.vol = 1, lone2.nr = 50;
    add("stiff, nr < n", "locpa2g", lone2);
    return c;
}

}  // namespace

TEST(FaultInjection, EveryFailedAllocationIsARefusal)
{
    for (const Case& c : cases()) {
        const Trial clean = run(c.name, c.pr, free_store, 0);
        ASSERT_EQ(clean.out.ret, 0) << c.what;
        ASSERT_EQ(clean.leaked, 0) << c.what;
        ASSERT_LT(clean.allocations[free_store], 20) << c.what << ": the per-point work must not allocate";
        // The estimators take nothing from the C heap.
        EXPECT_EQ(clean.allocations[c_heap], 0) << c.what;
        const std::string refusal = std::string(c.name) + ": cannot allocate ";
        int refused = 0;
        for (Heap heap : {free_store, c_heap}) {
            for (long k = 1; k <= clean.allocations[heap]; ++k) {
                const Trial failed = run(c.name, c.pr, heap, k);
                const std::string at = std::string(c.what) + ", allocation " + std::to_string(k);
                EXPECT_EQ(failed.out.ret, 0) << at;
                EXPECT_TRUE(untouched(failed.out)) << at;
                EXPECT_EQ(failed.leaked, 0) << at;
                EXPECT_EQ(failed.out.printed.rfind(refusal, 0), 0u) << at << ": " << failed.out.printed;
                EXPECT_EQ(failed.out.printed.find('\n'), failed.out.printed.size() - 1) << at;
                ++refused;
            }
        }
        // The stiff cases reach the refit, which gives every point a finite fit.
        if (std::string(c.what).rfind("stiff", 0) == 0) {
            for (double v : clean.out.mh) EXPECT_TRUE(std::isfinite(v)) << c.what;
        }
        // The injection is gone: the call is served as before, bit for bit.
        const Trial again = run(c.name, c.pr, free_store, 0);
        EXPECT_EQ(again.out.printed, clean.out.printed) << c.what;
        EXPECT_TRUE(same_bits(again.out.mh, clean.out.mh)) << c.what;
        EXPECT_TRUE(same_bits(again.out.sh, clean.out.sh)) << c.what;
        EXPECT_TRUE(same_bits(again.out.fh, clean.out.fh)) << c.what;
        std::printf("%-8s %-24s %2ld + %ld allocations, %2d injected failures refused, untouched, no leak\n", c.name,
                    c.what, clean.allocations[free_store], clean.allocations[c_heap], refused);
    }
}

TEST(FaultInjection, AllocationsDoNotGrowWithThePoints)
{
    host::Problem few = random_problem(40, 2, 2, 3, 7), many = random_problem(40, 2, 2, 500, 7);
    const Trial a = run("dorvane", few, free_store, 0), b = run("dorvane", many, free_store, 0);
    EXPECT_GT(a.allocations[free_store], 0);
    EXPECT_EQ(a.allocations[free_store], b.allocations[free_store]);
}

TEST(FaultInjection, AnImpossibleDesignIsRefusedBeforeAnyAllocation)
{
    // deg = 2^32 + 29663232 reads as 29663232, and B = 1 + deg columns would
    // need some 6e16 bytes of moment matrices.
    host::Problem huge = random_problem(40, 1, 1, 1, 8);
    huge.deg = 4294967296.0 + 29663232;
    const Trial r = run("tremsal", huge, free_store, 0);
    EXPECT_EQ(r.allocations[free_store] + r.allocations[c_heap], 0);
    EXPECT_EQ(r.out.printed, "tremsal: 29663233 design columns are more than can be served\n");
    EXPECT_TRUE(untouched(r.out));
}

#if LP_HEAP_INJECTION
// The matrix library's own inverse and eigen decomposition take their work
// storage from both heaps; a shortage there ends the process with status 1
// and a message, never a crash.
TEST(FaultInjectionDeathTest, MatrixWorkStorageShortageEndsTheProcessCleanly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    lp::Matrix A(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) A(i, j) = i == j ? 4.0 : 1.0;
    auto counted = [&](Heap heap, auto op) {
        made[0] = made[1] = 0;
        fail_at = 0;
        armed = true;
        op();
        armed = false;
        return made[heap];
    };
    auto failing = [](Heap heap, long k, auto op) {
        made[0] = made[1] = 0;
        fail_at = k;
        fail_heap = heap;
        armed = true;
        op();
    };
    auto invert = [&] {
        lp::Matrix B = A;
        B.inverse();
    };
    auto eigen = [&] {
        lp::Matrix values;
        delete A.eigen(values);
    };
    for (Heap heap : {free_store, c_heap})
        for (long k = 1, count = counted(heap, eigen); k <= count; ++k)
            EXPECT_EXIT(failing(heap, k, eigen), testing::ExitedWithCode(1), "")
                << "eigen, heap " << heap << ", allocation " << k;
    ASSERT_EQ(counted(c_heap, invert), 1);
    EXPECT_EXIT(failing(c_heap, 1, invert), testing::ExitedWithCode(1), "Tried to allocate");
}
#endif
