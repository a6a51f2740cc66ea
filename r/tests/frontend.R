# The R front end: options reaching the core with their types, the core's
# sentences as errors and warnings, formula and matrix methods, dummies,
# subset and missing values, the methods, cross-validation and failed points.
library(lpfit)

expect_error <- function(expr, pattern, fixed = FALSE) {
  msg <- tryCatch({ expr; NULL }, error = function(e) conditionMessage(e))
  if (is.null(msg) || !grepl(pattern, msg, fixed = fixed))
    stop(sprintf("expected an error matching '%s', got %s", pattern, if (is.null(msg)) "none" else msg))
}
# The value of expr and the warnings it gave.
warned <- function(expr) {
  w <- character()
  v <- withCallingHandlers(expr, warning = function(e) { w <<- c(w, conditionMessage(e)); invokeRestart("muffleWarning") })
  list(value = v, warnings = w)
}
same_table <- function(a, b) identical(unname(as.matrix(a$table)), unname(as.matrix(b$table)))

set.seed(3)
n <- 80
x <- runif(n, -1, 1)
y <- 1 + 2 * x + rnorm(n, sd = 0.1)

# The core's sentences are the errors; options of every R type reach it.
expect_error(dorvane(x, y, deg = 3), "^deg 3: dorvane fits degree 1 or 2$")
expect_error(dorvane(x, y, deg = 1.5), "^deg 1.5 is not a whole number$")
expect_error(dorvane(x, y, phase = 2L), "^phase goes with groups$")
expect_error(dorvane(x, y, bandwidth = "wide"), "bandwidth 'wide' is none of 'rot', 'cv', 'aicc', 'plugin'", TRUE)
expect_error(dorvane(x, y, bandwidth = c(1, 2)), "bandwidth has 2 values; give one, or one for each of the 1")
expect_error(dorvane(x, y, colour = 2), "no number option is named 'colour'")
expect_error(dorvane(x, y, loo = TRUE, nr = 40), "loo needs nr = n = 80")
expect_error(dorvane(cbind(level = x), y), "the output column 'level' would have the name of a regressor")
expect_error(dorvane(x, y[-1]), "regressor 'x' has 80 values but the response has 79")
expect_error(dorvane(x, y, dummies = rep(2, n)), "dummy 'd' is 2 at observation 1; a dummy holds 0 and 1 only")
expect_error(tremsal(x[1:4], y[1:4]), "4 observations are too few for the 4 local coefficients")
expect_error(locparg(cbind(a = x, b = x^2), y, lam = "c"), "lam 'c' is not a continuous regressor")
# Checks of R's own: types and shapes the core cannot see.
expect_error(dorvane(x, y, deg = NA_integer_), "deg must be one number, one text or TRUE/FALSE")
expect_error(dorvane(x, y, vol = c(TRUE, FALSE)), "vol must be one number")
expect_error(dorvane(data.frame(a = x, b = letters[1:2]), y), "x: column 'b' is not numeric")
expect_error(dorvane(cbind(a = x, b = -x), y, at = 1:3), "at: give a matrix or data frame with one column per")
expect_error(dorvane(cbind(a = x, b = -x), y, cv = cbind(1:3)), "one column per continuous regressor (2)", TRUE)
# Integers, doubles and logicals: deg = 2L and deg = 2 are one option; a
# bandwidth reaches the core bit for bit (0.1 + 0.2 is not 0.3).
stopifnot(identical(dorvane(x, y, deg = 2L)$table, dorvane(x, y, deg = 2)$table),
          identical(dorvane(x, y, bandwidth = 0.1 + 0.2)$bandwidth, c(x = 0.1 + 0.2)),
          !identical(dorvane(x, y, bandwidth = 0.1 + 0.2)$table, dorvane(x, y, bandwidth = 0.3)$table),
          identical(dorvane(x, y, threads = 1)$table, dorvane(x, y, threads = 2)$table))
# A named bandwidth is taken by name.
X2 <- cbind(a = x, b = rev(x))
stopifnot(identical(dorvane(X2, y, bandwidth = c(b = 0.4, a = 0.3))$table, dorvane(X2, y, bandwidth = c(0.3, 0.4))$table))

# A failed point: a NaN row (its density stays), listed from 1, one warning
# per sentence of the core.
x0 <- 0:9
y0 <- x0^2
r <- warned(dorvane(x0, y0, bandwidth = 0.05, at = c(0.5, -40, 4.5), vol = TRUE))
fit <- r$value
stopifnot(identical(r$warnings, paste("the local fit is NaN at point 2 (x = -40): its local moment matrix is singular",
                                      "or too ill-conditioned for a trustworthy solution; a larger bandwidth or fewer",
                                      "terms may help")),
          identical(fit$failed, 2L), is.nan(fit$level[2]), is.nan(fit$var[2]), fit$density[2] == 0,
          fit$level[c(1, 3)] == c(0.5, 20.5))
