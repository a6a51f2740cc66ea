// The exported estimators, callable from any host through a C foreign-function
// interface. Every argument is a pointer to the host's own doubles: scalars are
// one double read as an integer (truncated toward zero), arrays are column-major.
// Each export returns 0; a refused call or a failed point is told on standard
// output and in the outputs themselves.
#pragma once

#if defined(_WIN32)
#define LP_EXPORT __declspec(dllexport)
#define LP_CDECL __cdecl
#else
#define LP_EXPORT __attribute__((visibility("default")))
#define LP_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Local linear fit, with the squares of the continuous regressors for deg = 2.
LP_EXPORT int LP_CDECL dorvane(double* x, double* n, double* p, double* y, double* nr, double* t,
                               double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                               double* deg, double* vol, double* nloo);

// Local cubic fit without cross products of different regressors (deg = 3).
LP_EXPORT int LP_CDECL tremsal(double* x, double* n, double* p, double* y, double* nr, double* t,
                               double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                               double* deg, double* vol, double* nloo);

// Local quadratic fit widened by the products and third-order terms of
// continuous regressor lam (deg = 3).
LP_EXPORT int LP_CDECL locparg(double* x, double* n, double* p, double* y, double* nr, double* t,
                               double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                               double* deg, double* vol, double* nloo, double* lam);

// Local quadratic fit with the products of continuous regressor lam with the
// other continuous regressors (deg = 2).
LP_EXPORT int LP_CDECL locpa2g(double* x, double* n, double* p, double* y, double* nr, double* t,
                               double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                               double* deg, double* vol, double* nloo, double* lam);

#ifdef __cplusplus
}
#endif
