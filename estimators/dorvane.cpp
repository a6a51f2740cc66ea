// dorvane: the local linear estimator. Its design holds the intercept, the
// centred continuous regressors and the dummies; with deg = 2 it adds the
// squares of the continuous regressors, whose coefficients give the second
// derivatives (and, for larger deg, squares of the squared columns).
#include "estimators/export.h"
#include "estimators/frame.h"

namespace {

bool dorvane_layout(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, false); }

}  // namespace

extern "C" LP_EXPORT int LP_CDECL dorvane(double* x, double* n, double* p, double* y, double* nr,
                                          double* t, double* m, double* h, double* grp, double* mh,
                                          double* sh, double* fh, double* deg, double* vol, double* nloo)
{
    return lp::estimate({x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, nullptr}, "dorvane",
                        dorvane_layout);
}