r <- warned(dorvane(x0, y0, dummies = x0 %% 2, bandwidth = 0.05, at = c(0.5, -40), vol = TRUE))
# With the dummy x %% 2 the two heaviest observations at 0.5 fix no more than a
# line: the third direction lies in weights 1e-87 below theirs, under their
# rounding, so that point has no trustworthy fit either.
stopifnot(length(r$warnings) == 2,
          startsWith(r$warnings[1], "the local fit is NaN at 2 points: 1 (x = 0.5) and 2 (x = -40)"),
          r$warnings[2] == "the conditional variance is not checked when the regressors include dummies")
# Leave-one-out goes on past a failed point.
xl <- c(0:4, 40, 5:9)
r <- warned(dorvane(xl, xl^2, bandwidth = 0.05, loo = TRUE))
stopifnot(identical(r$value$failed, 6L), startsWith(r$warnings, "the local fit is NaN at point 6 (x = 40)"),
          identical(which(is.nan(r$value$level)), 6L))

# Cross-validation: the candidates' scores are those of separate
# leave-one-out fits, and the least one is chosen; a matrix gives candidates
# per regressor.
cands <- c(0.05, 0.2, 0.8)
r <- warned(dorvane(x, y, cv = cands, at = 0))
fit <- r$value
score <- sapply(cands, function(h) mean((y - dorvane(x, y, bandwidth = h, loo = TRUE)$level)^2))
stopifnot(isTRUE(all.equal(fit$selection_score, score, tolerance = 1e-13)),
          fit$bandwidth == cands[which.min(score)], fit$method == "cross-validated",
          nzchar(fit$texts[["selection"]]), length(r$warnings) == (which.min(score) == 3),
          all(grepl("the least score of least-squares cross-validation is at the largest candidate", r$warnings)))
grid2 <- cbind(c(0.2, 0.5, 0.9), c(0.9, 0.5, 0.2))
fit <- suppressWarnings(dorvane(X2, y, cv = grid2, at = c(0, 0)))
stopifnot(identical(matrix(fit$selection_h, 3), grid2), length(fit$selection_score) == 3,
          identical(unname(fit$bandwidth), grid2[which.min(fit$selection_score), ]))

