# The four estimators: argument checking, the argument block, bandwidth
# choice, evaluation points, and the result object.

dorvane <- function(x, y, dummies = NULL, bandwidth = NULL, cv = NULL, deg = 1, vol = FALSE,
                    loo = FALSE, nr = NULL, at = NULL, grid = NULL, groups = NULL, phase = 1,
                    conf = 0.95) {
  lp_fit("dorvane", match.call(), x, y, dummies, bandwidth, cv, deg, vol, loo, nr, at, grid,
         groups, phase, NULL, conf)
}

tremsal <- function(x, y, dummies = NULL, bandwidth = NULL, cv = NULL, deg = 3, vol = FALSE,
                    loo = FALSE, nr = NULL, at = NULL, grid = NULL, groups = NULL, phase = 1,
                    conf = 0.95) {
  lp_fit("tremsal", match.call(), x, y, dummies, bandwidth, cv, deg, vol, loo, nr, at, grid,
         groups, phase, NULL, conf)
}

locparg <- function(x, y, lam, dummies = NULL, bandwidth = NULL, cv = NULL, deg = 3, vol = FALSE,
                    loo = FALSE, nr = NULL, at = NULL, grid = NULL, groups = NULL, phase = 1,
                    conf = 0.95) {
  if (missing(lam)) stop("lam must name the continuous regressor of the cross terms", call. = FALSE)
  lp_fit("locparg", match.call(), x, y, dummies, bandwidth, cv, deg, vol, loo, nr, at, grid,
         groups, phase, lam, conf)
}

locpa2g <- function(x, y, lam, dummies = NULL, bandwidth = NULL, cv = NULL, deg = 2, vol = FALSE,
                    loo = FALSE, nr = NULL, at = NULL, grid = NULL, groups = NULL, phase = 1,
                    conf = 0.95) {
  if (missing(lam)) stop("lam must name the continuous regressor of the cross terms", call. = FALSE)
  lp_fit("locpa2g", match.call(), x, y, dummies, bandwidth, cv, deg, vol, loo, nr, at, grid,
         groups, phase, lam, conf)
}

lp_stop <- function(...) stop(sprintf(...), call. = FALSE)

# A numeric matrix with column names from a vector, matrix or data frame.
lp_matrix <- function(v, what, prefix) {
  if (is.null(v)) return(NULL)
  if (is.data.frame(v)) {
    bad <- !vapply(v, function(col) is.numeric(col) || is.logical(col), TRUE)
    if (any(bad)) lp_stop("%s: column %s is not numeric", what, names(v)[bad][1])
    v <- as.matrix(v)
  }
  if (is.logical(v)) storage.mode(v) <- "double"
  if (!is.numeric(v)) lp_stop("%s must be numeric", what)
  if (is.null(dim(v))) {
    v <- matrix(as.double(v), ncol = 1, dimnames = list(NULL, prefix))
  } else {
    if (length(dim(v)) != 2) lp_stop("%s must be a vector, matrix or data frame", what)
    storage.mode(v) <- "double"
    nm <- colnames(v)
    if (is.null(nm)) nm <- if (ncol(v) == 1) prefix else paste0(prefix, seq_len(ncol(v)))
    nm[is.na(nm) | nm == ""] <- paste0(prefix, which(is.na(nm) | nm == ""))
    colnames(v) <- nm
  }
  rownames(v) <- NULL
  v
}

lp_count <- function(v, what, lo) {
  if (!is.numeric(v) || length(v) != 1 || !is.finite(v) || v != round(v) || v < lo)
    lp_stop("%s must be a whole number of at least %d", what, lo)
  as.integer(v)
}

lp_flag <- function(v, what) {
  if (!is.logical(v) || length(v) != 1 || is.na(v)) lp_stop("%s must be TRUE or FALSE", what)
  v
}

