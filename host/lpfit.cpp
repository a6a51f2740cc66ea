// lpfit: the estimators of Dorvane.so and Tremsal.so on the columns of a CSV
// file, from the command line. It loads the deliverable at run time, builds
// the argument block from the named columns, chooses the bandwidth, calls the
// export over the evaluation points (split across threads) and writes the
// outputs as a CSV table with named columns, optionally with a picture.
//
// Standard output carries the table alone; what the library prints, the
// cross-validation scores, notes and progress go to standard error.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "host/band.h"
#include "host/csv.h"
#include "host/design.h"
#include "host/fit.h"
#include "host/plot.h"

namespace {

using lpfit::InputError;

// The library refused the call or a point failed: exit status 2.
class FitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string estimator, data, y, returns, cv, lam = "1", at, output, plot, library;
    std::vector<std::string> x, dummies, bandwidth;
    int lags = 1, deg = 0, groups = 0, phase = 1, grid = 0, threads = 0, digits = 17;
    long nr = 0;
    double conf = 0.95;
    bool vol = false, loo = false, drop_missing = false, quiet = false;
    CLI::App* sub = nullptr;
    bool given(const std::string& option) const { return sub->count(option) > 0; }
};

const char kAbout[] =
    "Local polynomial regression with the Gaussian kernel: the conditional mean with its derivatives, on request "
    "the conditional variance (volatility) function, and the kernel density, at each evaluation point.";

const char kFooter[] = R"(Evaluation points: the observations (the default, and what --loo needs), a grid
  (--grid N), or a CSV file (--at FILE) with a column for each continuous regressor.
Bandwidth: --bandwidth, else --cv, else the normal-reference rule of thumb
  h_k = c * s_k * n^(-1/(pc+4)) for deg 1 and n^(-1/(pc+8)) for deg 2 and 3, with
  c = (4/(pc+2))^(1/(pc+4)), s_k the sample standard deviation of regressor k and pc the
  number of continuous regressors (Silverman's 1.06*s*n^(-1/5) for one regressor, deg 1).
Cross-validation: the bandwidth with the least mean of (y_i - m_{-i}(x_i))^2, the
  leave-one-out fit computed by the estimator's own leave-one-out mode. A count K tries
  K multiples of the rule of thumb from 1/4 to 4 times, evenly spaced in logarithm; a
  list (a value with a comma or a decimal point) gives each candidate for every
  continuous regressor. A candidate whose fit fails the conditioning test scores inf.
Confidence band (ci_lower, ci_upper): with --vol, for dorvane deg 1 with one continuous
  regressor and no dummies, the pointwise asymptotic interval
  m(t) +- z * sqrt(var(t) * R(K) / (n * h * f(t))), z the normal quantile of (1+conf)/2,
  R(K) = 1/(2*sqrt(pi)); the smoothing bias is ignored, so it covers E[m(t)], not m(t).
Output: one CSV row per evaluation point, the coordinates, then level, d1_X (slopes),
  effect_D (dummies), d2_X, d3_X, d2_X_L, c3_X_Y_Z (higher terms), then with --vol var,
  var_d1_X, ..., then density and density_g1 ... density_gK, then ci_lower, ci_upper.
Exit status: 0 success, 1 bad options or input (nothing is written), 2 the library
  refused the call or a point failed (its conditioning test, or estimates not finite).
Example:
)";

// An example command for each estimator, on the bundled data.
std::string example(const std::string& estimator)
{
    if (estimator == "dorvane")
        return "  lpfit dorvane data/eustock.csv --returns DAX --groups 5 --vol --cv 12 --at data/lag1_points.csv --plot dax";
    if (estimator == "tremsal") return "  lpfit tremsal data/mcycle.csv --y accel --x times --vol --bandwidth 2.5 --grid 6";
    if (estimator == "locparg")
        return "  lpfit locparg data/eustock.csv --returns DAX --lags 2 --lam lag1 --bandwidth 0.02 --at points.csv\n"
               "  (points.csv: a header lag1,lag2 and a line per point)";
    return "  lpfit locpa2g data/eustock.csv --y DAX --x SMI,CAC --lam CAC";
}

