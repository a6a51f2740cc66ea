// tremsal: the local cubic estimator. With deg = 3 its design holds the
// intercept, the centred continuous regressors, the dummies, their squares
// and their cubes, without products of different regressors; the cube
// coefficients give the third derivatives (6·beta). Every other deg gives
// the dorvane design.
#include "estimators/export.h"
#include "estimators/frame.h"

namespace {

bool tremsal_layout(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, true); }

}  // namespace

extern "C" LP_EXPORT int LP_CDECL tremsal(double* x, double* n, double* p, double* y, double* nr,
                                          double* t, double* m, double* h, double* grp, double* mh,
                                          double* sh, double* fh, double* deg, double* vol, double* nloo)
{
    return lp::estimate({x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, nullptr}, "tremsal",
                        tremsal_layout);
}