lp_fit <- function(estimator, call, x, y, dummies, bandwidth, cv, deg, vol, loo, nr, at, grid,
                   groups, phase, lam, conf) {
  X <- lp_matrix(x, "x", "x")
  D <- lp_matrix(dummies, "dummies", "d")
  if (is.null(X) || ncol(X) == 0) lp_stop("x must hold at least one continuous regressor")
  if (!is.numeric(y) || !is.null(dim(y)) && NCOL(y) != 1) lp_stop("y must be a numeric vector")
  y <- as.double(y)
  n <- length(y)
  if (nrow(X) != n) lp_stop("x has %d rows but y has %d values", nrow(X), n)
  if (any(!is.finite(X))) lp_stop("x has %d missing or infinite values", sum(!is.finite(X)))
  if (any(!is.finite(y))) lp_stop("y has %d missing or infinite values", sum(!is.finite(y)))
  if (!is.null(D)) {
    if (nrow(D) != n) lp_stop("dummies has %d rows but y has %d values", nrow(D), n)
    if (any(is.na(D) | (D != 0 & D != 1))) lp_stop("dummies must hold only 0 and 1")
  }
  xn <- colnames(X)
  dn <- if (is.null(D)) character() else colnames(D)
  if (anyDuplicated(c(xn, dn))) lp_stop("regressor names must differ: %s", paste(c(xn, dn), collapse = ", "))
  pc <- ncol(X)
  q <- length(dn)

  degs <- switch(estimator, dorvane = 1:2, tremsal = 1:3, locparg = 3, locpa2g = 2)
  if (!is.numeric(deg) || length(deg) != 1 || !(deg %in% degs))
    lp_stop("%s: deg must be %s", estimator, paste(degs, collapse = " or "))
  deg <- as.integer(deg)
  vol <- lp_flag(vol, "vol")
  loo <- lp_flag(loo, "loo")
  lamk <- 0L
  if (!is.null(lam)) {
    if (is.character(lam) && length(lam) == 1) {
      lamk <- match(lam, xn)
      if (is.na(lamk)) lp_stop("lam = \"%s\" is not one of the continuous regressors %s", lam, paste(xn, collapse = ", "))
    } else {
      if (!is.numeric(lam) || length(lam) != 1 || !is.finite(lam) || lam != round(lam) || lam < 1 || lam > pc)
        lp_stop("lam must be a continuous regressor's name or its number from 1 to %d", pc)
      lamk <- as.integer(lam)
    }
  }
  nr <- if (is.null(nr)) n else lp_count(nr, "nr", 1)
  if (nr > n) lp_stop("nr = %d exceeds the %d observations", nr, n)
  if (loo && nr != n) lp_stop("loo needs nr = n: the leave-one-out fit is at the observations")
  K <- 0L
  if (!is.null(groups)) {
    K <- lp_count(groups, "groups", 2)
    phase <- lp_count(phase, "phase", 1)
  }
  if (!is.numeric(conf) || length(conf) != 1 || !is.finite(conf) || conf <= 0 || conf >= 1)
    lp_stop("conf must lie strictly between 0 and 1")
  B <- lp_width(estimator, deg, pc, q)
  if (n < B) lp_stop("%d observations are too few for the %d columns of the local design", n, B)

  a <- list(estimator = estimator, routine = lp_routine(estimator), x = as.double(cbind(X, D)),
            y = y, n = n, p = pc + q, pc = pc, q = q, nr = nr, K = K,
            grp = if (K >= 2) as.double(c(K, phase)) else c(0, 0), B = B, deg = deg, vol = vol, lam = lamk)

  # Bandwidths.
  scores <- NULL
  if (!is.null(cv)) {
    if (!is.null(bandwidth)) lp_stop("give bandwidth or cv, not both")
    if (nr != n) lp_stop("cv needs nr = n: its scores come from leave-one-out fits")
    chosen <- lp_cv(a, X, cv)
    h <- chosen$bandwidth
    scores <- chosen$scores
  } else {
    h <- if (is.null(bandwidth)) rule_of_thumb(X, deg) else lp_bandwidth(bandwidth, pc)
  }
  names(h) <- xn
  a$h <- lp_h(h, q)

  # Evaluation points.
  if (loo) {
    if (!is.null(at) || !is.null(grid)) lp_stop("loo fits at the observations: leave at and grid out")
    t <- X
  } else if (!is.null(at)) {
    if (!is.null(grid)) lp_stop("give at or grid, not both")
    t <- lp_points(at, xn)
  } else if (!is.null(grid)) {
    t <- lp_grid(X, grid)
  } else {
    t <- X
  }

  run <- lp_run(a, t, loo)
  lp_warn(run, t)
  lp_result(estimator, call, a, run, X, D, y, t, h, loo, conf, scores)
}

