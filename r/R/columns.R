# Names of the design columns of each estimator, in the libraries' order.
#
# Column 0 is the intercept, then the continuous regressors, the dummies and
# the higher-order terms. Each column gets its name in the flat table (for mh
# and for sh) and its place in the grouped form of the result: the group
# (a matrix of the result) and its column name there.
lp_columns <- function(estimator, deg, xn, dn, lam) {
  cols <- list()
  add <- function(mh, sh, group, sgroup, label, slabel) {
    cols[[length(cols) + 1L]] <<- data.frame(mh = mh, sh = sh, group = group, sgroup = sgroup,
                                              label = label, slabel = slabel, stringsAsFactors = FALSE)
  }
  add("level", "var", "level", "var", "level", "var")
  for (a in xn) add(paste0("d1_", a), paste0("var_d1_", a), "d1", "var_d1", a, a)
  for (d in dn) add(paste0("effect_", d), paste0("var_effect_", d), "effect", "var_effect", d, d)
  if (deg >= 2 || estimator %in% c("locparg", "locpa2g"))
    for (a in xn) add(paste0("d2_", a), paste0("var_d2_", a), "d2", "var_d2", a, a)
  # Coefficients kept plain (no derivative factor, no variance correction):
  # their sh column is the coefficient of the local fit of y^2.
  plain <- function(name, group, label) add(name, paste0("y2_", name), group, "y2", label, name)
  if (estimator == "tremsal" && deg == 3)
    for (a in xn) add(paste0("d3_", a), paste0("y2_c3_", a, "_", a, "_", a), "d3", "y2", a,
                      paste0("c3_", a, "_", a, "_", a))
  if (estimator %in% c("locparg", "locpa2g")) {
    L <- xn[lam]
    others <- xn[-lam]
    for (k in others) plain(paste0("d2_", k, "_", L), "cross", paste0(k, "_", L))
    if (estimator == "locparg") {
      for (k in others) plain(paste0("c3_", k, "_", k, "_", L), "c3", paste0(k, "_", k, "_", L))
      for (k in xn) plain(paste0("c3_", k, "_", L, "_", L), "c3", paste0(k, "_", L, "_", L))
    }
  }
  do.call(rbind, cols)
}

# Number of design columns B, which is also the number of columns of mh and sh.
lp_width <- function(estimator, deg, pc, q) {
  p <- pc + q
  switch(estimator,
         dorvane = , tremsal = 1 + pc * deg + q,
         locparg = p + 4 * pc - 1,
         locpa2g = p + 2 * pc)
}
