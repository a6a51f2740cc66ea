// Batch kernels on AVX-512: eight evaluation points per vector.
#if defined(__x86_64__) || defined(__i386__)
#define LP_IN_FLIGHT 8
#define LP_LANES 8
#define LP_NS avx512
#define LP_TARGET "avx512f,fma"
#include "estimators/kernel_target.h"

lp::Kernel lp::kernel_avx512()
{
    return {"avx512", 8, avx512::pass, avx512::expo_all, avx512::divide_all, avx512::expo_near_all,
            avx512::expo_half_all};
}
#else
#include "estimators/batch.h"
lp::Kernel lp::kernel_avx512() { return {"avx512", 0, nullptr, nullptr, nullptr, nullptr, nullptr}; }
#endif
