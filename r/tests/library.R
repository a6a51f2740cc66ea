# The package's tables against direct calls of the CMake-built deliverables on
# the DAX returns, bit for bit: every output column, the variance columns and
# the grouped densities, also with two threads and over a grid.
# LPFIT_BUILD_DIR names the build directory that holds Dorvane.so and
# Tremsal.so; without it there is nothing to compare with.
library(lpfit)
build <- Sys.getenv("LPFIT_BUILD_DIR")
if (!nzchar(build) || !file.exists(file.path(build, "Dorvane.so"))) {
  cat("library: LPFIT_BUILD_DIR holds no Dorvane.so; skipped\n")
  quit(save = "no")
}
dyn.load(file.path(build, "Dorvane.so"))
dyn.load(file.path(build, "Tremsal.so"))

dax <- as.double(EuStockMarkets[, "DAX"])
r <- diff(log(dax))
x <- r[-length(r)]
y <- r[-1]
n <- length(y)
t <- seq(-0.03, 0.03, length.out = 25)
direct <- function(name, deg, B, lam = NULL, K = 5) {
  m <- length(t)
  args <- list(name, x, as.double(n), 1, y, as.double(n), t, as.double(m), 0.008, c(K, 1),
               double(m * B), double(m * B), double(m * (K + 1)), as.double(deg), 1, 0)
  if (!is.null(lam)) args <- c(args, list(as.double(lam)))
  out <- do.call(.C, c(args, list(PACKAGE = if (name == "dorvane") "Dorvane" else "Tremsal")))
  cbind(matrix(out[[10]], m), matrix(out[[11]], m), matrix(out[[12]], m))
}
same <- function(fit, want, what) {
  got <- as.matrix(fit$table[1 + seq_len(ncol(want))])
  if (!identical(unname(got), want)) stop(what, ": the package's table differs from the deliverable's")
}
cases <- list(list("dorvane", 1, 2), list("dorvane", 2, 3), list("tremsal", 3, 4),
              list("locparg", 3, 4, 1), list("locpa2g", 2, 3, 1))
for (cs in cases) {
  est <- get(cs[[1]])
  opts <- list(x, y, bandwidth = 0.008, deg = cs[[2]], vol = TRUE, at = t, groups = 5)
  if (length(cs) > 3) opts$lam <- cs[[4]]
  want <- direct(cs[[1]], cs[[2]], cs[[3]], if (length(cs) > 3) cs[[4]])
  same(do.call(est, opts), want, cs[[1]])
  same(do.call(est, c(opts, threads = 2)), want, paste(cs[[1]], "on two threads"))
}
# A grid over the data gives the points the deliverable is given.
g <- dorvane(x, y, bandwidth = 0.008, grid = 7, vol = TRUE, groups = 5)
t <- g$table$x
same(g, direct("dorvane", 1, 2), "dorvane over a grid")
stopifnot(identical(range(t), range(x)), length(t) == 7)
cat("library: the package reproduces the CMake-built libraries bit for bit\n")
