# The R front end itself: argument checks, failed points, cross-validation,
# predict, print and plot, and the column names.
library(lpfit)

expect_error <- function(expr, pattern) {
  msg <- tryCatch({ expr; NULL }, error = function(e) conditionMessage(e))
  if (is.null(msg) || !grepl(pattern, msg))
    stop(sprintf("expected an error matching '%s', got %s", pattern, if (is.null(msg)) "none" else msg))
}

set.seed(3)
n <- 80
x <- runif(n, -1, 1)
y <- 1 + 2 * x + rnorm(n, sd = 0.1)

# Bad arguments stop before any call.
expect_error(dorvane(x, y[-1]), "x has 80 rows but y has 79")
expect_error(dorvane(replace(x, 3, NA), y), "x has 1 missing")
expect_error(dorvane(x, y, dummies = rep(2, n)), "dummies must hold only 0 and 1")
expect_error(dorvane(x, y, bandwidth = -1), "bandwidth must be one positive")
expect_error(dorvane(x, y, bandwidth = c(1, 2)), "bandwidth must be one positive")
expect_error(dorvane(x, y, deg = 3), "deg must be 1 or 2")
expect_error(locpa2g(cbind(a = x, b = x^2), y, lam = "c"), "lam = \"c\" is not one of")
expect_error(locparg(cbind(a = x, b = x^2), y, lam = 3), "lam must be a continuous")
expect_error(dorvane(x, y, loo = TRUE, nr = 40), "loo needs nr = n")
expect_error(dorvane(x, y, loo = TRUE, at = 0), "loo fits at the observations")
expect_error(dorvane(x, y, groups = 1), "groups must be a whole number of at least 2")
expect_error(dorvane(x, y, bandwidth = 1, cv = 3), "give bandwidth or cv, not both")
expect_error(dorvane(x, y, grid = 1), "grid must be a whole number of at least 2")
expect_error(dorvane(unname(cbind(x, x, x)), y, grid = 5), "grid serves one or two")
expect_error(tremsal(x[1:3], y[1:3]), "3 observations are too few for the 4 columns")
expect_error(dorvane(x, y, at = cbind(0, 0)), "at has 2 columns")

# Names: unnamed regressors and dummies, the layout of tremsal with a dummy.
fit <- suppressWarnings(tremsal(unname(cbind(x, x^2)), y, dummies = rbinom(n, 1, 0.5), vol = TRUE, at = cbind(0, 0.2)))
stopifnot(identical(names(fit$table),
  c("x1", "x2", "level", "d1_x1", "d1_x2", "effect_d", "d2_x1", "d2_x2", "d3_x1", "d3_x2",
    "var", "var_d1_x1", "var_d1_x2", "var_effect_d", "var_d2_x1", "var_d2_x2",
    "y2_c3_x1_x1_x1", "y2_c3_x2_x2_x2", "density")))
stopifnot(identical(colnames(fit$y2), c("c3_x1_x1_x1", "c3_x2_x2_x2")),
          length(fit$messages) == 4)
fit <- locparg(cbind(p = x, q = x^2), y, lam = "p", at = cbind(0, 0.2))
stopifnot(identical(names(fit$table)[-(1:7)],
                    c("d2_q_p", "c3_q_q_p", "c3_p_p_p", "c3_q_p_p", "density")),
          identical(colnames(fit$c3), c("q_q_p", "p_p_p", "q_p_p")))

# The same data in data-frame, matrix and Fortran or transposed layouts give
# the same numbers.
X <- cbind(a = x, b = rev(x))
f1 <- dorvane(X, y, bandwidth = 0.5, at = X[1:5, ])
f2 <- dorvane(as.data.frame(X), y, bandwidth = 0.5, at = as.data.frame(X[1:5, 2:1]))
stopifnot(identical(f1$table, f2$table))

