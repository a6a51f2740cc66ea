// The batch kernel at one lane: plain double arithmetic, for single points
// and for processors without vectors of doubles.
#define LP_IN_FLIGHT 8
#define LP_LANES 1
#define LP_NS scalar
#include "estimators/kernel_target.h"

lp::Kernel lp::kernel_scalar()
{
    return {"scalar", 1, scalar::pass, scalar::expo_all, scalar::divide_all, scalar::expo_near_all, nullptr};
}

double lp::expo(double x) { return scalar::expo(scalar::vd{x}).v; }