void add_options(CLI::App* sub, Options& o, bool lam)
{
    sub->add_option("data", o.data, "CSV file with a header line")->required()->type_name("FILE");
    sub->add_option("--y", o.y, "Response column")->type_name("COLUMN");
    sub->add_option("--x", o.x, "Continuous regressor columns, comma-separated")->delimiter(',')->allow_extra_args(false)->type_name("COLUMN");
    sub->add_option("--dummies", o.dummies, "Dummy (0/1) regressor columns, comma-separated, entered after the continuous ones")
        ->delimiter(',')->allow_extra_args(false)->type_name("COLUMN");
    sub->add_option("--returns", o.returns,
                    "Price column: regress its log return r(t) on r(t-1) ... r(t-lags), named lag1 ... (in place of --y, --x)")->type_name("COLUMN");
    sub->add_option("--lags", o.lags, "Lagged returns as regressors, with --returns (default 1)")->type_name("Q");
    sub->add_flag("--drop-missing", o.drop_missing, "Leave out rows with an empty or NA cell in a column used");
    sub->add_option("--bandwidth", o.bandwidth,
                    "One bandwidth per continuous regressor, or one for all (default: rule of thumb, below)")
        ->delimiter(',')->allow_extra_args(false)->type_name("H");
    sub->add_option("--cv", o.cv, "Cross-validate the bandwidth over a count of candidates or a list of them (below)")->type_name("K|H,...");
    sub->add_option("--deg", o.deg,
                    o.estimator == "dorvane"   ? "Polynomial degree, 1 or 2 (default 1)"
                    : o.estimator == "tremsal" ? "Polynomial degree, 1 to 3 (default 3)"
                                               : "Polynomial degree (only " + std::to_string(lpfit::default_degree(o.estimator)) + ")")->type_name("DEG");
    sub->add_flag("--vol", o.vol, "Also estimate the conditional variance and its derivatives");
    sub->add_flag("--loo", o.loo, "Leave-one-out fit at the observations");
    sub->add_option("--nr", o.nr, "The library's nr count: intercept sums over the first nr observations (default n)")->type_name("NR");
    if (lam)
        sub->add_option("--lam", o.lam,
                        "The continuous regressor of the cross terms, by name or number from 1 (default 1)")->type_name("LAM");
    sub->add_option("--groups", o.groups, "Split the density into K >= 2 cyclic groups of observations (K columns)")->type_name("K");
    sub->add_option("--phase", o.phase,
                    "Group of the first observation, from 1 (default 1): observation i is in group ((i+phase-2) mod K)+1")->type_name("P");
    sub->add_option("--at", o.at, "CSV file of evaluation points")->type_name("FILE");
    sub->add_option("--grid", o.grid, "N evenly spaced points over the data range of each continuous regressor (N per axis for two)")->type_name("N");
    sub->add_option("--threads", o.threads, "Threads that split the evaluation points (default: the number of cores)")->type_name("N");
    sub->add_option("--conf", o.conf, "Level of the pointwise confidence band (default 0.95)")->type_name("LEVEL");
    sub->add_option("-o,--output", o.output, "Write the table to this file (default: standard output)")->type_name("FILE");
    sub->add_option("--plot", o.plot, "Draw the fit of one continuous regressor over the range of the evaluation points into NAME.svg and NAME.png (gnuplot)")->type_name("NAME");
    sub->add_option("--digits", o.digits, "Significant digits in the table (default 17, which round-trips)")->type_name("D");
    sub->add_option("--library", o.library, "The deliverable to load (default: Dorvane.so or Tremsal.so beside lpfit)")->type_name("PATH");
    sub->add_flag("-q,--quiet", o.quiet, "No progress, cross-validation table or notes on standard error");
    sub->footer(kFooter + example(o.estimator));
}