lp_routine <- function(estimator)
  switch(estimator, dorvane = C_dorvane, tremsal = C_tremsal, locparg = C_locparg, locpa2g = C_locpa2g)

# Positive finite bandwidths, one per continuous regressor (one value is
# recycled).
lp_bandwidth <- function(h, pc) {
  if (!is.numeric(h) || !(length(h) %in% c(1, pc)) || any(!is.finite(h)) || any(h <= 0))
    lp_stop("bandwidth must be one positive number or %d of them, one per continuous regressor", pc)
  rep_len(as.double(h), pc)
}

# The libraries' bandwidth argument: the pc bandwidths, and with dummies
# a last entry -pc that marks only the first pc regressors continuous.
lp_h <- function(h, q) as.double(if (q > 0) c(h, double(q - 1), -length(h)) else h)

lp_points <- function(at, xn) {
  if (is.null(dim(at))) {
    # A vector is the points of one regressor, or one point of several.
    if (length(xn) == 1) {
      at <- matrix(at, ncol = 1)
    } else if (length(at) == length(xn)) {
      if (!is.null(names(at)) && all(xn %in% names(at))) at <- at[xn]
      at <- matrix(at, nrow = 1, dimnames = list(NULL, names(at)))
    } else {
      lp_stop("at must have one column per continuous regressor")
    }
  } else if (!is.null(colnames(at)) && all(xn %in% colnames(at))) {
    at <- at[, xn, drop = FALSE]
  }
  t <- lp_matrix(at, "at", "x")
  if (ncol(t) != length(xn)) lp_stop("at has %d columns but there are %d continuous regressors", ncol(t), length(xn))
  if (any(!is.finite(t))) lp_stop("at has missing or infinite values")
  colnames(t) <- xn
  t
}

# N evenly spaced points over the range of each of one or two continuous
# regressors; for two the first one runs fastest.
lp_grid <- function(X, grid) {
  N <- lp_count(grid, "grid", 2)
  if (ncol(X) > 2) lp_stop("grid serves one or two continuous regressors; give at for %d", ncol(X))
  axes <- lapply(seq_len(ncol(X)), function(k) {
    lo <- min(X[, k])
    hi <- max(X[, k])
    c(lo + (hi - lo) * (0:(N - 2)) / (N - 1), hi)
  })
  t <- as.matrix(expand.grid(axes, KEEP.OUT.ATTRS = FALSE))
  dimnames(t) <- list(NULL, colnames(X))
  t
}

lp_where <- function(t, i) {
  paste0(i, " (", paste(sprintf("%s = %.6g", colnames(t), t[i, ]), collapse = ", "), ")")
}

lp_warn <- function(run, t) {
  f <- run$failed
  if (length(f)) {
    shown <- paste(vapply(f[seq_len(min(5, length(f)))], function(i) lp_where(t, i), ""), collapse = ", ")
    more <- if (length(f) > 5) sprintf(" and %d more", length(f) - 5) else ""
    warning(sprintf("the local moment matrix cannot be inverted reliably at %s %s%s; %s NaN",
                    if (length(f) == 1) "point" else paste(length(f), "points:"), shown, more,
                    if (length(f) == 1) "its fit is" else "their fits are"), call. = FALSE)
  }
  if (length(run$skipped))
    warning(sprintf("the leave-one-out fit stops at a failed point; points %d to %d are not computed",
                    run$skipped[1], run$skipped[length(run$skipped)]), call. = FALSE)
  if (any(grepl("^WARNING: The estimation of the", run$printed)))
    warning("the conditional variance is not checked when the regressors include dummies", call. = FALSE)
}
