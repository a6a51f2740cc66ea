# The package's routines against the CMake-built deliverables on the DAX
# returns, bit for bit. LPFIT_BUILD_DIR names the build directory that holds
# Dorvane.so and Tremsal.so; without it there is nothing to compare with.
library(lpfit)
build <- Sys.getenv("LPFIT_BUILD_DIR")
if (!nzchar(build)) {
  cat("library: LPFIT_BUILD_DIR is not set; skipped\n")
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
direct <- function(name, deg, lam = NULL, vol = 1, K = 5) {
  B <- switch(name, dorvane = 1 + deg, tremsal = 1 + deg, locparg = 4, locpa2g = 3)
  args <- list(name, x, as.double(n), 1, y, as.double(n), t, as.double(length(t)), 0.008, c(K, 1),
               double(length(t) * B), double(length(t) * B), double(length(t) * (K + 1)), as.double(deg),
               as.double(vol), 0)
  if (!is.null(lam)) args <- c(args, list(as.double(lam)))
  out <- do.call(.C, c(args, list(PACKAGE = if (name == "dorvane") "Dorvane" else "Tremsal")))
  list(mh = matrix(out[[10]], length(t)), sh = matrix(out[[11]], length(t)), fh = matrix(out[[12]], length(t)))
}
same <- function(fit, want, what) {
  if (!identical(fit$mh, want$mh) || !identical(fit$sh, want$sh) || !identical(fit$fh, want$fh))
    stop(what, ": the package's outputs differ from the CMake-built library's")
}
same(dorvane(x, y, bandwidth = 0.008, vol = TRUE, at = t, groups = 5), direct("dorvane", 1), "dorvane")
same(dorvane(x, y, bandwidth = 0.008, deg = 2, vol = TRUE, at = t, groups = 5), direct("dorvane", 2), "dorvane deg 2")
same(tremsal(x, y, bandwidth = 0.008, vol = TRUE, at = t, groups = 5), direct("tremsal", 3), "tremsal")
same(locparg(x, y, lam = 1, bandwidth = 0.008, vol = TRUE, at = t, groups = 5), direct("locparg", 3, 1), "locparg")
same(locpa2g(x, y, lam = 1, bandwidth = 0.008, vol = TRUE, at = t, groups = 5), direct("locpa2g", 2, 1), "locpa2g")
cat("library: the package reproduces the CMake-built libraries bit for bit\n")
