// The core when the free store runs dry: the k-th allocation of a run fails,
// for every k, and each run ends with LPC_ENOMEM (or a fit, once the failure
// comes too late to matter), nothing leaked and nothing left half-done.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "core.h"
#include "plain_alloc.h"

namespace {

std::atomic<long> counted{0}, fail_at{-1};

void* take(std::size_t bytes, std::size_t align = 0)
{
    if (counted++ == fail_at) return nullptr;
    return plain_take(bytes, align);
}

void give(void* p, std::size_t align) { plain_give(p, align); }

}  // namespace

#include "replaced_new.inc"

namespace {

TEST(CoreMemory, EveryFailedAllocationOfARunIsReportedAndReleased)
{
    const Data d(60);
    const struct {
        const char* what;
        void (*set)(Request&);
    } runs[] = {
        {"a grid of candidates and intervals", [](Request& s) { s.set("cv", 3LL).set("ci", "rbc").set("grid", 5LL); }},
        {"minimised cross-validation and a band",
         [](Request& s) { s.set("bandwidth", "cv").set("ci", "uniform").set("grid", 4LL); }},
        {"dropped values, fitted values, leave-one-out",
         [](Request& s) { s.set("missing", "drop").set("fitted", 1LL).set("loo", 1LL).set("bandwidth", 0.3); }},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.what);
        Request s("dorvane");
        s.y(d.y).x("x1", d.x1).x("d", d.d, true).set("threads", 1LL);
        r.set(s);
        // The allocations of one undisturbed run.
        counted = 0;
        fail_at = -1;
        {
            const Fit whole(s);
            ASSERT_EQ(whole.status, LPC_OK) << whole.message();
        }
        const long total = counted;
        ASSERT_GT(total, 10);
        for (long k = 0; k < total; k += 1 + total / 400) {
            counted = 0;
            fail_at = k;
            lpc_fit* f = nullptr;
            const int status = lpc_run(s.s, nullptr, nullptr, &f);
            fail_at = -1;
            EXPECT_TRUE(status == LPC_ENOMEM || status == LPC_OK) << "allocation " << k << ": " << status;
            if (status == LPC_ENOMEM && f != nullptr) {
                EXPECT_EQ(lpc_rows(f), 0u);
                EXPECT_EQ(lpc_columns(f), 0u);
            }
            lpc_fit_free(f);
        }
    }
}

}  // namespace