# Failed points. On these badly scaled data the local cubic fails the
# conditioning test at some points and passes at others; which ones is a
# matter of rounding, so each candidate's outcome is learned first from a call
# of its own, by the library's report line, and the points are chosen from
# them: failures first, last, in a row and between passes.
s <- 1e6
xs <- (1:40) * s
ys <- sin(1:40)
cubic <- function(at, ...) suppressWarnings(tremsal(xs, ys, bandwidth = 5 * s, at = at, ...))
cand <- seq(1, 6.75, by = 0.25) * s
alone <- lapply(cand, cubic, vol = TRUE)
reported <- vapply(alone, function(f) any(startsWith(f$messages, "t: sum of off-diagonal element")), TRUE)
stopifnot(identical(vapply(alone, function(f) length(f$failed) == 1, TRUE), reported))
bad <- which(reported)
good <- which(!reported)
if (length(bad) >= 3 && length(good) >= 2) {
  pick <- c(bad[1], good[1], bad[2], bad[3], good[2], bad[length(bad)])
  w <- NULL
  fit <- withCallingHandlers(tremsal(xs, ys, bandwidth = 5 * s, at = cand[pick], vol = TRUE),
                             warning = function(e) { w <<- conditionMessage(e); invokeRestart("muffleWarning") })
  f <- c(1L, 3L, 4L, 6L)
  stopifnot(identical(fit$failed, f),
            startsWith(w, "the local moment matrix cannot be inverted reliably at 4 points: 1 (x = "),
            all(is.nan(fit$mh[f, ])), all(is.nan(fit$sh[f, ])))
  for (j in seq_along(pick)) {
    stopifnot(identical(alone[[pick[j]]]$fh[1, ], fit$fh[j, ]))
    if (!(j %in% f)) stopifnot(identical(alone[[pick[j]]]$mh[1, ], fit$mh[j, ]),
                               identical(alone[[pick[j]]]$sh[1, ], fit$sh[j, ]))
  }
  # Without vol only mh tells how a call ended.
  stopifnot(identical(cubic(cand[pick])$failed, f), identical(cubic(cand[bad[1]])$failed, 1L),
            identical(cubic(cand[good[1]])$failed, integer()))
} else {
  cat("frontend: these data no longer fail at some points and pass at others; failed points not tested\n")
}
# Under leave-one-out a failure ends the fit: the points before it are kept.
loo <- suppressWarnings(tremsal(xs, ys, bandwidth = 5 * s, loo = TRUE))
if (length(loo$failed)) {
  stopifnot(length(loo$failed) == 1, length(loo$skipped) == 40 - loo$failed,
            all(is.nan(loo$mh[loo$failed:40, ])), all(is.finite(loo$mh[seq_len(loo$failed - 1), ])))
}

# Cross-validation picks the candidate with the smallest leave-one-out score,
# computed here from separate leave-one-out fits.
cands <- c(0.05, 0.2, 0.8)
fit <- dorvane(x, y, cv = cands, at = 0)
score <- sapply(cands, function(h) mean((y - dorvane(x, y, bandwidth = h, loo = TRUE)$level)^2))
stopifnot(isTRUE(all.equal(fit$cv$score, score, tolerance = 1e-13)),
          fit$bandwidth == cands[which.min(score)])
stopifnot(isTRUE(all.equal(dorvane(x, y, cv = 5)$cv$x / rule_of_thumb(x), c(0.25, 0.5, 1, 2, 4), tolerance = 1e-15)))

# Rule of thumb: Silverman's 1.06 s n^(-1/5) for one regressor, the rate
# n^(-1/9) for deg 2 and 3, c = 1 for two regressors.
stopifnot(isTRUE(all.equal(unname(rule_of_thumb(x)), (4 / 3)^0.2 * sd(x) * n^-0.2, tolerance = 1e-13)),
          isTRUE(all.equal(unname(rule_of_thumb(x, 3)), (4 / 3)^0.2 * sd(x) * n^(-1 / 9), tolerance = 1e-13)),
          isTRUE(all.equal(unname(rule_of_thumb(cbind(x, 10 * x))), c(1, 10) * sd(x) * n^(-1 / 6), tolerance = 1e-13)))
expect_error(rule_of_thumb(cbind(a = x, b = 1)), "a continuous regressor is constant: b")

# predict fits again at new points with the chosen bandwidth.
fit <- dorvane(x, y, bandwidth = 0.3, vol = TRUE)
again <- dorvane(x, y, bandwidth = 0.3, vol = TRUE, at = c(-0.5, 0.5))
stopifnot(identical(predict(fit, c(-0.5, 0.5)), again$level),
          identical(predict(fit, c(-0.5, 0.5), type = "table"), again$table),
          identical(predict(fit), fit$level),
          all(c("ci_lower", "ci_upper") %in% names(fit$table)),
          all(fit$table$ci_lower < fit$level & fit$level < fit$table$ci_upper, na.rm = TRUE))

out <- capture.output(print(fit))
stopifnot(grepl("^dorvane: local linear fit, n = 80, 80 evaluation points", out[1]))
grDevices::pdf(NULL)
plot(fit)
invisible(grDevices::dev.off())
expect_error(plot(dorvane(X, y, bandwidth = 0.5, at = X[1:3, ])), "one continuous regressor")
cat("frontend: checks, failed points, cv, predict, print and plot\n")
