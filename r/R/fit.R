# The four estimators: the data from a formula or from vectors, matrices and
# data frames, the options passed to the fitting core by their names, and the
# fit object. The core checks the data and options, chooses the bandwidth,
# makes the evaluation points, names the columns and writes every message.

dorvane <- function(x, ...) UseMethod("dorvane")
tremsal <- function(x, ...) UseMethod("tremsal")
locparg <- function(x, ...) UseMethod("locparg")
locpa2g <- function(x, ...) UseMethod("locpa2g")

dorvane.default <- function(x, y, dummies = NULL, bandwidth = NULL, cv = NULL, deg = NULL, vol = FALSE,
                            loo = FALSE, nr = NULL, groups = NULL, phase = NULL, at = NULL, grid = NULL,
                            threads = NULL, ci = NULL, conf = NULL, se = NULL, seed = NULL, missing = NULL, ...)
  lp_default("dorvane", match.call(), environment(), ...)

tremsal.default <- function(x, y, dummies = NULL, bandwidth = NULL, cv = NULL, deg = NULL, vol = FALSE,
                            loo = FALSE, nr = NULL, groups = NULL, phase = NULL, at = NULL, grid = NULL,
                            threads = NULL, ci = NULL, conf = NULL, se = NULL, seed = NULL, missing = NULL, ...)
  lp_default("tremsal", match.call(), environment(), ...)

locparg.default <- function(x, y, dummies = NULL, lam = NULL, bandwidth = NULL, cv = NULL, deg = NULL,
                            vol = FALSE, loo = FALSE, nr = NULL, groups = NULL, phase = NULL, at = NULL,
                            grid = NULL, threads = NULL, ci = NULL, conf = NULL, se = NULL, seed = NULL,
                            missing = NULL, ...)
  lp_default("locparg", match.call(), environment(), ...)

locpa2g.default <- function(x, y, dummies = NULL, lam = NULL, bandwidth = NULL, cv = NULL, deg = NULL,
                            vol = FALSE, loo = FALSE, nr = NULL, groups = NULL, phase = NULL, at = NULL,
                            grid = NULL, threads = NULL, ci = NULL, conf = NULL, se = NULL, seed = NULL,
                            missing = NULL, ...)
  lp_default("locpa2g", match.call(), environment(), ...)

dorvane.formula <- function(formula, data = NULL, subset, na.action, ...)
  lp_formula("dorvane", match.call(), parent.frame(), ...)
tremsal.formula <- function(formula, data = NULL, subset, na.action, ...)
  lp_formula("tremsal", match.call(), parent.frame(), ...)
locparg.formula <- function(formula, data = NULL, subset, na.action, ...)
  lp_formula("locparg", match.call(), parent.frame(), ...)
locpa2g.formula <- function(formula, data = NULL, subset, na.action, ...)
  lp_formula("locpa2g", match.call(), parent.frame(), ...)

# Marks a term of a formula as a 0/1 dummy: y ~ x + dummy(d).
dummy <- function(x) x

lp_default <- function(estimator, call, env, ...) {
  a <- c(as.list(env), list(...))
  data <- list(yname = "y", y = a$y, x = lp_columns(a$x, "x"), dummies = lp_columns(a$dummies, "d", TRUE))
  if (is.data.frame(data$y) && ncol(data$y) == 1) data[c("yname", "y")] <- list(names(data$y), data$y[[1]])
  if (!is.numeric(data$y) || NCOL(data$y) != 1) stop("y must be a numeric vector", call. = FALSE)
  data$y <- as.double(data$y)
  data$vars <- lapply(names(data$x), as.name)
  lp_fit(estimator, call, data, a[setdiff(names(a), c("x", "y", "dummies"))])
}

