/* lpfit.h: the C interface of the local polynomial estimators.
 *
 * Dorvane exports dorvane; Tremsal exports tremsal, locparg and locpa2g. Every
 * argument is a pointer to the caller's own doubles: a scalar is one double,
 * read as an integer by truncation toward zero; an array of r rows is stored
 * column by column, element (i, k) at index i + k*r. The arguments, in order:
 *
 *   x   n x p regressors, the first pc continuous, the rest dummies
 *   n   observations             p    regressors
 *   y   n responses              nr   count for the intercept sums (use n)
 *   t   m x p evaluation points  m    number of evaluation points
 *   h   p bandwidths; a negative last entry -q makes only the first q continuous
 *   grp group count K (>= 2 splits the density into K cyclic groups), phase
 *   mh  m x B fit: level, slopes, dummy effects, higher derivatives
 *   sh  m x B the same for the conditional variance, written when vol != 0
 *   fh  m density, or m x (K + 1) with groups; added to, so pass zeros
 *   deg degree   vol  conditional variance on/off   nloo  1: leave-one-out
 *   lam (locparg, locpa2g) the continuous regressor of the cross terms, from 1
 *
 * B is p + 1 for deg = 1 and p + pc + 1 for deg = 2 (dorvane, tremsal),
 * p + 2*pc + 1 for tremsal with deg = 3, p + 4*pc - 1 for locparg and
 * p + 2*pc for locpa2g. Each call returns 0 and tells a refusal or a failed
 * evaluation point on standard output and in the outputs themselves.
 */
#ifndef LPFIT_H
#define LPFIT_H

/* The libraries' own build defines LPFIT_API to export these functions. */
#ifndef LPFIT_API
#if defined(_WIN32)
#define LPFIT_API __declspec(dllimport)
#else
#define LPFIT_API
#endif
#endif
#if defined(_WIN32)
#define LPFIT_CALL __cdecl
#else
#define LPFIT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Local linear fit, with the squares of the continuous regressors for deg = 2. */
LPFIT_API int LPFIT_CALL dorvane(double* x, double* n, double* p, double* y, double* nr, double* t,
                                 double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                                 double* deg, double* vol, double* nloo);

/* Local cubic fit without cross products of different regressors (deg = 3). */
LPFIT_API int LPFIT_CALL tremsal(double* x, double* n, double* p, double* y, double* nr, double* t,
                                 double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                                 double* deg, double* vol, double* nloo);

/* Local quadratic fit widened by the products and third-order terms of
 * continuous regressor lam (deg = 3). */
LPFIT_API int LPFIT_CALL locparg(double* x, double* n, double* p, double* y, double* nr, double* t,
                                 double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                                 double* deg, double* vol, double* nloo, double* lam);

/* Local quadratic fit with the products of continuous regressor lam with the
 * other continuous regressors (deg = 2). */
LPFIT_API int LPFIT_CALL locpa2g(double* x, double* n, double* p, double* y, double* nr, double* t,
                                 double* m, double* h, double* grp, double* mh, double* sh, double* fh,
                                 double* deg, double* vol, double* nloo, double* lam);

#ifdef __cplusplus
}
#endif

#endif
