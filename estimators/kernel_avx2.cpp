// Batch kernels on AVX2 with FMA: four evaluation points per vector.
#if defined(__x86_64__) || defined(__i386__)
#define LP_IN_FLIGHT 8
#define LP_LANES 4
#define LP_NS avx2
#define LP_TARGET "avx2,fma"
#include "estimators/kernel_target.h"

lp::Kernel lp::kernel_avx2()
{
    return {"avx2", 4, avx2::pass, avx2::expo_all, avx2::divide_all, avx2::expo_near_all, avx2::expo_half_all};
}
#else
#include "estimators/batch.h"
lp::Kernel lp::kernel_avx2() { return {"avx2", 0, nullptr, nullptr, nullptr, nullptr, nullptr}; }
#endif
