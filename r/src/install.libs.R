# Installs the package's shared objects into libs/: the fitting core
# liblpcore.so and the glue lpfit.so, linked against it with rpath $ORIGIN so
# that it finds the core beside itself. Everything is built in a temporary
# directory; nothing is written into the package's source.
#
# The core is reused from LPFIT_LIBRARY_PATH (a directory holding
# liblpcore.so) or from a CMake build (LPFIT_BUILD_DIR, or build/ beside the
# package source); otherwise it is built with the project's CMake from the
# sources in LPFIT_SOURCE, tools/lp (a source tarball carries them there) or
# the repository around the package.
local({
  say <- function(...) message("lpfit: ", ...)
  fail <- function(...) stop("lpfit: ", ..., call. = FALSE)
  core <- "liblpcore.so"
  tmp <- tempfile("lpfit-build")
  dir.create(tmp)
  on.exit(unlink(tmp, recursive = TRUE), add = TRUE)
  run <- function(cmd, args, what) {
    log <- file.path(tmp, "log")
    if (system2(cmd, args, stdout = log, stderr = log) != 0) {
      writeLines(readLines(log), con = stderr())
      fail(what, " failed")
    }
  }
  env <- function(name) { v <- Sys.getenv(name); if (nzchar(v)) normalizePath(v, mustWork = FALSE) else "" }
  has <- function(dir, file) nzchar(dir) && file.exists(file.path(dir, file))

  sources <- c(env("LPFIT_SOURCE"), file.path(R_PACKAGE_SOURCE, "tools", "lp"), file.path(R_PACKAGE_SOURCE, ".."))
  sources <- sources[vapply(sources, has, TRUE, "CMakeLists.txt") & vapply(sources, has, TRUE, "include/lpcore.h")]
  source_dir <- if (length(sources)) normalizePath(sources[1]) else ""

  given <- env("LPFIT_LIBRARY_PATH")
  if (!nzchar(given)) given <- env("LPFIT_BUILD_DIR")
  if (nzchar(given) && !has(given, core)) fail(given, " holds no ", core)
  if (!nzchar(given) && has(file.path(R_PACKAGE_SOURCE, "..", "build"), core))
    given <- normalizePath(file.path(R_PACKAGE_SOURCE, "..", "build"))
  headers <- c(if (nzchar(source_dir)) file.path(source_dir, "include"),
               if (nzchar(given)) file.path(given, c("include", "../include")))
  headers <- headers[file.exists(file.path(headers, "lpcore.h"))]
  if (!length(headers)) fail("cannot find include/lpcore.h; set LPFIT_SOURCE to the project's directory")

  glue <- file.path(tmp, "glue")
  dir.create(glue)
  if (nzchar(given)) {
    say("using ", file.path(given, core))
    file.copy(file.path(given, core), glue)
  } else {
    if (!nzchar(source_dir)) fail("cannot find the core's sources; set LPFIT_SOURCE or LPFIT_LIBRARY_PATH")
    if (!nzchar(Sys.which("cmake"))) fail("building the core needs CMake (>= 3.20); install cmake")
    R <- file.path(R.home("bin"), "R")
    cxx <- strsplit(system2(R, c("CMD", "config", "CXX"), stdout = TRUE), " ")[[1]][1]
    build <- file.path(tmp, "core")
    say("building the core from ", source_dir, " with ", cxx)
    run("cmake", c("-S", shQuote(source_dir), "-B", shQuote(build), "-DCMAKE_BUILD_TYPE=Release",
                   paste0("-DCMAKE_CXX_COMPILER=", cxx), "-DLP_TESTS=OFF", "-DLP_BENCH=OFF", "-DLP_CLI=OFF"),
        "configuring the core")
    run("cmake", c("--build", shQuote(build), "--target", "lpcore", "--parallel", "2"), "building the core")
    file.copy(file.path(build, core), glue)
  }

  # The glue, compiled by R's own rules in the temporary directory.
  file.copy("lpfit.c", glue)
  writeLines(c(sprintf("PKG_CPPFLAGS = -I'%s'", normalizePath(headers[1])),
               "PKG_LIBS = -L. -llpcore -Wl,-rpath,'$$ORIGIN'"), file.path(glue, "Makevars"))
  owd <- setwd(glue)
  on.exit(setwd(owd), add = TRUE, after = FALSE)
  run(file.path(R.home("bin"), "R"), c("CMD", "SHLIB", "-o", "lpfit.so", "lpfit.c"), "compiling the glue")
  dest <- file.path(R_PACKAGE_DIR, paste0("libs", R_ARCH))
  dir.create(dest, recursive = TRUE, showWarnings = FALSE)
  if (!all(file.copy(c("lpfit.so", core), dest, overwrite = TRUE))) fail("cannot copy the libraries to ", dest)
  say("installed lpfit.so and ", core, " in ", dest)
})
