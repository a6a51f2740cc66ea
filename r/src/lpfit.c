/* The R side of the fitting core: one .Call routine that describes a fit
 * from R vectors, runs it and hands back everything the fit holds.
 *
 * The request and the fit are held by external pointers from the moment they
 * exist, so that an R error (a longjmp through this code) leaves them to the
 * garbage collector instead of leaking them. */
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include <limits.h>

#include "lpcore.h"

static void free_request(SEXP p)
{
    lpc_request_free((lpc_request*) R_ExternalPtrAddr(p));
    R_ClearExternalPtr(p);
}

static void free_fit(SEXP p)
{
    lpc_fit_free((lpc_fit*) R_ExternalPtrAddr(p));
    R_ClearExternalPtr(p);
}

/* An empty holder whose finalizer releases what it will be given. */
static SEXP holder(R_CFinalizer_t release)
{
    SEXP p = PROTECT(R_MakeExternalPtr(NULL, R_NilValue, R_NilValue));
    R_RegisterCFinalizerEx(p, release, TRUE);
    UNPROTECT(1);
    return p;
}

static const char* name_at(SEXP names, R_xlen_t k)
{
    return names == R_NilValue ? "" : translateCharUTF8(STRING_ELT(names, k));
}

/* Columns of a named list of doubles, continuous (dummy = 0) or dummies. */
static void add_columns(lpc_request* request, SEXP cols, int dummy)
{
    SEXP names = getAttrib(cols, R_NamesSymbol);
    for (R_xlen_t k = 0; k < XLENGTH(cols); ++k) {
        SEXP v = VECTOR_ELT(cols, k);
        if (TYPEOF(v) != REALSXP) error("regressor '%s' must be a double vector", name_at(names, k));
        lpc_add_regressor(request, name_at(names, k), REAL(v), (size_t) XLENGTH(v), dummy);
    }
}

/* Options by their R type: a text, TRUE/FALSE or an integer goes as an
 * integer, a double as one number, a matrix or several doubles as a list. A
 * setter's error stays in the request, and lpc_run reports the first one. */
static void set_options(lpc_request* request, SEXP opts)
{
    SEXP names = getAttrib(opts, R_NamesSymbol);
    for (R_xlen_t k = 0; k < XLENGTH(opts); ++k) {
        SEXP v = VECTOR_ELT(opts, k);
        const char* name = name_at(names, k);
        int one = XLENGTH(v) == 1;
        if (v == R_NilValue) continue;
        if (TYPEOF(v) == REALSXP && (!one || getAttrib(v, R_DimSymbol) != R_NilValue)) {
            lpc_set_doubles(request, name, REAL(v), (size_t) XLENGTH(v));
        } else if (TYPEOF(v) == REALSXP) {
            lpc_set_double(request, name, REAL(v)[0]);
        } else if (one && TYPEOF(v) == STRSXP && STRING_ELT(v, 0) != NA_STRING) {
            lpc_set_text(request, name, translateCharUTF8(STRING_ELT(v, 0)));
        } else if (one && TYPEOF(v) == LGLSXP && LOGICAL(v)[0] != NA_LOGICAL) {
            lpc_set_int(request, name, LOGICAL(v)[0]);
        } else if (one && TYPEOF(v) == INTSXP && INTEGER(v)[0] != NA_INTEGER && !isFactor(v)) {
            lpc_set_int(request, name, INTEGER(v)[0]);
        } else {
            error("%s must be one number, one text or TRUE/FALSE", name);
        }
    }
}

/* Runs on R's thread between pieces of the fit. R_CheckUserInterrupt jumps
 * when the user has interrupted; R_ToplevelExec catches the jump, and the run
 * is cancelled. */
static void check_interrupt(void* unused)
{
    (void) unused;
    R_CheckUserInterrupt();
}

static int progress(void* ctx, const char* stage, long long done, long long total)
{
    (void) ctx, (void) stage, (void) done, (void) total;
    return R_ToplevelExec(check_interrupt, NULL) ? 0 : 1;
}

static SEXP named_list(R_xlen_t n, SEXP* names)
{
    SEXP v = PROTECT(allocVector(VECSXP, n));
    *names = PROTECT(allocVector(STRSXP, n));
    setAttrib(v, R_NamesSymbol, *names);
    UNPROTECT(2);
    return v;
}

static SEXP doubles(const double* v, size_t n)
{
    SEXP r = allocVector(REALSXP, (R_xlen_t) n);
    for (size_t i = 0; i < n; ++i) REAL(r)[i] = v[i];
    return r;
}

/* Point numbers from 1, as integers while they fit. */
static SEXP point_numbers(const long long* p, size_t n)
{
    int small = 1;
    for (size_t i = 0; i < n; ++i) small = small && p[i] < INT_MAX;
    SEXP r = allocVector(small ? INTSXP : REALSXP, (R_xlen_t) n);
    for (size_t i = 0; i < n; ++i) {
        if (small) INTEGER(r)[i] = (int) (p[i] + 1);
        else REAL(r)[i] = (double) p[i] + 1;
    }
    return r;
}

static const char* const point_kinds[] = {"failed", "refitted", "dropped"};
#define COUNT(a) ((R_xlen_t) (sizeof(a) / sizeof((a)[0])))