if (requireNamespace("MASS", quietly = TRUE)) {
  B <- MASS::Boston
  # Formula and matrix methods: the same table, columns named after the data.
  f1 <- dorvane(medv ~ lstat + rm, data = B)
  stopifnot(identical(names(f1$table), c("lstat", "rm", "level", "d1_lstat", "d1_rm", "density")),
            identical(f1$table, dorvane(B[c("lstat", "rm")], B$medv)$table),
            identical(f1$table, dorvane(as.matrix(B[c("lstat", "rm")]), B["medv"])$table),
            identical(f1$table, dorvane(medv ~ ., data = B[c("medv", "lstat", "rm")])$table),
            f1$n == 506, identical(names(f1$bandwidth), c("lstat", "rm")))
  # Dummies: a factor of two levels (1 at the second), a logical, dummy() and
  # the matrix method's dummies give one fit; a factor of more levels gives a
  # dummy per level but the first, as model.matrix does.
  B$river <- factor(ifelse(B$chas == 1, "yes", "no"))
  B$riverside <- B$chas == 1
  at <- c(5, 10, 20)
  fd <- dorvane(B["lstat"], B$medv, dummies = B["chas"], at = at)
  for (f in list(medv ~ lstat + river, medv ~ lstat + riverside, medv ~ lstat + dummy(chas)))
    stopifnot(same_table(dorvane(f, data = B, at = at), fd))
  stopifnot(identical(names(dorvane(medv ~ lstat + river, data = B, at = at)$table)[4], "effect_river"),
            same_table(dorvane(B["lstat"], B$medv, dummies = B["river"], at = at), fd))
  fr <- dorvane(medv ~ lstat + factor(rad), data = B, at = at)
  mm <- model.matrix(~ factor(rad), B)[, -1]
  stopifnot(identical(fr$table, dorvane(B["lstat"], B$medv, dummies = mm, at = at)$table),
            identical(names(fr$table)[4:5], c("effect_factor(rad)2", "effect_factor(rad)3")))
  expect_error(dorvane(medv ~ lstat * rm, data = B), "terms must be single variables")
  expect_error(dorvane(river ~ lstat, data = B), "the response 'river' must be numeric")
  # subset, and transformed terms named as written.
  fs <- dorvane(medv ~ log(lstat), data = B, subset = rad < 24)
  keep <- B$rad < 24
  stopifnot(identical(names(fs$table)[1:3], c("log(lstat)", "level", "d1_log(lstat)")),
            same_table(fs, dorvane(log(B$lstat[keep]), B$medv[keep])))

  # Missing values: na.omit (the default) and na.exclude drop and report them,
  # na.fail refuses them with the core's count; the matrix method refuses
  # them unless missing = "drop".
  Bm <- B
  Bm$lstat[c(3, 50)] <- NA
  Bm$medv[7] <- NA
  fo <- dorvane(medv ~ lstat, data = Bm)
  so <- summary(fo)
  stopifnot(identical(fo$dropped, c(3L, 7L, 50L)), fo$n == 503,
            identical(fo$table, dorvane(medv ~ lstat, data = Bm[-c(3, 7, 50), ])$table),
            grepl("503 used, 3 dropped for a missing value (3, 7 and 50)", so$text, fixed = TRUE),
            length(residuals(fo)) == 503, identical(names(fo$na.action), c("3", "7", "50")))
  fx <- dorvane(medv ~ lstat, data = Bm, na.action = na.exclude)
  stopifnot(length(fitted(fx)) == 506, identical(which(is.na(residuals(fx))), c(3L, 7L, 50L)),
            identical(fitted(fx)[-c(3, 7, 50)], fitted(fo)))
  expect_error(dorvane(medv ~ lstat, data = Bm, na.action = na.fail),
               "response 'medv' has 1 missing or infinite value, the first at observation 7")
  expect_error(dorvane(medv ~ lstat, data = Bm, na.action = "na.fail"), "response 'medv' has 1 missing")
  old <- options(na.action = "na.fail")
  expect_error(dorvane(medv ~ lstat, data = Bm), "response 'medv' has 1 missing")
  options(old)
  expect_error(dorvane(Bm$lstat, B$medv), "regressor 'x' has 2 missing or infinite values, the first at observation 3")
  stopifnot(identical(dorvane(Bm$lstat, Bm$medv, missing = "drop")$dropped, c(3L, 7L, 50L)))

  # summary, fitted and residuals: the fit at the observations, made once.
  f <- dorvane(medv ~ lstat + rm, data = B, grid = 4)
  stopifnot(is.null(f$values$fitted), nrow(f$table) == 16)
  fv <- fitted(f)
  res <- residuals(f)
  s <- summary(f)
  stopifnot(identical(fv, f1$level), identical(res, B$medv - fv), !is.null(f$cache$fitted),
            isTRUE(all.equal(s$r_squared, 1 - sum(res^2) / sum((B$medv - mean(B$medv))^2), tolerance = 1e-12)),
            startsWith(s$text, f$texts[["header"]]), grepl("R-squared at the observations: 0.8", s$text))
  out <- capture.output(print(s))
  stopifnot(out[1] == "dorvane: local linear fit, n = 506, 16 evaluation points")
  # With a dummy the fitted value carries its effect.
  fd <- dorvane(medv ~ lstat + dummy(chas), data = B)
  stopifnot(isTRUE(all.equal(fitted(fd), fd$level + fd$effect_chas * B$chas, tolerance = 1e-12)))

  # predict is the fit again at the new points, through the terms of the
  # formula, with the chosen bandwidth; without newdata the fitted values.
  f <- suppressWarnings(dorvane(medv ~ log(lstat) + rm, data = B, cv = 4))
  new <- data.frame(lstat = c(5, 10), rm = c(6, 7))
  again <- suppressWarnings(dorvane(medv ~ log(lstat) + rm, data = B, cv = 4, at = cbind(log(new$lstat), new$rm)))
  stopifnot(identical(predict(f, new), again$level),
            identical(predict(f, cbind(rm = new$rm, `log(lstat)` = log(new$lstat))), predict(f, new)),
            identical(predict(f), fitted(f)))
  se <- tryCatch(predict(f, new, se.fit = TRUE), error = function(e) conditionMessage(e))
  stopifnot(if (is.list(se)) length(se$se.fit) == 2 else grepl("no standard error of the level", se))
  ci <- tryCatch(confint(f, c("level", "d1_rm")), error = function(e) conditionMessage(e))
  stopifnot(if (is.data.frame(ci)) all(ci$lower_level <= ci$upper_level, na.rm = TRUE)
            else grepl("no rbc interval column lower_level, upper_level", ci))
  stopifnot(any(startsWith(capture.output(print(f)), "note: chosen bandwidth log(lstat) = ")))
}

# print shows the core's header, as.data.frame the table, $ its columns.
fit <- dorvane(x, y, bandwidth = 0.3, vol = TRUE)
out <- capture.output(print(fit))
stopifnot(identical(out[1:2], strsplit(fit$texts[["header"]], "\n")[[1]]), grepl("74 more rows", out[length(out)]),
          identical(as.data.frame(fit), fit$table), identical(fit$d1_x, fit$table$d1_x),
          identical(fit$estimator, "dorvane"))
# plot evaluates the fit again on a fine grid; the band's NaN (a negative
# variance at the edges) breaks it.
grDevices::pdf(NULL)
plot(fit)
plot(dorvane(x, y, grid = 5, vol = TRUE))
plot(dorvane(x, y, grid = 5, ci = "rbc"), derivative = TRUE)
invisible(grDevices::dev.off())
expect_error(plot(dorvane(X2, y, at = X2[1:3, ])), "one continuous regressor")
# The residuals' conditional variance, by the name it has everywhere.
v <- dorvane(x, y, vol = TRUE, var_residual = TRUE)$table
stopifnot(identical(names(v)[match("var_d1_x", names(v)) + 1], "var_residual"), all(v$var_residual >= 0))
cat("frontend: options, messages, formulas, dummies, missing values, methods, cv and failed points\n")
