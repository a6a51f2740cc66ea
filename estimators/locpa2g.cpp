// locpa2g: the local quadratic estimator with the products of regressor lam
// (estimators/layout.cpp has its design).
#include "estimators/export.h"
#include "estimators/frame.h"

extern "C" LP_EXPORT int LP_CDECL locpa2g(double* x, double* n, double* p, double* y, double* nr,
                                          double* t, double* m, double* h, double* grp, double* mh,
                                          double* sh, double* fh, double* deg, double* vol, double* nloo,
                                          double* lam)
{
    return lp::estimate({x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, lam}, "locpa2g",
                        lp::locpa2g_layout);
}
