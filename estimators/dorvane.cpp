// dorvane: the local linear estimator (estimators/layout.cpp has its design).
#include "estimators/export.h"
#include "estimators/frame.h"

extern "C" LP_EXPORT int LP_CDECL dorvane(double* x, double* n, double* p, double* y, double* nr,
                                          double* t, double* m, double* h, double* grp, double* mh,
                                          double* sh, double* fh, double* deg, double* vol, double* nloo)
{
    return lp::estimate({x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, nullptr}, "dorvane",
                        lp::dorvane_layout);
}
