# Methods for fits: print, summary, fitted values and residuals, predict,
# confint, as.data.frame and plot. Whatever a fit lacks is asked of the core
# again with the fit's data and options.

# The table's columns and the core's values read as fields: fit$level,
# fit$d1_lstat, fit$selection_score.
`$.lpfit` <- function(x, name) {
  v <- .subset2(x, name)
  if (is.null(v)) v <- .subset2(x, "table")[[name]]
  if (is.null(v)) v <- .subset2(x, "values")[[name]]
  v
}

print.lpfit <- function(x, digits = 4, rows = 6, ...) {
  cat(x$texts[["header"]])
  lp_say(lp_lines(x$texts[["notes"]]), "note: ")
  print(format(x$table[seq_len(min(rows, nrow(x$table))), , drop = FALSE], digits = digits), row.names = FALSE)
  if (nrow(x$table) > rows) cat(sprintf("... %d more rows\n", nrow(x$table) - rows))
  invisible(x)
}

lp_say <- function(lines, prefix = "") if (length(lines)) cat(paste0(prefix, lines, "\n"), sep = "")

as.data.frame.lpfit <- function(x, ...) x$table

# The options of a fit again, with the bandwidth it chose given as numbers
# (so that no selection runs twice) and `changes` applied; without `points`
# the evaluation points are left to `changes`.
lp_again <- function(fit, changes = list(), points = TRUE) {
  opts <- fit$options
  drop <- c("bandwidth", "cv", "cv_grid", "cv_scores", "task", "fitted", if (!points) c("at", "grid", "loo"))
  opts <- c(opts[setdiff(names(opts), drop)], list(bandwidth = unname(fit$bandwidth), method = fit$method))
  opts[names(changes)] <- changes
  Filter(Negate(is.null), opts)
}

# The fit with its fitted values at the observations: the fit again with
# fitted = 1 and its options as given, made once and kept.
lp_with_fitted <- function(fit) {
  if (!is.null(fit$values$fitted)) return(fit)
  if (is.null(fit$cache$fitted))
    fit$cache$fitted <- lp_run(fit$estimator, fit$data, c(fit$options[names(fit$options) != "fitted"], fitted = 1L))
  fit$cache$fitted
}

fitted.lpfit <- function(object, ...) stats::napredict(object$na.action, lp_with_fitted(object)$values$fitted)

residuals.lpfit <- function(object, ...) stats::naresid(object$na.action, lp_with_fitted(object)$values$residuals)

summary.lpfit <- function(object, ...) {
  r <- lp_with_fitted(object)
  structure(list(text = r$texts[["summary"]], notes = lp_lines(r$texts[["notes"]]),
                 messages = lp_lines(r$texts[["messages"]]), bandwidth = object$bandwidth, method = object$method,
                 n = object$n, dropped = object$dropped, failed = object$failed, refitted = object$refitted,
                 r_squared = r$values$r_squared, residual_variance = r$values$residual_variance),
            class = "summary.lpfit")
}

print.summary.lpfit <- function(x, ...) {
  cat(x$text)
  lp_say(x$notes, "note: ")
  lp_say(x$messages)
  invisible(x)
}

# Points for a fit again: a data frame (or list) with the regressors'
# variables gives them through the fit's terms, e.g. log(lstat); anything
# else is taken as `at`.
lp_newpoints <- function(fit, newdata) {
  vars <- fit$data$vars
  if (is.list(newdata) && all(unlist(lapply(vars, all.vars)) %in% names(newdata))) {
    env <- if (is.null(fit$data$env)) baseenv() else fit$data$env
    newdata <- stats::setNames(lapply(vars, eval, newdata, env), names(fit$data$x))
    newdata <- do.call(cbind, newdata)
  }
  newdata
}

predict.lpfit <- function(object, newdata, se.fit = FALSE, ...) {
  if (missing(newdata) || is.null(newdata)) {
    if (se.fit) stop("se.fit needs newdata: the standard errors are those of a fit at new points", call. = FALSE)
    return(stats::fitted(object))
  }
  changes <- list(at = lp_newpoints(object, newdata))
  if (se.fit && (is.null(object$options[["ci"]]) || identical(object$options[["ci"]], "none")))
    changes$ci <- "pointwise"
  fit <- lp_fit(object$estimator, object$call, object$data, lp_again(object, changes, points = FALSE))
  if (!se.fit) return(fit$level)
  if (is.null(fit$se_level)) stop("this version of the core gives no standard error of the level", call. = FALSE)
  list(fit = fit$level, se.fit = fit$se_level)
}

