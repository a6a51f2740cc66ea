# Writes the public data sets of the bandwidth-selection tests and the
# bandwidths of KernSmooth's dpill on them, once:
#   Rscript tests/data/selection/make.R   (run in the repository's root)
# It needs R's MASS and KernSmooth packages; the tests only read its output.
library(MASS)
library(KernSmooth)
dir <- "tests/data/selection"
write.csv(faithful, file.path(dir, "faithful.csv"), row.names = FALSE)
write.csv(Boston[, c("medv", "lstat", "rm", "crim", "chas")], file.path(dir, "boston.csv"), row.names = FALSE)
d <- data.frame(data = c("mcycle", "faithful", "boston"),
                h = c(dpill(mcycle$times, mcycle$accel), dpill(faithful$waiting, faithful$eruptions),
                      dpill(Boston$lstat, Boston$medv)))
write.csv(d, file.path(dir, "dpill.csv"), row.names = FALSE)