// Checks of the options that need no data.
void check_options(Options& o)
{
    if (!o.returns.empty()) {
        if (!o.y.empty() || !o.x.empty() || !o.dummies.empty())
            throw InputError("--returns makes the response and the regressors; give no --y, --x or --dummies with it");
        if (o.lags < 1) throw InputError("--lags " + std::to_string(o.lags) + ": give at least 1");
    } else {
        if (o.given("--lags")) throw InputError("--lags goes with --returns");
        if (o.y.empty() || o.x.empty()) throw InputError("give the response with --y and the continuous regressors with --x (or --returns)");
    }
    if (o.deg == 0) o.deg = lpfit::default_degree(o.estimator);
    lpfit::check_degree(o.estimator, o.deg);
    if (o.given("--groups") && o.groups < 2) throw InputError("--groups " + std::to_string(o.groups) + ": give at least 2 groups");
    if (o.given("--phase") && !o.given("--groups")) throw InputError("--phase goes with --groups");
    if (o.phase < 1) throw InputError("--phase " + std::to_string(o.phase) + ": give a group number from 1");
    if (!o.at.empty() && o.given("--grid")) throw InputError("give either --at or --grid");
    if (o.loo && (!o.at.empty() || o.given("--grid")))
        throw InputError("--loo fits at the observations themselves; give no --at or --grid with it");
    if (!o.bandwidth.empty() && !o.cv.empty()) throw InputError("give either --bandwidth or --cv");
    if (o.given("--nr") && o.nr < 1) throw InputError("--nr " + std::to_string(o.nr) + ": give a count from 1 to n");
    if (!(o.conf > 0 && o.conf < 1)) throw InputError("--conf " + lpfit::format_number(o.conf, 6) + ": give a level between 0 and 1");
    if (o.digits < 1 || o.digits > 17) throw InputError("--digits " + std::to_string(o.digits) + ": give 1 to 17");
    if (o.threads == 0) o.threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    if (o.threads < 1) throw InputError("--threads " + std::to_string(o.threads) + ": give at least 1");
    if (!o.plot.empty() && !lpfit::gnuplot_found())
        throw InputError("--plot needs gnuplot (install it with: apt-get install gnuplot-nox)");
}

std::string beside_self(const std::string& file)
{
    char buf[4096];
    const ssize_t len = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (len <= 0) return file;
    std::string self(buf, static_cast<std::size_t>(len));
    return self.substr(0, self.rfind('/') + 1) + file;
}

// A line on standard error that counts work done, for work that runs longer
// than two seconds, when standard error is a terminal.
class Progress {
public:
    Progress(bool enabled, std::string what, long total) : what(std::move(what)), total(total)
    {
        if (enabled && isatty(STDERR_FILENO)) painter = std::thread([this] { paint(); });
    }
    ~Progress()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            stop = true;
        }
        wake.notify_all();
        if (painter.joinable()) painter.join();
    }
    std::atomic<long> done{0};

private:
    void paint()
    {
        std::unique_lock<std::mutex> hold(lock);
        if (wake.wait_for(hold, std::chrono::seconds(2), [this] { return stop; })) return;
        std::size_t width = 0;
        do {
            const std::string line = "lpfit: " + what + " " + std::to_string(std::min(done.load(), total)) + "/" +
                                     std::to_string(total);
            width = std::max(width, line.size());
            std::fprintf(stderr, "\r%s", line.c_str());
            std::fflush(stderr);
        } while (!wake.wait_for(hold, std::chrono::milliseconds(250), [this] { return stop; }));
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(width), "");
        std::fflush(stderr);
    }
    std::string what;
    long total;
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    std::thread painter;
};

void note(const Options& o, const std::string& text)
{
    if (!o.quiet) std::fprintf(stderr, "lpfit: %s\n", text.c_str());
}

// The library's own text, passed on whole.
void forward(const std::string& printed)
{
    if (printed.empty()) return;
    std::fputs(printed.c_str(), stderr);
    std::fflush(stderr);
}

std::string join(const std::vector<std::string>& v, const std::string& sep)
{
    std::string s;
    for (const std::string& e : v) s += (s.empty() ? "" : sep) + e;
    return s;
}

