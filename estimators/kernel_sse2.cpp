// Batch kernels on SSE2, which every x86-64 processor has: two evaluation
// points per vector, and true divisions.
#if defined(__SSE2__)
#define LP_IN_FLIGHT 8
#define LP_LANES 2
#define LP_NS sse2
#include "estimators/kernel_target.h"

lp::Kernel lp::kernel_sse2()
{
    return {"sse2", 2, sse2::pass, sse2::expo_all, sse2::divide_all, sse2::expo_near_all, nullptr};
}
#else
#include "estimators/batch.h"
lp::Kernel lp::kernel_sse2() { return {"sse2", 0, nullptr, nullptr, nullptr, nullptr, nullptr}; }
#endif