/* How many entries of `kind` ("values", "texts") the fit holds. */
static R_xlen_t listed(const lpc_fit* fit, const char* kind)
{
    R_xlen_t k = 0;
    while (lpc_name(fit, kind, (size_t) k) != NULL) ++k;
    return k;
}

/* The fit as an R list: status, message, table (named columns), values,
 * points (from 1) and texts (points numbered from 1). */
static SEXP result(const lpc_fit* fit)
{
    SEXP names, part, part_names;
    SEXP r = PROTECT(named_list(6, &names));
    const char* const fields[] = {"status", "message", "table", "values", "points", "texts"};
    for (int k = 0; k < 6; ++k) SET_STRING_ELT(names, k, mkChar(fields[k]));
    SET_VECTOR_ELT(r, 0, ScalarInteger(lpc_status(fit)));
    SET_VECTOR_ELT(r, 1, mkString(lpc_message(fit)));

    size_t rows = lpc_rows(fit), count;
    part = named_list((R_xlen_t) lpc_columns(fit), &part_names);
    SET_VECTOR_ELT(r, 2, part);
    for (size_t k = 0; k < lpc_columns(fit); ++k) {
        const char* name = lpc_column_name(fit, k);
        SET_STRING_ELT(part_names, (R_xlen_t) k, mkCharCE(name, CE_UTF8));
        SET_VECTOR_ELT(part, (R_xlen_t) k, doubles(lpc_column(fit, k), rows));
    }

    const R_xlen_t nvalues = listed(fit, "values");
    part = named_list(nvalues, &part_names);
    SET_VECTOR_ELT(r, 3, part);
    for (R_xlen_t k = 0; k < nvalues; ++k) {
        const char* name = lpc_name(fit, "values", (size_t) k);
        const double* v = lpc_values(fit, name, &count);
        SET_STRING_ELT(part_names, k, mkChar(name));
        SET_VECTOR_ELT(part, k, doubles(v, v == NULL ? 0 : count));
    }

    part = named_list(COUNT(point_kinds), &part_names);
    SET_VECTOR_ELT(r, 4, part);
    for (R_xlen_t k = 0; k < COUNT(point_kinds); ++k) {
        const long long* p = lpc_points(fit, point_kinds[k], &count);
        SET_STRING_ELT(part_names, k, mkChar(point_kinds[k]));
        SET_VECTOR_ELT(part, k, point_numbers(p, p == NULL ? 0 : count));
    }

    const R_xlen_t ntexts = listed(fit, "texts");
    SEXP texts = PROTECT(allocVector(STRSXP, ntexts));
    SEXP text_keys = PROTECT(allocVector(STRSXP, ntexts));
    setAttrib(texts, R_NamesSymbol, text_keys);
    for (R_xlen_t k = 0; k < ntexts; ++k) {
        const char* name = lpc_name(fit, "texts", (size_t) k);
        const char* t = lpc_text(fit, name, 1);
        SET_STRING_ELT(text_keys, k, mkChar(name));
        SET_STRING_ELT(texts, k, mkCharCE(t == NULL ? "" : t, CE_UTF8));
    }
    SET_VECTOR_ELT(r, 5, texts);
    UNPROTECT(3);
    return r;
}

/* fit(estimator, response name, y, continuous regressors, dummies, options):
 * the regressors are named lists of double vectors, the options a named list. */
static SEXP fit(SEXP estimator, SEXP yname, SEXP y, SEXP x, SEXP dummies, SEXP opts)
{
    if (!isString(estimator) || LENGTH(estimator) != 1 || !isString(yname) || LENGTH(yname) != 1 ||
        TYPEOF(y) != REALSXP || TYPEOF(x) != VECSXP || TYPEOF(dummies) != VECSXP || TYPEOF(opts) != VECSXP)
        error("fit: arguments of the wrong type");
    SEXP request_holder = PROTECT(holder(free_request));
    lpc_request* request = lpc_request_new(CHAR(STRING_ELT(estimator, 0)));
    if (request == NULL) error("out of memory");
    R_SetExternalPtrAddr(request_holder, request);
    lpc_set_response(request, translateCharUTF8(STRING_ELT(yname, 0)), REAL(y), (size_t) XLENGTH(y));
    add_columns(request, x, 0);
    add_columns(request, dummies, 1);
    set_options(request, opts);

    SEXP fit_holder = PROTECT(holder(free_fit));
    lpc_fit* f = NULL;
    lpc_run(request, progress, NULL, &f);
    if (f == NULL) error("out of memory");
    R_SetExternalPtrAddr(fit_holder, f);
    free_request(request_holder);
    SEXP r = result(f);
    free_fit(fit_holder);
    UNPROTECT(2);
    return r;
}

static SEXP version(void) { return mkString(lpc_version()); }

static const R_CallMethodDef call_methods[] = {
    {"fit", (DL_FUNC) &fit, 6},
    {"version", (DL_FUNC) &version, 0},
    {NULL, NULL, 0}};

void R_init_lpfit(DllInfo* dll)
{
    R_registerRoutines(dll, NULL, call_methods, NULL, NULL);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}
