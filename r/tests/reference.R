# The estimators against weighted least squares by lm(..., weights = w) on the
# local design built from its definition, at a few points of well-conditioned
# data: every output, variance and density column to 1e-10 relative, for the
# matrix and the formula method alike.
library(lpfit)

set.seed(11)
n <- 300
X <- cbind(a = runif(n, -1, 1), b = runif(n, -1, 1))
D <- cbind(u = rbinom(n, 1, 0.4))
y <- sin(2 * X[, "a"]) + X[, "a"] * X[, "b"]^2 + 0.5 * D[, "u"] + rnorm(n, sd = 0.2)
h <- c(0.6, 0.7)
at <- rbind(c(0, 0), c(0.3, -0.4), c(-0.5, 0.6))

# Local design at point t: the columns, the factor that turns a coefficient
# into the output, and for the variance columns the rule that corrects the
# fit of y^2.
design <- function(est, deg, t, dummies, lam = 0) {
  z <- sweep(X, 2, t)
  cols <- list(rep(1, n))
  kind <- "level"
  slope <- 0
  for (k in 1:2) { cols <- c(cols, list(z[, k])); kind <- c(kind, "slope"); slope <- c(slope, 0) }
  if (dummies) { cols <- c(cols, list(D[, 1])); kind <- c(kind, "slope"); slope <- c(slope, 0) }
  if (deg >= 2 || est %in% c("locparg", "locpa2g"))
    for (k in 1:2) { cols <- c(cols, list(z[, k]^2)); kind <- c(kind, "square"); slope <- c(slope, 1 + k) }
  if (est == "tremsal" && deg == 3)
    for (k in 1:2) { cols <- c(cols, list(z[, k]^3)); kind <- c(kind, "cube"); slope <- c(slope, 0) }
  if (est %in% c("locparg", "locpa2g")) {
    o <- setdiff(1:2, lam)
    cols <- c(cols, list(z[, o] * z[, lam]))
    if (est == "locparg") {
      cols <- c(cols, list(z[, o]^2 * z[, lam]))
      for (k in 1:2) cols <- c(cols, list(z[, k] * z[, lam]^2))
    }
    kind <- c(kind, rep("plain", length(cols) - length(kind)))
    slope <- c(slope, rep(0, length(cols) - length(slope)))
  }
  list(Z = do.call(cbind, cols), kind = kind, slope = slope)
}

weights <- function(t) {
  w <- dnorm((X[, 1] - t[1]) / h[1]) * dnorm((X[, 2] - t[2]) / h[2])
  w / (n * prod(h))
}

near <- function(got, want, what) {
  scale <- max(abs(want))
  if (!all(abs(got - want) <= 1e-10 * scale))
    stop(sprintf("%s: largest relative difference %.3g", what, max(abs(got - want)) / scale))
}

cases <- list(list("dorvane", 1, TRUE), list("dorvane", 2, FALSE), list("tremsal", 3, TRUE),
              list("tremsal", 2, FALSE), list("locpa2g", 2, FALSE, 2), list("locparg", 3, FALSE, 1),
              list("locparg", 3, TRUE, 2))
for (cs in cases) {
  est <- cs[[1]]; deg <- cs[[2]]; dummies <- cs[[3]]; lam <- if (length(cs) > 3) cs[[4]] else 0
  args <- list(X, y, dummies = if (dummies) D, bandwidth = h, deg = deg, vol = TRUE, at = at)
  if (lam) args$lam <- lam
  fit <- suppressWarnings(do.call(est, args))
  frame <- data.frame(X, D, y = y)
  terms <- y ~ a + b + dummy(u)
  if (!dummies) terms <- y ~ a + b
  again <- suppressWarnings(do.call(est, c(list(terms, data = frame), args[-(1:3)])))
  stopifnot(identical(again$table, fit$table))
  tab <- as.matrix(fit$table)
  label <- sprintf("%s deg %d%s", est, deg, if (dummies) " with a dummy" else "")
  for (j in seq_len(nrow(at))) {
    d <- design(est, deg, at[j, ], dummies, lam)
    w <- weights(at[j, ])
    b <- unname(coef(lm(y ~ d$Z - 1, weights = w)))
    g <- unname(coef(lm(y^2 ~ d$Z - 1, weights = w)))
    factor <- c(level = 1, slope = 1, square = 2, cube = 6, plain = 1)[d$kind]
    B <- ncol(d$Z)
    near(tab[j, 2 + seq_len(B)], factor * b, paste(label, "outputs"))
    v <- g
    v[1] <- g[1] - b[1]^2
    s <- d$kind == "slope"
    v[s] <- g[s] - 2 * b[1] * b[s]
    q <- d$kind == "square"
    v[q] <- 2 * g[q] - 4 * b[1] * b[q] - 2 * b[d$slope[q]]^2
    near(tab[j, 2 + B + seq_len(B)], v, paste(label, "variance"))
    near(fit$density[j], sum(w), paste(label, "density"))
  }
}

# Grouped densities: observation i in group (i + phase - 2) mod K + 1, each
# cell K times its weight sum; the total stays the plain density.
fit <- dorvane(X, y, bandwidth = h, at = at, groups = 3, phase = 2)
w <- weights(at[2, ])
g <- (seq_len(n) + 2 - 2) %% 3 + 1
near(unlist(fit$table[2, paste0("density_g", 1:3)]), 3 * tapply(w, g, sum), "group densities")
near(fit$density[2], sum(w), "grouped total density")
stopifnot(identical(colnames(fit$table), c("a", "b", "level", "d1_a", "d1_b", "density",
                                           "density_g1", "density_g2", "density_g3")))

# Leave-one-out at observation i is the fit without it.
small <- 1:60
fit <- dorvane(X[small, ], y[small], bandwidth = h, loo = TRUE)
for (i in c(1, 17, 60)) {
  keep <- small[-i]
  w <- dnorm((X[keep, 1] - X[i, 1]) / h[1]) * dnorm((X[keep, 2] - X[i, 2]) / h[2])
  b <- coef(lm(y[keep] ~ sweep(X[keep, ], 2, X[i, ]), weights = w))
  near(unlist(fit$table[i, c("level", "d1_a", "d1_b")]), unname(b), "leave-one-out")
}
cat("reference: all estimators agree with lm(weights = w)\n")
