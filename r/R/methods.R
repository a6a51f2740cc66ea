# print, plot, predict and as.data.frame for fits.

lp_titles <- c(dorvane = "local linear", tremsal = "local cubic",
               locparg = "local quadratic with third-order terms", locpa2g = "local quadratic with cross products")

print.lpfit <- function(x, digits = 4, rows = 6, ...) {
  title <- lp_titles[[x$estimator]]
  if (x$estimator %in% c("dorvane", "tremsal") && x$deg != 3)
    title <- if (x$deg == 1) "local linear" else "local quadratic"
  cat(sprintf("%s: %s fit, n = %d, %d evaluation point%s%s\n", x$estimator, title, x$n,
              nrow(x$table), if (nrow(x$table) == 1) "" else "s", if (x$loo) " (leave-one-out)" else ""))
  cat("bandwidth: ", paste(sprintf("%s = %.4g", names(x$bandwidth), x$bandwidth), collapse = ", "),
      if (!is.null(x$cv)) sprintf(" (cross-validated over %d candidates)", nrow(x$cv)), "\n", sep = "")
  if (length(x$failed)) cat(sprintf("failed points (NaN): %s\n", paste(x$failed, collapse = " ")))
  if (length(x$skipped)) cat(sprintf("points not computed: %d to %d\n", x$skipped[1], x$skipped[length(x$skipped)]))
  shown <- utils_head(x$table, rows)
  print(format(shown, digits = digits), row.names = FALSE)
  if (nrow(x$table) > rows) cat(sprintf("... %d more rows\n", nrow(x$table) - rows))
  if (length(x$messages)) cat(sprintf("%d line%s printed by the library (see $messages)\n",
                                      length(x$messages), if (length(x$messages) == 1) "" else "s"))
  invisible(x)
}

utils_head <- function(d, k) d[seq_len(min(k, nrow(d))), , drop = FALSE]

as.data.frame.lpfit <- function(x, ...) x$table

# Fits again with the same data, bandwidths and options at the points
# `newdata`; without them, returns what the fit holds.
predict.lpfit <- function(object, newdata, type = c("level", "table", "fit"), ...) {
  type <- match.arg(type)
  fit <- object
  if (!missing(newdata) && !is.null(newdata)) {
    d <- object$data
    fit <- lp_fit(object$estimator, object$call, d$x, d$y, d$dummies, object$bandwidth, NULL,
                  object$deg, object$vol, FALSE, object$nr, newdata, NULL, object$groups,
                  if (is.null(object$phase)) 1 else object$phase, object$lam, object$conf)
    fit$cv <- object$cv
  }
  switch(type, level = fit$level, table = fit$table, fit = fit)
}

# The fit of one continuous regressor over a scatter of the data, with
# level -/+ 2 conditional standard deviations when the variance was
# estimated, the confidence band when there is one, and the density below.
plot.lpfit <- function(x, y, ...) {
  if (ncol(x$points) != 1) stop("plot shows fits of one continuous regressor", call. = FALSE)
  name <- colnames(x$points)
  o <- order(x$points[, 1])
  t <- x$points[o, 1]
  level <- x$level[o]
  old <- par(no.readonly = TRUE)
  on.exit(par(old))
  layout(matrix(1:2, 2), heights = c(2, 1))
  par(mar = c(2, 4.5, 2, 1))
  # Both panels span the evaluation points, the scatter the data among them.
  xlim <- range(t)
  inside <- x$data$x[, 1] >= xlim[1] & x$data$x[, 1] <= xlim[2]
  ylim <- range(x$data$y[inside], level, finite = TRUE)
  if (x$vol) {
    s <- sqrt(pmax(x$var[o], 0))
    ylim <- range(ylim, level - 2 * s, level + 2 * s, finite = TRUE)
  }
  plot(x$data$x[, 1], x$data$y, pch = 16, cex = 0.4, col = adjustcolor("grey40", 0.5), xlim = xlim, ylim = ylim,
       xlab = "", ylab = "response", main = sprintf("%s fit, h = %.4g", x$estimator, x$bandwidth[1]), ...)
  labels <- "fit"
  styles <- list(lty = 1, col = "black")
  if (!is.null(x$ci)) {
    polygon(c(t, rev(t)), c(x$ci[o, 1], rev(x$ci[o, 2])), col = adjustcolor("steelblue", 0.3), border = NA)
    labels <- c(labels, sprintf("%g%% confidence band", 100 * x$conf))
    styles$lty <- c(styles$lty, NA)
    styles$col <- c(styles$col, adjustcolor("steelblue", 0.3))
  }
  lines(t, level, lwd = 2)
  if (x$vol) {
    lines(t, level - 2 * s, lty = 2, col = "firebrick")
    lines(t, level + 2 * s, lty = 2, col = "firebrick")
    labels <- c(labels, "fit -/+ 2 conditional sd")
    styles$lty <- c(styles$lty, 2)
    styles$col <- c(styles$col, "firebrick")
  }
  legend("topleft", legend = labels, lty = styles$lty, col = styles$col, lwd = 2,
         pch = ifelse(is.na(styles$lty), 15, NA), bty = "n", cex = 0.8)
  par(mar = c(4, 4.5, 0.5, 1))
  plot(t, x$density[o], type = "l", xlim = xlim, xlab = name, ylab = "density")
  invisible(x)
}
