# Bandwidths: the normal-reference rule of thumb and least-squares
# leave-one-out cross-validation.

rule_of_thumb <- function(x, deg = 1) {
  X <- lp_matrix(x, "x", "x")
  n <- nrow(X)
  pc <- ncol(X)
  if (n < 2 || any(!is.finite(X))) lp_stop("x needs at least two finite observations per regressor")
  s <- apply(X, 2, function(v) {
    d <- v - lp_sum(v) / n
    sqrt(lp_sum(d * d) / (n - 1))
  })
  if (any(!(s > 0))) lp_stop("a continuous regressor is constant: %s", paste(colnames(X)[!(s > 0)], collapse = ", "))
  # Normal reference, c = (4 / (pc + 2))^(1 / (pc + 4)): Silverman's 1.06 s n^(-1/5)
  # for one regressor and deg 1; the rate n^(-1 / (pc + 8)) for deg 2 and 3.
  c <- (4 / (pc + 2))^(1 / (pc + 4))
  rate <- n^(-1 / (pc + if (deg >= 2) 8 else 4))
  stats::setNames(c * s * rate, colnames(X))
}

# The sum in index order in double precision, as the other front ends form
# it (sum() and mean() accumulate in long double).
lp_sum <- function(v) {
  s <- 0
  for (e in v) s <- s + e
  s
}

# Candidate bandwidths as rows of a matrix with pc columns: a count N gives
# N multiples of the rule of thumb from 1/4 to 4 on a geometric grid; a
# vector gives one candidate per entry, recycled over the regressors; a
# matrix or a list gives whole candidate vectors.
lp_candidates <- function(cv, X, deg) {
  pc <- ncol(X)
  if (is.list(cv)) cv <- do.call(rbind, lapply(cv, lp_bandwidth, pc = pc))
  if (is.matrix(cv)) {
    if (ncol(cv) != pc) lp_stop("cv: a candidate matrix needs %d columns, one per continuous regressor", pc)
    cand <- t(apply(cv, 1, lp_bandwidth, pc = pc))
    if (pc == 1) cand <- t(cand)
  } else if (is.numeric(cv) && length(cv) == 1) {
    N <- lp_count(cv, "cv (a count of candidates)", 2)
    f <- 4^(2 * (0:(N - 1)) / (N - 1) - 1)
    cand <- outer(f, rule_of_thumb(X, deg))
  } else if (is.numeric(cv) && length(cv) >= 2) {
    cand <- t(vapply(cv, lp_bandwidth, double(pc), pc = pc))
    if (pc == 1) cand <- t(cand)
  } else {
    lp_stop("cv must be a count of candidates or the candidate bandwidths")
  }
  dimnames(cand) <- list(NULL, colnames(X))
  cand
}

# Leave-one-out score of every candidate, mean((y_i - m_(-i)(x_i))^2); a
# candidate whose fit fails at some observation scores Inf.
lp_cv <- function(a, X, cv) {
  cand <- lp_candidates(cv, X, a$deg)
  a$vol <- FALSE
  a$K <- 0L
  a$grp <- c(0, 0)
  score <- vapply(seq_len(nrow(cand)), function(k) {
    a$h <- lp_h(cand[k, ], a$q)
    r <- lp_call(a, X, loo = TRUE)
    if (r$refused) lp_refusal(a, r)
    e <- a$y - r$mh[, 1]
    s <- if (r$failed == 0L) lp_sum(e * e) / a$n else Inf
    if (is.finite(s)) s else Inf
  }, 0)
  if (!any(is.finite(score)))
    lp_stop("cv: every candidate bandwidth fails the leave-one-out fit at some observation")
  best <- which.min(score)
  list(bandwidth = cand[best, ], scores = data.frame(cand, score = score, check.names = FALSE))
}