# Intervals at the fit's points: the coordinates, then lower_C and upper_C of
# every output C in parm. A kind or level other than the fit's fits again.
confint.lpfit <- function(object, parm = "level", level = NULL, kind = NULL, ...) {
  given <- object$options
  if (is.null(kind)) kind <- if (is.null(given[["ci"]]) || identical(given[["ci"]], "none")) "rbc" else given[["ci"]]
  if (is.null(level)) level <- given[["conf"]]
  cols <- c(rbind(paste0("lower_", parm), paste0("upper_", parm)))
  table <- object$table
  if (!identical(kind, given[["ci"]]) || !identical(level, given[["conf"]]) || !all(cols %in% names(table)))
    table <- list2DF(lp_run(object$estimator, object$data, lp_again(object, list(ci = kind, conf = level)))$table)
  absent <- setdiff(cols, names(table))
  if (length(absent))
    stop(sprintf("the fit has no %s interval column %s", kind, paste(absent, collapse = ", ")), call. = FALSE)
  table[c(names(object$data$x), cols)]
}

# The fit of one continuous regressor, evaluated again at 201 points over the
# range of its evaluation points, over a scatter of the data: the interval
# when one was asked for, level -/+ 2 conditional sd with vol, the density
# below. Bands break where they are NaN.
plot.lpfit <- function(x, y, derivative = FALSE, ...) {
  xn <- names(x$data$x)
  if (length(xn) != 1) stop("plot draws fits of one continuous regressor", call. = FALSE)
  span <- range(x$table[[xn]])
  if (span[1] == span[2]) span <- range(x$data$x[[1]])
  t <- seq(span[1], span[2], length.out = 201)
  f <- suppressWarnings(lp_run(x$estimator, x$data, lp_again(x, list(at = t), points = FALSE)))$table
  old <- graphics::par(no.readonly = TRUE)
  on.exit(graphics::par(old))
  graphics::layout(matrix(seq_len(2 + derivative), 2 + derivative), heights = c(2, if (derivative) 1.2, 1))
  graphics::par(mar = c(2, 4.5, 2, 1))
  lower <- if (is.null(f[["lower_level"]])) f[["ci_lower"]] else f[["lower_level"]]
  upper <- if (is.null(f[["upper_level"]])) f[["ci_upper"]] else f[["upper_level"]]
  sd2 <- if (is.null(f[["var"]])) NULL else 2 * sqrt(ifelse(f[["var"]] >= 0, f[["var"]], NaN))
  inside <- x$data$x[[1]] >= span[1] & x$data$x[[1]] <= span[2]
  ylim <- range(x$data$y[inside], f$level, lower, upper, f$level - sd2, f$level + sd2, finite = TRUE)
  graphics::plot(x$data$x[[1]], x$data$y, pch = 16, cex = 0.4, col = grDevices::adjustcolor("grey40", 0.5),
                 xlim = span, ylim = ylim, xlab = "", ylab = x$data$yname,
                 main = sprintf("%s fit, h = %.4g (%s)", x$estimator, x$bandwidth[1], x$method), ...)
  labels <- "fit"
  ltys <- 1
  cols <- "black"
  if (!is.null(lower)) {
    band <- grDevices::adjustcolor("steelblue", 0.3)
    ok <- is.finite(lower) & is.finite(upper)
    for (i in split(which(ok), cumsum(!ok)[ok]))
      graphics::polygon(c(t[i], rev(t[i])), c(lower[i], rev(upper[i])), col = band, border = NA)
    conf <- if (is.null(x$options[["conf"]])) 0.95 else x$options[["conf"]]
    kind <- if (is.null(f[["lower_level"]])) "asymptotic" else x$options[["ci"]]
    labels <- c(labels, sprintf("%g%% %s interval", 100 * conf, kind))
    ltys <- c(ltys, NA)
    cols <- c(cols, band)
  }
  graphics::lines(t, f$level, lwd = 2)
  if (!is.null(sd2)) {
    graphics::lines(t, f$level - sd2, lty = 2, col = "firebrick")
    graphics::lines(t, f$level + sd2, lty = 2, col = "firebrick")
    labels <- c(labels, "fit -/+ 2 conditional sd")
    ltys <- c(ltys, 2)
    cols <- c(cols, "firebrick")
  }
  graphics::legend("topleft", legend = labels, lty = ltys, col = cols, lwd = 2, pch = ifelse(is.na(ltys), 15, NA),
                   bty = "n", cex = 0.8)
  if (derivative) {  # the slope with its interval, in a panel of its own
    d1 <- f[[paste0("d1_", xn)]]
    lo <- f[[paste0("lower_d1_", xn)]]
    hi <- f[[paste0("upper_d1_", xn)]]
    graphics::par(mar = c(0.5, 4.5, 0.5, 1))
    graphics::plot(t, d1, type = "l", lwd = 2, xlim = span, ylim = range(d1, lo, hi, finite = TRUE), xaxt = "n",
                   xlab = "", ylab = paste0("d1_", xn))
    ok <- is.finite(lo) & is.finite(hi)
    for (i in split(which(ok), cumsum(!ok)[ok]))
      graphics::polygon(c(t[i], rev(t[i])), c(lo[i], rev(hi[i])), col = grDevices::adjustcolor("steelblue", 0.3), border = NA)
  }
  graphics::par(mar = c(4, 4.5, 0.5, 1))
  graphics::plot(t, f$density, type = "l", xlim = span, xlab = xn, ylab = "density")
  invisible(x)
}
