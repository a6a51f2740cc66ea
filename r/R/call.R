# One call of an estimator on a block of evaluation points, and fits over
# many points that survive a failed point.
#
# A call that meets a point whose local moment matrix cannot be inverted
# reliably stops there: the points before it are written, the entries of mh
# before index n (in storage order) are overwritten with NaN, and the later
# points are not visited. Every point's fit depends only on the data and that
# point, so lp_run fits again what the failure overwrote and goes on after it.
#
# How far a call got is read from the outputs: fh starts at -0, which the
# kernel stage turns into +0 or a positive sum at every point it visits, and
# mh and sh start at NA, which the fit never writes (its NaN is not NA).

lp_unwritten <- function(v) is.na(v) & !is.nan(v)

# Calls the estimator of block `a` on the m x pc points `t`. Returns mh
# (m x B), sh (m x B or NULL), fh (m x (K + 1) or m x 1), the printed lines,
# `failed` (the point that ended the call, 0 for none) and `refused`.
lp_call <- function(a, t, loo = FALSE) {
  m <- nrow(t)
  width <- if (a$K >= 2) a$K + 1 else 1
  mh <- rep(NA_real_, m * a$B)
  sh <- if (a$vol) rep(NA_real_, m * a$B) else NA_real_
  fh <- rep(-0, m * width)
  tt <- c(as.double(t), double(m * a$q))  # dummy columns of t are never read
  args <- list(a$x, as.double(a$n), as.double(a$p), a$y, as.double(a$nr), tt, as.double(m), a$h,
               a$grp, mh, sh, fh, as.double(a$deg), as.double(a$vol), as.double(loo))
  if (a$estimator %in% c("locparg", "locpa2g")) args <- c(args, list(as.double(a$lam)))

  path <- tempfile("lpfit")
  on.exit(unlink(path))
  saved <- .Call(C_capture_begin, path)
  out <- tryCatch(do.call(.C, c(list(a$routine), args, list(NAOK = TRUE))),
                  finally = .Call(C_capture_end, saved))
  printed <- readLines(path, warn = FALSE)

  r <- list(mh = matrix(out[[10]], m, a$B), sh = if (a$vol) matrix(out[[11]], m, a$B),
            fh = matrix(out[[12]] + 0, m, width), printed = printed, failed = 0L, refused = FALSE)
  f0 <- out[[12]][seq_len(m)]
  first <- which(f0 == 0 & 1 / f0 < 0)
  if (length(first)) {
    if (first[1] == 1L) r$refused <- TRUE else r$failed <- first[1] - 1L
    return(r)
  }
  # Every point was visited; the last one may still have failed.
  e <- m * a$B
  if (lp_unwritten(out[[10]][e]) || (a$vol && lp_unwritten(out[[11]][e]))) {
    r$failed <- m
  } else if (!a$vol && e <= a$n && is.nan(out[[10]][e])) {
    # The NaN may be the fit or the failure's overwrite: the last point once
    # more, followed by a copy of itself, tells them apart.
    probe <- lp_call(a, t[c(m, m), , drop = FALSE], loo)
    r$printed <- c(r$printed, probe$printed)
    if (probe$failed == 1L) r$failed <- m
  }
  r
}

lp_refusal <- function(a, r) {
  stop(sprintf("%s refused the call: %s", a$estimator,
               paste(if (length(r$printed)) r$printed else "(no message)", collapse = " / ")),
       call. = FALSE)
}

# Fits the estimator of block `a` at every row of `t`. A point that fails the
# conditioning test gets NaN in mh and sh (its density stays) and is listed in
# `failed`; under leave-one-out, where a call cannot start after the first
# point, the points after a failed one are not computed and are listed in
# `skipped`.
lp_run <- function(a, t, loo = FALSE) {
  m <- nrow(t)
  width <- if (a$K >= 2) a$K + 1 else 1
  mh <- matrix(NaN, m, a$B)
  sh <- if (a$vol) matrix(NaN, m, a$B)
  fh <- matrix(NaN, m, width)
  printed <- character()
  failed <- integer()
  skipped <- integer()
  put <- function(r, rows, local) {
    mh[rows, ] <<- r$mh[local, , drop = FALSE]
    if (a$vol) sh[rows, ] <<- r$sh[local, , drop = FALSE]
    fh[rows, ] <<- r$fh[local, , drop = FALSE]
  }
  start <- 1L
  while (start <= m) {
    rows <- start:m
    r <- lp_call(a, t[rows, , drop = FALSE], loo)
    printed <- c(printed, r$printed)
    if (r$refused) lp_refusal(a, r)
    f <- r$failed
    if (f == 0L) {
      put(r, rows, seq_along(rows))
      break
    }
    before <- seq_len(f - 1L)
    put(r, rows[before], before)
    fh[rows[f], ] <- r$fh[f, ]
    failed <- c(failed, rows[f])
    # The failure overwrote column 0 of the first min(f - 1, n) points.
    k <- min(f - 1L, a$n)
    if (k > 0L) {
      again <- lp_call(a, t[rows[seq_len(k)], , drop = FALSE], loo)
      printed <- c(printed, again$printed)
      if (again$failed != 0L || again$refused)
        stop("a point that passed the conditioning test failed it on a second call", call. = FALSE)
      put(again, rows[seq_len(k)], seq_len(k))
    }
    if (loo) {
      skipped <- if (rows[f] < m) (rows[f] + 1L):m else integer()
      break
    }
    start <- rows[f] + 1L
  }
  list(mh = mh, sh = sh, fh = fh, printed = printed, failed = failed, skipped = skipped)
}
