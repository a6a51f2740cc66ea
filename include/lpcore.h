/* lpcore.h: the fitting core of the local polynomial estimators.
 *
 * The command-line tool, R and Python all fit through this library. It owns
 * everything between a user's data and the local polynomial engine: the
 * table of estimators, the checks of the data, the bandwidth (given, rule of
 * thumb, cross-validation, AICc, plug-in), the evaluation points (the
 * observations, a grid, given points), the threads, the assembly of the
 * points in order, the points that fail, the standard errors and intervals,
 * the names of the output columns and every message a user reads.
 *
 * Usage: describe a fit in an lpc_request (data, estimator, options), run it,
 * read the lpc_fit, free both.
 *
 *     lpc_request* s = lpc_request_new("dorvane");
 *     lpc_set_response(s, "accel", y, n);
 *     lpc_add_regressor(s, "times", x, n, 0);
 *     lpc_set_text(s, "bandwidth", "cv");
 *     lpc_fit* f = NULL;
 *     if (lpc_run(s, NULL, NULL, &f) != LPC_OK) fprintf(stderr, "%s\n", lpc_message(f));
 *     const double* level = lpc_values(f, "level", &m);
 *     lpc_fit_free(f);
 *     lpc_request_free(s);
 *
 * Conventions:
 *  - Every function returns an int status (LPC_OK = 0) or a pointer that is
 *    NULL when absent; a failing call keeps its message in the object it was
 *    given (lpc_request_message, lpc_message). There is no global state.
 *  - A request copies the data and options it is given. A fit is owned by the
 *    core and released by lpc_fit_free, with everything it hands out.
 *  - Arrays are column-major: element (i, k) of an array with r rows at
 *    i + k*r. Point and observation numbers are from 0 in this API; texts
 *    that name points take an index base (0 for Python, 1 for R and the
 *    command-line tool).
 *  - Doubles pass bit for bit: no option travels as text.
 *  - One request and one fit may be used by one thread at a time; different
 *    requests and fits may be used from different threads at once.
 */
#ifndef LPCORE_H
#define LPCORE_H

#include <stddef.h>

#ifndef LPCORE_API
#if defined(_WIN32)
#define LPCORE_API __declspec(dllimport)
#else
#define LPCORE_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
enum {
    LPC_OK = 0,
    LPC_EINPUT = 1,     /* the data or an option cannot be served; the message says which and why */
    LPC_EFAILED = 2,    /* the fit ran but could not give a result, e.g. every candidate bandwidth failed */
    LPC_ENOMEM = 3,     /* out of memory */
    LPC_ECANCELLED = 4, /* the progress function asked to stop */
    LPC_EUSAGE = 5      /* a programming error: a null pointer, an unknown key, a value of the wrong type */
};

typedef struct lpc_request lpc_request;
typedef struct lpc_fit lpc_fit;

/* The version of the core, "MAJOR.MINOR.PATCH". */
LPCORE_API const char* lpc_version(void);

/* ---- Describing a fit -------------------------------------------------- */

/* A new request for estimator "dorvane", "tremsal", "locparg" or "locpa2g"; NULL
 * only when memory is short. An unknown estimator is kept as the request's error
 * and reported by lpc_run. */
LPCORE_API lpc_request* lpc_request_new(const char* estimator);
LPCORE_API void lpc_request_free(lpc_request* request);
/* The message of the request's first error, "" when there is none. Every setter
 * that fails keeps its message here, and lpc_run reports the first one. */
LPCORE_API const char* lpc_request_message(const lpc_request* request);

/* The response: n values named `name` (a label for pictures and messages). */
LPCORE_API int lpc_set_response(lpc_request* request, const char* name, const double* y, size_t n);
/* Appends a regressor of n values: continuous when dummy = 0, a 0/1 dummy
 * otherwise. Continuous regressors keep their order and so do dummies; in the
 * design the continuous ones come first. */
LPCORE_API int lpc_add_regressor(lpc_request* request, const char* name, const double* x, size_t n, int dummy);