# Named double columns of a vector, matrix or data frame; unnamed ones are
# `prefix`, or prefix1, prefix2, ... As dummies, factors and logicals become
# 0/1 columns.
lp_columns <- function(v, prefix, dummies = FALSE) {
  if (is.null(v)) return(list())
  cols <- if (is.data.frame(v)) as.list(v) else if (is.matrix(v)) lapply(seq_len(ncol(v)), function(k) v[, k]) else list(v)
  nm <- if (is.matrix(v)) colnames(v) else names(cols)
  if (is.null(nm)) nm <- character(length(cols))
  blank <- is.na(nm) | nm == ""
  nm[blank] <- if (length(cols) == 1) prefix else paste0(prefix, which(blank))
  if (dummies) return(do.call(c, Map(lp_dummies, nm, cols, USE.NAMES = FALSE)))
  for (k in seq_along(cols)) if (!is.numeric(cols[[k]]))
    stop(sprintf("x: column '%s' is not numeric; give factors and logical columns as dummies", nm[k]), call. = FALSE)
  stats::setNames(lapply(cols, as.double), nm)
}

# 0/1 columns of a dummy: a logical or a factor of two levels (1 at the
# second level) is one dummy named `name`; a factor of more levels gives one
# dummy for each level but the first, named `name` followed by the level, as
# model.matrix names them.
lp_dummies <- function(name, v) {
  if (is.character(v)) v <- factor(v)
  if (!is.factor(v)) {
    if (!is.numeric(v) && !is.logical(v)) stop(sprintf("dummy '%s' must be 0/1, logical or a factor", name), call. = FALSE)
    return(stats::setNames(list(as.double(v)), name))
  }
  lv <- levels(v)
  if (length(lv) <= 2) return(stats::setNames(list(as.double(as.integer(v) == 2L)), name))
  stats::setNames(lapply(lv[-1], function(l) as.double(v == l)), paste0(name, lv[-1]))
}

# The model frame of a formula with the R conventions for subset and
# na.action: na.omit and na.exclude (the default) leave out the rows with a
# missing value (the core's missing = "drop"), na.fail and na.pass refuse
# them; another function is applied to the frame first.
lp_formula <- function(estimator, call, env, ...) {
  mf <- call[c(1L, match(c("formula", "data", "subset"), names(call), 0L))]
  mf[[1L]] <- quote(stats::model.frame)
  mf$na.action <- quote(stats::na.pass)
  mf$drop.unused.levels <- TRUE
  mf <- eval(mf, env)
  na <- if ("na.action" %in% names(call)) eval(call$na.action, env) else getOption("na.action", "na.omit")
  for (known in c("na.omit", "na.exclude", "na.fail", "na.pass"))
    if (identical(na, get(known, asNamespace("stats")))) na <- known
  if (is.function(na)) mf <- na(mf)
  missing <- if (identical(na, "na.omit") || identical(na, "na.exclude")) "drop" else "raise"
  tt <- attr(mf, "terms")
  if (!attr(tt, "response")) stop("the formula needs a response: y ~ x", call. = FALSE)
  if (any(attr(tt, "order") > 1))
    stop("the formula's terms must be single variables: locparg and locpa2g fit the cross terms", call. = FALSE)
  vars <- as.list(attr(tt, "variables"))[-1]
  data <- list(yname = names(mf)[1], y = mf[[1]], x = list(), dummies = list(), vars = list(),
               env = environment(tt), frame_rows = row.names(mf), na = na)
  if (!is.numeric(data$y) || NCOL(data$y) != 1)
    stop(sprintf("the response '%s' must be numeric", data$yname), call. = FALSE)
  data$y <- as.double(data$y)
  for (k in seq_along(vars)[-1]) {
    e <- vars[[k]]
    v <- mf[[k]]
    if (is.call(e) && deparse(e[[1]]) %in% c("dummy", "lpfit::dummy")) {
      data$dummies <- c(data$dummies, lp_dummies(deparse(e[[2]]), v))
    } else if (is.factor(v) || is.logical(v) || is.character(v)) {
      data$dummies <- c(data$dummies, lp_dummies(names(mf)[k], v))
    } else if (is.numeric(v) && is.null(dim(v))) {
      data$x[[names(mf)[k]]] <- as.double(v)
      data$vars <- c(data$vars, e)
    } else {
      stop(sprintf("the term '%s' is not a numeric vector, a factor or logical", names(mf)[k]), call. = FALSE)
    }
  }
  opts <- list(...)
  if (is.null(opts[["missing"]])) opts[["missing"]] <- missing
  lp_fit(estimator, call, data, opts)
}

