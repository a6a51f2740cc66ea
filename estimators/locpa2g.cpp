// locpa2g: the local quadratic estimator with the products of one continuous
// regressor, z_L with L = lam, with every other continuous regressor. After
// the squares its design holds z_k·z_L for k != L, whose coefficients are the
// mixed second derivatives. It serves deg = 2 only.
#include <cstdio>

#include "estimators/export.h"
#include "estimators/frame.h"

namespace {

const char cubic_refusal[] = "locpa2g: use lam > 0 or tremsal \n";

bool locpa2g_layout(const lp::Args& a, lp::Layout& lay)
{
    if (a.deg == 3) {
        std::printf("%s", cubic_refusal);
        return false;
    }
    if (a.deg != 2) {
        std::printf("locpa2g: deg must be 2\n");
        return false;
    }
    if (a.lam < 1 || a.lam > a.pc) {
        std::printf("locpa2g: lam = %d must lie between 1 and the %d continuous regressors\n", a.lam, a.pc);
        return false;
    }
    return lp::lam_products(a, lay, static_cast<std::int64_t>(a.p) + 2LL * a.pc);
}

}  // namespace

extern "C" LP_EXPORT int LP_CDECL locpa2g(double* x, double* n, double* p, double* y, double* nr,
                                          double* t, double* m, double* h, double* grp, double* mh,
                                          double* sh, double* fh, double* deg, double* vol, double* nloo,
                                          double* lam)
{
    return lp::estimate({x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, lam}, "locpa2g",
                        locpa2g_layout);
}
