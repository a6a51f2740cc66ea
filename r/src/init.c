/* Registration of the four estimators for .C, and capture of what they print.
 *
 * The estimators report refusals, warnings and failed evaluation points with
 * printf on the process's standard output, which is not R's console. The R
 * code brackets every call with capture_begin and capture_end, which point
 * file descriptor 1 at a temporary file and back, and reads the lines. */
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "lpfit.h"

/* .C routines return nothing; the estimators' result is always 0. */
static void lp_dorvane(double* x, double* n, double* p, double* y, double* nr, double* t, double* m,
                       double* h, double* grp, double* mh, double* sh, double* fh, double* deg,
                       double* vol, double* nloo)
{
    dorvane(x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo);
}

static void lp_tremsal(double* x, double* n, double* p, double* y, double* nr, double* t, double* m,
                       double* h, double* grp, double* mh, double* sh, double* fh, double* deg,
                       double* vol, double* nloo)
{
    tremsal(x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo);
}

static void lp_locparg(double* x, double* n, double* p, double* y, double* nr, double* t, double* m,
                       double* h, double* grp, double* mh, double* sh, double* fh, double* deg,
                       double* vol, double* nloo, double* lam)
{
    locparg(x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, lam);
}

static void lp_locpa2g(double* x, double* n, double* p, double* y, double* nr, double* t, double* m,
                       double* h, double* grp, double* mh, double* sh, double* fh, double* deg,
                       double* vol, double* nloo, double* lam)
{
    locpa2g(x, n, p, y, nr, t, m, h, grp, mh, sh, fh, deg, vol, nloo, lam);
}

/* Points standard output at the file `path` (created or emptied) and returns
 * the descriptor that keeps the old one. */
static SEXP capture_begin(SEXP path)
{
    if (!isString(path) || LENGTH(path) != 1) error("capture_begin: path must be one string");
    fflush(NULL);
    int fd = open(CHAR(STRING_ELT(path, 0)), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) error("cannot open %s: %s", CHAR(STRING_ELT(path, 0)), strerror(errno));
    int saved = dup(STDOUT_FILENO);
    if (saved < 0 || dup2(fd, STDOUT_FILENO) < 0) {
        int e = errno;
        close(fd);
        if (saved >= 0) close(saved);
        error("cannot redirect standard output: %s", strerror(e));
    }
    close(fd);
    return ScalarInteger(saved);
}

/* Flushes what was printed into the file and gives standard output back. */
static SEXP capture_end(SEXP saved)
{
    int fd = asInteger(saved);
    fflush(NULL);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    return R_NilValue;
}

static R_NativePrimitiveArgType reals[16] = {REALSXP, REALSXP, REALSXP, REALSXP, REALSXP, REALSXP,
                                             REALSXP, REALSXP, REALSXP, REALSXP, REALSXP, REALSXP,
                                             REALSXP, REALSXP, REALSXP, REALSXP};

static const R_CMethodDef c_methods[] = {
    {"dorvane", (DL_FUNC) &lp_dorvane, 15, reals},
    {"tremsal", (DL_FUNC) &lp_tremsal, 15, reals},
    {"locparg", (DL_FUNC) &lp_locparg, 16, reals},
    {"locpa2g", (DL_FUNC) &lp_locpa2g, 16, reals},
    {NULL, NULL, 0, NULL}};

static const R_CallMethodDef call_methods[] = {
    {"capture_begin", (DL_FUNC) &capture_begin, 1},
    {"capture_end", (DL_FUNC) &capture_end, 1},
    {NULL, NULL, 0}};

void R_init_lpfit(DllInfo* dll)
{
    R_registerRoutines(dll, c_methods, call_methods, NULL, NULL);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}