# Fits, warns with the core's sentences (one warning each) and makes the
# fit object.
lp_fit <- function(estimator, call, data, opts) {
  opts <- Filter(Negate(is.null), opts)
  r <- lp_run(estimator, data, opts)
  for (w in lp_lines(r$texts[["warnings"]])) warning(w, call. = FALSE)
  dropped <- r$points$dropped
  na <- NULL
  if (length(dropped) && !is.null(data$na))
    na <- structure(dropped, names = data$frame_rows[dropped],
                    class = if (identical(data$na, "na.exclude")) "exclude" else "omit")
  fit <- list(estimator = estimator, call = call, table = list2DF(r$table, length(r$table[[1]])),
              bandwidth = stats::setNames(r$values$bandwidth, names(data$x)), method = r$texts[["method"]],
              failed = r$points$failed, refitted = r$points$refitted, dropped = dropped,
              values = r$values[names(r$values) != "bandwidth"], texts = r$texts,
              n = length(data$y) - length(dropped), na.action = na, data = data, options = opts,
              cache = new.env(parent = emptyenv()))
  class(fit) <- "lpfit"
  fit
}

# One call of the core; its errors become R errors, its cancellation after
# a user's interrupt an interrupt.
lp_run <- function(estimator, data, opts) {
  xn <- names(data$x)
  if (is.numeric(opts[["bandwidth"]])) {
    b <- opts[["bandwidth"]]
    if (!is.null(names(b)) && all(xn %in% names(b))) b <- b[xn]
    opts[["bandwidth"]] <- matrix(as.double(b), 1)
  }
  g <- opts[["cv"]]
  if (!is.null(g) && (length(g) > 1 || !is.null(dim(g)))) {
    g <- as.matrix(g)
    if (ncol(g) != length(xn))
      stop(sprintf("cv: give a matrix of candidate bandwidths with one column per continuous regressor (%d)",
                   length(xn)), call. = FALSE)
    opts[["cv_grid"]] <- matrix(as.double(g), nrow(g))
    opts[["cv"]] <- NULL
  }
  if (!is.null(opts[["at"]])) opts[["at"]] <- lp_points(opts[["at"]], xn)
  r <- .Call(C_fit, estimator, data$yname, data$y, data$x, data$dummies, opts)
  if (r$status == 4L) {
    signalCondition(structure(list(message = "", call = NULL), class = c("interrupt", "condition")))
    invokeRestart("abort")
  }
  if (r$status != 0L) stop(r$message, call. = FALSE)
  r
}

# Evaluation points as a matrix with one column per continuous regressor,
# taken by name when the names match: a vector is points of one regressor or
# one point of several.
lp_points <- function(at, xn) {
  if (is.data.frame(at)) at <- as.matrix(at)
  if (is.null(dim(at))) {
    if (length(xn) > 1 && length(at) != length(xn))
      stop("at: give a matrix or data frame with one column per continuous regressor", call. = FALSE)
    at <- if (length(xn) > 1) matrix(at, 1, dimnames = list(NULL, names(at))) else matrix(at, ncol = 1)
  }
  if (!is.null(colnames(at)) && all(xn %in% colnames(at))) at <- at[, xn, drop = FALSE]
  if (!is.numeric(at) || ncol(at) != length(xn))
    stop(sprintf("at must be numeric, with one column per continuous regressor (%d)", length(xn)), call. = FALSE)
  matrix(as.double(at), nrow(at))
}

lp_lines <- function(text) if (nzchar(text)) strsplit(text, "\n", fixed = TRUE)[[1]] else character()