/* Options by name. The names are those of the command-line tool's long
 * options and of the R and Python arguments:
 *
 *  int     "deg"        polynomial degree (dorvane 1-2, default 1; tremsal 1-3,
 *                       default 3; locparg 3; locpa2g 2)
 *  int     "vol"        1: also the conditional variance and its derivatives
 *  int     "loo"        1: the leave-one-out fit at the observations
 *  int     "nr"         the engine's nr count (default n): the intercept sums
 *                       run over the first nr observations, levels and
 *                       first-order outputs are scaled by n/nr
 *  text    "lam"        the continuous regressor of the cross terms (locparg,
 *                       locpa2g), by name or by number from 1; int "lam" too
 *  int     "groups"     K >= 2 splits the density into K cyclic groups
 *  int     "phase"      the group of observation 0, from 1 (needs "groups"):
 *                       observation i is in group ((i + phase - 1) mod K) + 1
 *  doubles "group_of"   or the group of each observation, 1 ... K (weekdays
 *                       of dates with holidays, say)
 *  doubles "bandwidth"  one bandwidth per continuous regressor, or one for all
 *  text    "bandwidth"  "rot" (the rule of thumb, the default), "cv"
 *                       (least-squares cross-validation, minimised), "aicc",
 *                       "plugin" (one regressor, dorvane deg 1)
 *  int     "cv"         K >= 2: cross-validation over a grid of K multiples of
 *                       the rule of thumb, from 1/4 to 4 times
 *  doubles "cv_grid"    K x pc candidate bandwidths, column-major (one row per
 *                       candidate, one column per continuous regressor)
 *  doubles "cv_scores"  the K scores of the cv_grid candidates, already
 *                       computed (task "score"), to choose from without fitting
 *  text    "task"       "fit" (the default); "score": only the selection
 *                       criterion at each candidate of cv or cv_grid (values
 *                       "score"); "candidates": only the candidates
 *                       ("selection_h"); "check": the checks and the
 *                       bandwidth, no fit
 *  text    "method"     how given bandwidths came about ("given",
 *                       "rule of thumb", "cross-validated", "aicc",
 *                       "plug-in"), for the texts of a fit again with them
 *  int     "base"       0 or 1 (the default): the first observation's number
 *                       in error messages
 *  doubles "at"         m x pc evaluation points, column-major
 *  int     "grid"       N evenly spaced points per continuous regressor over
 *                       its range (one or two regressors)
 *  int     "from", "to" fit only evaluation points from .. to - 1 of those
 *                       the options give (a block of a distributed fit)
 *  int     "threads"    threads of the fit; 0 (the default) uses every core
 *  text    "ci"         "none" (the default), "pointwise", "rbc" (robust
 *                       bias-corrected), "uniform" (a simultaneous band)
 *  double  "conf"       the level of the intervals, default 0.95
 *  text    "se"         the variance of the standard errors: "residual" (the
 *                       default), "leverage", "loo", "nn", "local"
 *  int     "seed"       seed of the simultaneous band's multiplier draws
 *  int     "fitted"     1: also the fit at the observations ("fitted",
 *                       "residuals", "r_squared", "residual_variance")
 *  text    "missing"    "raise" (the default): a missing or infinite value in
 *                       the data is an error; "drop": such observations are
 *                       left out (points "dropped")
 *  int     "var_residual" 1: also the column var_residual, the conditional
 *                       variance by the local linear fit of the squared
 *                       residuals at the points, cut at 0 (never negative,
 *                       unlike var = E[y²|t] - E[y|t]²)
 *  int     "curve"      1: with one continuous regressor, the selection
 *                       criterion (AICc after "aicc", else least-squares
 *                       cross-validation) at 41 bandwidths from h/4 to 4h,
 *                       evenly spaced in log h ("curve_h", "curve_score")
 *
 * A setter fails with LPC_EUSAGE for an unknown name or a value of the wrong
 * kind, and with LPC_EINPUT for a value outside what the option takes. */
LPCORE_API int lpc_set_int(lpc_request* request, const char* name, long long value);
LPCORE_API int lpc_set_double(lpc_request* request, const char* name, double value);
LPCORE_API int lpc_set_doubles(lpc_request* request, const char* name, const double* values, size_t count);
LPCORE_API int lpc_set_text(lpc_request* request, const char* name, const char* value);

/* ---- Running it --------------------------------------------------------- */

/* Called on the thread that runs lpc_run, between pieces of work: `stage`
 * names the work ("bandwidth", "fit", "intervals"), done of total pieces are
 * finished. A nonzero return cancels the run (LPC_ECANCELLED). */