std::string bandwidth_text(const lpfit::Data& d, const std::vector<double>& h, int digits)
{
    std::vector<std::string> parts;
    for (std::size_t k = 0; k < h.size(); ++k) parts.push_back(d.cont[k] + " = " + lpfit::format_number(h[k], digits));
    return join(parts, ", ");
}

// Least-squares cross-validation; prints the score of every candidate and the
// one chosen, and returns it.
std::vector<double> cross_validate(const Options& o, const host::Library& lib, const lpfit::Data& d, int lam,
                                   const std::vector<double>& h0)
{
    const std::vector<std::vector<double>> hs = lpfit::cv_candidates(o.cv, h0);
    host::Problem pr = lpfit::problem(d, h0, lpfit::observation_points(d));
    pr.deg = o.deg;
    pr.nloo = 1;
    pr.lam = lam;
    std::vector<lpfit::Score> scores;
    {
        Progress progress(!o.quiet, "cross-validation candidates fitted:", static_cast<long>(hs.size()));
        scores = lpfit::cv_scores(lib, o.estimator, pr, hs, o.threads, &progress.done);
    }
    std::size_t best = 0;
    for (std::size_t k = 0; k < hs.size(); ++k) {
        if (!scores[k].printed.empty()) {
            note(o, "the library printed this for candidate " + bandwidth_text(d, hs[k], 6) + ":");
            forward(scores[k].printed);
        }
        if (scores[k].value < scores[best].value) best = k;
    }
    if (!o.quiet) {
        std::fprintf(stderr, "lpfit: least-squares cross-validation over %zu candidates (leave-one-out, n = %zu)\n",
                     hs.size(), d.n());
        for (const std::string& c : d.cont) std::fprintf(stderr, "  %-14s", ("h_" + c).c_str());
        std::fprintf(stderr, "  %s\n", "score");
        for (std::size_t k = 0; k < hs.size(); ++k) {
            for (double h : hs[k]) std::fprintf(stderr, "  %-14.6g", h);
            std::fprintf(stderr, "  %.10g%s\n", scores[k].value, k == best && std::isfinite(scores[k].value) ? "  <- chosen" : "");
        }
    }
    if (!std::isfinite(scores[best].value))
        throw FitError("every candidate bandwidth failed the conditioning test; try larger ones");
    if (hs.size() > 2 && (best == 0 || best == hs.size() - 1))
        note(o, std::string("the least score is at the ") + (best == 0 ? "smallest" : "largest") +
                    " candidate; the best bandwidth may lie beyond the candidates");
    note(o, "chosen bandwidth " + bandwidth_text(d, hs[best], 17) + " (score " + lpfit::format_number(scores[best].value, 17) + ")");
    return hs[best];
}

// Calls the export over the points of pr and turns a refusal or a failed
// point into a FitError that names the point.
lpfit::Call fit_or_fail(const Options& o, const host::Library& lib, const host::Problem& pr, const lpfit::Data& d,
                        const std::string& what)
{
    lpfit::Call call;
    {
        Progress progress(!o.quiet, what + " points fitted:", static_cast<long>(pr.m));
        call = lpfit::fit(lib, o.estimator, pr, o.threads, &progress.done);
    }
    forward(call.printed);
    if (call.refused) throw FitError(o.estimator + " refused the call (its message is above)");
    const std::size_t m = static_cast<std::size_t>(pr.m), B = call.mh.size() / std::max<std::size_t>(m, 1);
    auto point = [&](std::size_t j) {
        std::vector<std::string> at;
        for (std::size_t k = 0; k < d.cont.size(); ++k)
            at.push_back(d.cont[k] + " = " + lpfit::format_number(pr.t[j + k * m], 10));
        return what + " point " + std::to_string(j + 1) + " of " + std::to_string(m) + " (" + join(at, ", ") + ")";
    };
    if (call.failed >= 0)
        throw FitError("the fit failed at " + point(static_cast<std::size_t>(call.failed)) +
                       ": its local moment matrix is too ill-conditioned to invert (off-diagonal sum " +
                       lpfit::format_number(call.S, 6) + " > 100000); a larger bandwidth or fewer terms may help");
    // A singular moment matrix whose check sum comes out NaN passes the
    // library's test, and NaN reaches the outputs: that point failed as well.
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t c = 0; c < B; ++c)
            if (!std::isfinite(call.mh[j + c * m]) || (pr.vol != 0 && !std::isfinite(call.sh[j + c * m])))
                throw FitError("the fit failed at " + point(j) +
                               ": its estimates are not finite, for its local moment matrix is singular (too few "
                               "observations near it for the bandwidth); a larger bandwidth may help");
    return call;
}

