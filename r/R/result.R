# The result object of a fit: the flat table with the canonical column names,
# the same numbers grouped by kind, the libraries' raw outputs, and what is
# needed to fit again at other points.

lp_result <- function(estimator, call, a, run, X, D, y, t, h, loo, conf, scores) {
  xn <- colnames(X)
  dn <- if (is.null(D)) character() else colnames(D)
  cols <- lp_columns(estimator, a$deg, xn, dn, a$lam)
  mh <- run$mh
  colnames(mh) <- cols$mh
  sh <- run$sh
  if (!is.null(sh)) colnames(sh) <- cols$sh
  fh <- run$fh
  colnames(fh) <- c("density", if (a$K >= 2) paste0("density_g", seq_len(a$K)))

  pick <- function(M, g, key, label) {
    k <- which(key == g)
    if (is.null(M) || !length(k)) return(NULL)
    out <- M[, k, drop = FALSE]
    colnames(out) <- label[k]
    out
  }
  fit <- list(level = mh[, 1])
  for (g in c("d1", "effect", "d2", "d3", "cross", "c3")) fit[[g]] <- pick(mh, g, cols$group, cols$label)
  if (a$vol) {
    fit$var <- sh[, 1]
    for (g in c("var_d1", "var_effect", "var_d2", "y2")) fit[[g]] <- pick(sh, g, cols$sgroup, cols$slabel)
  }
  fit$density <- fh[, 1]
  if (a$K >= 2) {
    fit$density_groups <- fh[, -1, drop = FALSE]
    colnames(fit$density_groups) <- paste0("g", seq_len(a$K))
  }

  # Pointwise asymptotic band of the local linear fit with one continuous
  # regressor and no dummies: level -/+ z sqrt(var R(K) / (n h f)),
  # R(K) = 1/(2 sqrt(pi)) for the Gaussian kernel; the smoothing bias is
  # ignored, so it covers E[level], and it is NaN where var < 0.
  ci <- NULL
  if (estimator == "dorvane" && a$deg == 1 && a$pc == 1 && a$q == 0 && a$vol) {
    z <- -qnorm((1 - conf) / 2)
    v <- fit$var
    half <- rep(NaN, length(v))
    ok <- !is.na(v) & v >= 0
    half[ok] <- z * sqrt(v[ok] * (1 / (2 * sqrt(pi))) / (a$n * h[1] * fit$density[ok]))
    ci <- cbind(ci_lower = fit$level - half, ci_upper = fit$level + half)
    fit$ci <- ci
  }

  parts <- Filter(Negate(is.null), list(t, mh, sh, fh, ci))
  table <- do.call(data.frame, c(parts, list(check.names = FALSE)))
  rownames(table) <- NULL
  obj <- c(list(estimator = estimator, call = call, table = table, points = t), fit,
           list(mh = unname(run$mh), sh = if (a$vol) unname(run$sh), fh = unname(run$fh),
                messages = run$printed, failed = run$failed, skipped = run$skipped,
                bandwidth = h, cv = scores, n = a$n, deg = a$deg, vol = a$vol, loo = loo,
                nr = a$nr, groups = if (a$K >= 2) a$K, phase = if (a$K >= 2) a$grp[2],
                lam = if (a$lam > 0) xn[a$lam], conf = conf,
                data = list(x = X, dummies = D, y = y)))
  class(obj) <- "lpfit"
  obj
}