typedef int (*lpc_progress)(void* ctx, const char* stage, long long done, long long total);

/* Fits what the request describes. *out receives a new fit in every case but a
 * shortage of memory at the start (then NULL): on success it holds the
 * results, otherwise the status and its message. */
LPCORE_API int lpc_run(const lpc_request* request, lpc_progress progress, void* ctx, lpc_fit** out);

/* ---- Reading the result ---------------------------------------------------- */

LPCORE_API void lpc_fit_free(lpc_fit* fit);
/* The status of the run and its message ("" on success). */
LPCORE_API int lpc_status(const lpc_fit* fit);
LPCORE_API const char* lpc_message(const lpc_fit* fit);

/* The table: one row per evaluation point and named columns, in order: the
 * coordinates of the points (named after the continuous regressors), level,
 * d1_A (slope in A), effect_D (dummy D), d2_A, d3_A, d2_A_L, c3_A_B_C; with
 * vol the same for the conditional variance (var, var_d1_A, ..., y2_...);
 * with var_residual var_residual; density, density_g1 ...; with intervals se_C, lower_C, upper_C for each
 * output column C. */
LPCORE_API size_t lpc_rows(const lpc_fit* fit);
LPCORE_API size_t lpc_columns(const lpc_fit* fit);
LPCORE_API const char* lpc_column_name(const lpc_fit* fit, size_t k);
/* Column k of the table: lpc_rows(fit) values. */
LPCORE_API const double* lpc_column(const lpc_fit* fit, size_t k);

/* A named array of doubles: one of the following, or else the table column of
 * that name (m values; lpc_column reads a column whose name is also one of
 * these)
 *   "bandwidth"         the pc bandwidths used
 *   "n"                 the observations used
 *   "conf"              the level of the intervals, when there are any
 *   "selection_h"       E x pc bandwidths at which the selection criterion was
 *                       evaluated, in order, column-major
 *   "selection_score"   their E scores (+inf for a failed fit)
 *   "selection_start"   S x pc: the end of each start of a minimisation
 *   "selection_start_score"   and its score
 *   "score"             the scores of task "score"
 *   "curve_h", "curve_score"   the criterion curve
 *   "fitted", "residuals", "leverage"   at the n observations
 *   "r_squared", "residual_variance"   one value each, with "fitted"
 *   "critical_value"    the simultaneous band's critical value
 * NULL when the fit has no such array; *count receives its length. */
LPCORE_API const double* lpc_values(const lpc_fit* fit, const char* name, size_t* count);

/* Evaluation points (from 0) by what became of them:
 *   "failed"     no trustworthy fit: NaN in their outputs (their density stays)
 *   "refitted"   their normal equations could not be trusted; solved again by
 *                a method that stays accurate
 *   "dropped"    observations left out for a missing value (missing = "drop")
 * NULL when there are none; *count receives their number. */
LPCORE_API const long long* lpc_points(const lpc_fit* fit, const char* name, size_t* count);

/* Texts, with point numbers counted from `base` (0 or 1):
 *   "estimator", "title"   e.g. "dorvane", "local linear fit"
 *   "header"      the lines a front end prints above the table
 *   "method"      how the bandwidth was chosen: "given", "rule of thumb",
 *                 "cross-validated", "aicc", "plug-in"
 *   "criterion"   what the selection minimised, "" for none
 *   "warnings"    one sentence per line: failed points, the conditional
 *                 variance with dummies, a selection at the edge of its range
 *   "notes"       one sentence per line: refitted points, the selection's end
 *   "messages"    one line per kind of library message with the number of
 *                 points and the first few point numbers
 *   "library"     every line the engine wrote, as it wrote it, in point order
 *   "selection"   the table of the bandwidths tried and their scores
 *   "summary"     the header, the observations used and dropped, the
 *                 R-squared at the observations (with "fitted"), the failed
 *                 and refitted points
 * "" when there is nothing to say; NULL for an unknown name. */
LPCORE_API const char* lpc_text(const lpc_fit* fit, const char* name, int base);

/* The name of the k-th entry (from 0) of the fit's "values", "points" or
 * "texts", in order; NULL past the last. */
LPCORE_API const char* lpc_name(const lpc_fit* fit, const char* kind, size_t k);

#ifdef __cplusplus
}
#endif

#endif /* LPCORE_H */
