// locparg: the local quadratic estimator widened by third-order terms of one
// continuous regressor, z_L with L = lam. After the squares its design holds
// the cross block
//   z_k·z_L     for k != L   (mixed second derivatives),
//   z_k²·z_L    for k != L,
//   z_k·z_L²    for every k  (z_L³ for k = L),
// each column the product of two earlier ones, written to mh as the plain
// coefficient. It serves deg = 3 only.
#include <cstdio>

#include "estimators/export.h"
#include "estimators/frame.h"

namespace {

const char lam_refusal[] = "locparg: use lam > 0 or tremsal \n";

bool locparg_layout(const lp::Args& a, lp::Layout& lay)
{
    if (a.deg == 3 && a.lam < 1) {
        std::printf("%s", lam_refusal);
        return false;
    }
    if (a.deg != 3) {
        std::printf("locparg: deg must be 3\n");
        return false;
    }
    if (a.lam > a.pc) {
        std::printf("locparg: lam = %d exceeds the %d continuous regressors\n", a.lam, a.pc);
        return false;
    }
    const int L = a.lam, p = a.p, pc = a.pc;
    if (!lp::lam_products(a, lay, static_cast<std::int64_t>(p) + 4LL * pc - 1)) return false;
    // z_k²·z_L: square column p + k times z_L.
    for (int k = 1; k <= pc; ++k)
        if (k != L) lay.add(lp::Kind::cross, p + k, L);
    // z_k·z_L·z_L: the product column z_k·z_L (the square for k = L) times z_L.
    int product = p + pc + 1;
    for (int k = 1; k <= pc; ++k) lay.add(lp::Kind::cross, k == L ? p + L : product++, L);
    return true;
}

}  // namespace

extern "C" LP_EXPORT int LP_CDECL locparg(double* x, double* n, double* p, double* y, double* nr,
                                          double* t, double* m, double* h, double* grp, double* mh,
                                          double* sh, double* fh, double* deg, double* vol, double* nloo,
                                          double* lam)
{
    return lp::estimate({x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, lam}, "locparg",
                        locparg_layout);
}