int run(Options& o)
{
    check_options(o);
    const std::string path = o.library.empty() ? beside_self(lpfit::library_file(o.estimator)) : o.library;
    std::unique_ptr<host::Library> lib;
    try {
        lib = std::make_unique<host::Library>(path);
    } catch (const std::runtime_error& e) {
        throw InputError(e.what());
    }
    if (!lib->exports(o.estimator)) throw InputError(path + " does not export " + o.estimator);

    lpfit::Source src{o.data, o.y, o.x, o.dummies, o.returns, o.lags, o.drop_missing};
    const lpfit::Data d = lpfit::load_data(src);
    const std::size_t n = d.n(), pc = d.cont.size();
    const int lam = o.estimator == "locparg" || o.estimator == "locpa2g" ? lpfit::resolve_lam(d, o.lam) : 0;
    const lpfit::Columns cols = lpfit::output_columns(o.estimator, d, o.deg, lam);
    const std::size_t B = cols.mh.size();
    const bool loo_needed = o.loo || !o.cv.empty();
    if (n < B + 1 + (loo_needed ? 1 : 0))
        throw InputError(d.source + ": " + std::to_string(n) + " observations are too few for the " + std::to_string(B) +
                         " local coefficients of " + o.estimator + " with deg " + std::to_string(o.deg) + "; at least " +
                         std::to_string(B + 1 + (loo_needed ? 1 : 0)) + " are needed" +
                         (loo_needed ? " when one is left out" : ""));
    lpfit::check_variation(d);
    const long nr = o.given("--nr") ? o.nr : static_cast<long>(n);
    if (nr > static_cast<long>(n)) throw InputError("--nr " + std::to_string(nr) + ": give a count from 1 to n = " + std::to_string(n));
    if (o.loo && nr != static_cast<long>(n)) throw InputError("--loo needs nr = n = " + std::to_string(n));
    const bool band = o.vol && o.estimator == "dorvane" && o.deg == 1 && pc == 1 && d.dummies.empty() && nr == static_cast<long>(n);
    if (o.given("--conf") && !band)
        throw InputError("--conf: the confidence band is that of the local linear fit (dorvane, deg 1) with one continuous "
                         "regressor, no dummies, nr = n and --vol");
    if (!o.plot.empty() && pc != 1)
        throw InputError("--plot draws a fit in one continuous regressor; this one has " + std::to_string(pc));

    const lpfit::Points at = o.loo || (o.at.empty() && !o.given("--grid")) ? lpfit::observation_points(d)
                             : o.at.empty()                                 ? lpfit::grid_points(d.xc, o.grid)
                                                                            : lpfit::file_points(o.at, d);

    if (!o.plot.empty() && std::all_of(at.t.begin(), at.t.begin() + at.m, [&](double v) { return v == at.t[0]; }))
        throw InputError("--plot draws the fit over the range of the evaluation points, and these span none");

    // Header of the table; every name must be its own.
    std::vector<std::string> header = d.cont;
    header.insert(header.end(), cols.mh.begin(), cols.mh.end());
    if (o.vol) header.insert(header.end(), cols.sh.begin(), cols.sh.end());
    header.push_back("density");
    for (int g = 1; g <= o.groups; ++g) header.push_back("density_g" + std::to_string(g));
    if (band) header.insert(header.end(), {"ci_lower", "ci_upper"});
    std::set<std::string> unique;
    for (const std::string& h : header)
        if (!unique.insert(h).second)
            throw InputError("two output columns would be named '" + h + "'; rename a regressor");

    // Bandwidth.
    std::vector<double> h;
    std::string how;
    if (!o.bandwidth.empty()) {
        h = lpfit::given_bandwidths(o.bandwidth, pc);
        how = "given";
    } else {
        h = lpfit::rule_of_thumb(d, o.deg);
        how = "rule of thumb";
        if (!o.cv.empty()) {
            h = cross_validate(o, *lib, d, lam, h);
            how = "cross-validated";
        }
    }

    host::Problem pr = lpfit::problem(d, h, at);
    pr.nr = static_cast<double>(nr);
    pr.grp[0] = o.groups;
    pr.grp[1] = o.phase;
    pr.deg = o.deg;
    pr.vol = o.vol ? 1 : 0;
    pr.nloo = o.loo ? 1 : 0;
    pr.lam = lam;
    note(o, o.estimator + ", deg " + std::to_string(o.deg) + ", n = " + std::to_string(n) + ", " + std::to_string(at.m) +
                " evaluation points, bandwidth " + bandwidth_text(d, h, 6) + " (" + how + ")");
    const lpfit::Call call = fit_or_fail(o, *lib, pr, d, "evaluation");
    const std::size_t m = at.m, F = o.groups >= 2 ? static_cast<std::size_t>(o.groups) + 1 : 1;
    std::vector<double> half;
    if (band) {
        std::vector<double> var(call.sh.begin(), call.sh.begin() + m), f(call.fh.begin(), call.fh.begin() + m);
        half = lpfit::band_halfwidths(var, f, static_cast<double>(n), h[0], o.conf);
        const auto undefined = std::count_if(half.begin(), half.end(), [](double v) { return std::isnan(v); });
        if (undefined > 0)
            note(o, "the conditional variance estimate is negative or undefined at " + std::to_string(undefined) +
                        (undefined == 1 ? " point" : " points") + "; the band is NaN there");
    }

    // The table.
    std::string table;
    for (std::size_t k = 0; k < header.size(); ++k) table += (k ? "," : "") + lpfit::csv_field(header[k]);
    table += '\n';
    for (std::size_t j = 0; j < m; ++j) {
        std::vector<double> row;
        for (std::size_t k = 0; k < pc; ++k) row.push_back(pr.t[j + k * m]);
        for (std::size_t c = 0; c < B; ++c) row.push_back(call.mh[j + c * m]);
        if (o.vol)
            for (std::size_t c = 0; c < B; ++c) row.push_back(call.sh[j + c * m]);
        for (std::size_t g = 0; g < F; ++g) row.push_back(call.fh[j + g * m]);
        if (band) row.insert(row.end(), {call.mh[j] - half[j], call.mh[j] + half[j]});
        for (std::size_t k = 0; k < row.size(); ++k) table += (k ? "," : "") + lpfit::format_number(row[k], o.digits);
        table += '\n';
    }

    // The picture, from a fit on a fine grid over the range of the evaluation points.
    std::vector<std::unique_ptr<lpfit::StagedFile>> pictures;
    if (!o.plot.empty()) {
        host::Problem fine = pr;
        const lpfit::Points g = lpfit::grid_points({std::vector<double>(at.t.begin(), at.t.begin() + m)}, 201);
        fine.t = g.t;
        fine.t.resize(g.m * (pc + d.dummies.size()), 0.0);
        fine.m = static_cast<double>(g.m);
        fine.nloo = 0;
        const lpfit::Call c = fit_or_fail(o, *lib, fine, d, "picture grid");
        lpfit::Picture pic;
        pic.title = o.estimator + " (deg " + std::to_string(o.deg) + ") of " + d.response + ", n = " + std::to_string(n) +
                    ", h = " + lpfit::format_number(h[0], 4) + " (" + how + ")";
        pic.xlabel = d.xlabel;
        pic.ylabel = d.response;
        pic.x = d.xc[0];
        pic.y = d.y;
        pic.t.assign(g.t.begin(), g.t.begin() + g.m);
        pic.level.assign(c.mh.begin(), c.mh.begin() + g.m);
        pic.density.assign(c.fh.begin(), c.fh.begin() + g.m);
        if (o.vol)
            for (std::size_t j = 0; j < g.m; ++j) pic.sd.push_back(c.sh[j] >= 0 ? std::sqrt(c.sh[j]) : NAN);
        if (band) {
            std::vector<double> var(c.sh.begin(), c.sh.begin() + g.m);
            const std::vector<double> hw = lpfit::band_halfwidths(var, pic.density, static_cast<double>(n), h[0], o.conf);
            for (std::size_t j = 0; j < g.m; ++j) {
                pic.ci_lower.push_back(pic.level[j] - hw[j]);
                pic.ci_upper.push_back(pic.level[j] + hw[j]);
            }
            pic.conf = o.conf;
        }
        for (int k = 1; k <= o.groups; ++k) {
            pic.groups.emplace_back(c.fh.begin() + k * g.m, c.fh.begin() + (k + 1) * g.m);
            pic.group_names.push_back("group " + std::to_string(k));
        }
        pictures.push_back(std::make_unique<lpfit::StagedFile>(o.plot + ".svg"));
        pictures.push_back(std::make_unique<lpfit::StagedFile>(o.plot + ".png"));
        lpfit::draw(pic, pictures[0]->temp(), pictures[1]->temp());
    }

    // Everything has worked: only now do the files appear.
    std::unique_ptr<lpfit::StagedFile> out;
    if (!o.output.empty()) {
        out = std::make_unique<lpfit::StagedFile>(o.output);
        out->write(table);
    }
    for (auto& p : pictures) p->commit();
    if (!pictures.empty()) note(o, "wrote " + o.plot + ".svg and " + o.plot + ".png");
    if (out) {
        out->commit();
    } else if (std::fwrite(table.data(), 1, table.size(), stdout) != table.size() || std::fflush(stdout) != 0) {
        if (errno == EPIPE) return 0;  // the reader has all it wanted (lpfit ... | head)
        throw InputError(std::string("cannot write the table to standard output: ") + std::strerror(errno));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // A closed pipe (gnuplot gone, `lpfit ... | head`) is reported, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    Options o;
    CLI::App app{kAbout, "lpfit"};
    app.require_subcommand(1);
    app.footer("Run 'lpfit ESTIMATOR --help' for the options of each estimator.");
    const std::pair<const char*, const char*> estimators[] = {
        {"dorvane", "Local linear fit; with --deg 2 also the squares (Dorvane.so)"},
        {"tremsal", "Local cubic fit without cross products (Tremsal.so)"},
        {"locparg", "Local quadratic fit with the products and third-order terms of regressor lam (Tremsal.so)"},
        {"locpa2g", "Local quadratic fit with the products of regressor lam with the others (Tremsal.so)"},
    };
    // The estimator named on the command line decides the help text of --deg.
    if (argc > 1) o.estimator = argv[1];
    for (const auto& [name, about] : estimators) {
        CLI::App* sub = app.add_subcommand(name, about);
        const std::string keep = o.estimator;
        o.estimator = name;
        add_options(sub, o, o.estimator == "locparg" || o.estimator == "locpa2g");
        o.estimator = keep;
    }
    if (argc > 1 && argv[1][0] != '-' && !lpfit::known_estimator(argv[1])) {
        std::fprintf(stderr, "lpfit: unknown estimator '%s': use dorvane, tremsal, locparg or locpa2g\n", argv[1]);
        return 1;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "lpfit: %s\nRun 'lpfit%s --help' for the options.\n", e.what(),
                     o.estimator.empty() || o.estimator[0] == '-' ? "" : (" " + o.estimator).c_str());
        return 1;
    }
    for (CLI::App* sub : app.get_subcommands()) o.sub = sub, o.estimator = sub->get_name();
    try {
        return run(o);
    } catch (const InputError& e) {
        std::fprintf(stderr, "lpfit: %s\n", e.what());
        return 1;
    } catch (const FitError& e) {
        std::fprintf(stderr, "lpfit: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lpfit: %s\n", e.what());
        return 1;
    }
}
