// lpfit: the local polynomial estimators on the columns of a CSV file, from
// the command line. The tool reads the file (and point and candidate files),
// makes log returns and lags of a price series, hands the columns and the
// options to the fitting core (liblpcore) and writes the core's table as CSV,
// optionally with pictures. The core owns everything in between: the checks,
// the bandwidth, the points, the threads, the failed points and the messages.
//
// Standard output carries the table alone; the core's summary, notes,
// warnings and messages, and the progress line, go to standard error.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "cli/core.h"
#include "cli/csv.h"
#include "cli/data.h"
#include "cli/plot.h"
#include "cli/progress.h"

namespace {

using lpfit::InputError;

// The fit ran but gave no result: exit status 2.
class FitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit statuses.
enum { kOk = 0, kBadInput = 1, kFailed = 2, kNoMemory = 3, kInterrupted = 130 };

struct Options {
    std::string estimator, data, y, returns, date, cv, cv_grid, groups, lam, at, output, plot, scores, ci, se, missing;
    std::vector<std::string> x, dummies, bandwidth;
    int lags = 1, deg = 0, phase = 1, grid = 0, threads = 0, digits = 17;
    long long nr = 0, seed = 0;
    double conf = 0.95;
    bool vol = false, loo = false, drop_missing = false, quiet = false, verbose = false, derivative = false;
    bool var_residual = false;
    CLI::App* sub = nullptr;
    bool given(const std::string& option) const { return sub->count(option) > 0; }
    bool weekday() const { return groups == "weekday"; }
};

const char kAbout[] =
    "Local polynomial regression with the Gaussian kernel: the conditional mean with its derivatives, on request "
    "the conditional variance (volatility) function, and the kernel density, at each evaluation point.";

const char kFooter[] = R"(Evaluation points: the observations (the default, and what --loo needs), a grid
  (--grid N), or a CSV file (--at FILE) with a column for each continuous regressor.
Bandwidth: numbers (--bandwidth 0.5 or 0.5,2: one for all continuous regressors or one
  each), or how to choose it: rot (the normal-reference rule of thumb, the default), cv
  (least-squares cross-validation, minimised), aicc, plugin. --cv K cross-validates over
  a grid of K multiples of the rule of thumb from 1/4 to 4 times; --cv H,... over the
  given bandwidths, each for every continuous regressor; --cv-grid FILE over the rows of
  a CSV file with a column for each continuous regressor. --scores FILE writes every
  bandwidth tried with its score.
Intervals: --ci pointwise, rbc (robust bias-corrected, what --ci alone asks for) or
  uniform (a simultaneous band), at level --conf (default 0.95), with the standard
  errors of --se: residual (the default), leverage, loo, nn or local.
Time series: --returns P makes the log returns r(t) = log(P(t)) - log(P(t-1)) of price
  column P (R's diff(log(P))) and regresses r(t) on r(t-1) ... r(t-Q) (--lags Q), named
  lag1 ... lagQ. --date COL names a column of dates yyyy-mm-dd; --groups weekday then
  splits the density by the weekday of each observation's date, Monday to Friday
  (holidays are no matter; a weekend date is refused).
Missing values: an empty or NA cell is refused with its count (--missing raise, the
  default) or its observation is left out (--missing drop, or --drop-missing).
Output: one CSV row per evaluation point: the coordinates, then level, d1_X (slopes),
  effect_D (dummies), d2_X, d3_X, d2_X_L, c3_X_Y_Z (higher terms), then with --vol var,
  var_d1_X, ..., var_residual (--var-residual), then density and density_g1 ...
  density_gK, then the intervals.
Messages: standard error carries the fit's summary and notes, one line per kind of
  message of the library with its points (-v: every line as the library wrote it,
  and the bandwidths tried), and warnings, such as the points whose fit failed.
Exit status: 0 success; 1 bad options or input (nothing is written); 2 the fit failed:
  at some points (the table is written, NaN in their rows, and the points are named)
  or as a whole (nothing is written); 3 out of memory; 130 interrupted.
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

void add_options(CLI::App* sub, Options& o, const std::string& degrees)
{
    sub->add_option("data", o.data, "CSV file with a header line")->required()->type_name("FILE");
    sub->add_option("--y", o.y, "Response column")->type_name("COLUMN");
    sub->add_option("--x", o.x, "Continuous regressor columns, comma-separated")->delimiter(',')->allow_extra_args(false)->type_name("COLUMN");
    sub->add_option("--dummies", o.dummies, "Dummy (0/1) regressor columns, comma-separated, entered after the continuous ones")
        ->delimiter(',')->allow_extra_args(false)->type_name("COLUMN");
    sub->add_option("--returns", o.returns,
                    "Price column P: regress its log return r(t) = log(P(t)) - log(P(t-1)) on r(t-1) ... r(t-lags), "
                    "named lag1 ... (in place of --y, --x)")->type_name("COLUMN");
    sub->add_option("--lags", o.lags, "Lagged returns as regressors, with --returns (default 1)")->type_name("Q");
    sub->add_option("--date", o.date, "Column of the observations' dates, yyyy-mm-dd (for --groups weekday)")->type_name("COLUMN");
    sub->add_option("--missing", o.missing, "A missing (empty or NA) value: raise (an error, the default) or drop (leave its observation out)")
        ->type_name("raise|drop");
    sub->add_flag("--drop-missing", o.drop_missing, "The same as --missing drop");
    sub->add_option("--bandwidth", o.bandwidth,
                    "One bandwidth per continuous regressor, or one for all; or rot (rule of thumb, the default), cv, aicc, plugin")
        ->delimiter(',')->allow_extra_args(false)->type_name("H|rot|cv|aicc|plugin");
    sub->add_option("--cv", o.cv, "Cross-validate the bandwidth over a grid of K candidates, or over the bandwidths listed")->type_name("K|H,...");
    sub->add_option("--cv-grid", o.cv_grid, "Cross-validate over the candidates of a CSV file: a column per continuous regressor, a row per candidate")
        ->type_name("FILE");
    sub->add_option("--scores", o.scores, "Write the bandwidths tried and their scores to this CSV file")->type_name("FILE");
    sub->add_option("--deg", o.deg, "Polynomial degree: " + degrees)->type_name("DEG");
    sub->add_flag("--vol", o.vol, "Also estimate the conditional variance and its derivatives");
    sub->add_flag("--var-residual", o.var_residual,
                  "Also the conditional variance by a local linear fit of the squared residuals (never negative)");
    sub->add_flag("--loo", o.loo, "Leave-one-out fit at the observations");
    sub->add_option("--nr", o.nr, "The engine's nr count: intercept sums over the first nr observations (default n)")->type_name("NR");
    sub->add_option("--lam", o.lam, "locparg, locpa2g: the continuous regressor of the cross terms, by name or number from 1 (default 1)")
        ->type_name("LAM");
    sub->add_option("--groups", o.groups,
                    "Split the density into K >= 2 cyclic groups of observations (K columns), or into the weekdays of --date")
        ->type_name("K|weekday");
    sub->add_option("--phase", o.phase,
                    "Group of the first observation, from 1 (default 1): observation i is in group ((i+phase-2) mod K)+1")->type_name("P");
    sub->add_option("--at", o.at, "CSV file of evaluation points")->type_name("FILE");
    sub->add_option("--grid", o.grid, "N evenly spaced points over the data range of each continuous regressor (N per axis for two)")->type_name("N");
    sub->add_option("--threads", o.threads, "Threads of the fit (default 0: every core)")->type_name("N");
    sub->add_option("--ci", o.ci, "Intervals: pointwise, rbc (the default of --ci alone) or uniform")
        ->expected(0, 1)->type_name("[KIND]");
    sub->add_option("--conf", o.conf, "Level of the intervals (default 0.95)")->type_name("LEVEL");
    sub->add_option("--se", o.se, "Variance behind the standard errors: residual (default), leverage, loo, nn, local")->type_name("KIND");
    sub->add_option("--seed", o.seed, "Seed of the simultaneous band's draws")->type_name("N");
    sub->add_option("-o,--output", o.output, "Write the table to this file (default: standard output)")->type_name("FILE");
    sub->add_option("--plot", o.plot,
                    "Draw the fit of one continuous regressor over the range of the evaluation points into NAME.svg and NAME.png "
                    "(gnuplot), and a selection's criterion into NAME-criterion.svg and .png")->type_name("NAME");
    sub->add_flag("--plot-derivative", o.derivative, "With --plot, a panel for the first derivative (with its interval under --ci)");
    sub->add_option("--digits", o.digits, "Significant digits in the table (default 17, which round-trips)")->type_name("D");
    CLI::Option* quiet = sub->add_flag("-q,--quiet", o.quiet, "Warnings alone on standard error: no progress, summary or notes");
    sub->add_flag("-v,--verbose", o.verbose, "Every line the library wrote, as it wrote it, and the bandwidths tried")->excludes(quiet);
    sub->footer(kFooter + example(o.estimator));
}

bool is_number(const std::string& s)
{
    double v = 0;
    return lpfit::parse_number(s, v);
}

bool whole_number(const std::string& s)
{
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

// Checks of the tool's own options, which need no data.
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
    if (o.drop_missing) {
        if (!o.missing.empty() && o.missing != "drop")
            throw InputError("--drop-missing means --missing drop; give one of them, not --missing " + o.missing + " with it");
        o.missing = "drop";
    }
    if (o.given("--groups")) {
        if (o.weekday()) {
            if (o.date.empty()) throw InputError("--groups weekday takes the groups from the dates; name their column with --date");
            if (o.given("--phase")) throw InputError("--groups weekday takes the groups from the dates; give no --phase with it");
        } else if (!whole_number(o.groups)) {
            throw InputError("--groups '" + o.groups + "' is neither a count of groups nor weekday");
        }
    }
    if (!o.cv.empty() && !o.cv_grid.empty()) throw InputError("give either --cv or --cv-grid, not both");
    if (o.given("--ci") && o.ci.empty()) o.ci = "rbc";
    if (o.digits < 1 || o.digits > 17) throw InputError("--digits " + std::to_string(o.digits) + ": give 1 to 17");
    if (o.derivative && o.plot.empty()) throw InputError("--plot-derivative adds a panel to the picture of --plot; give --plot NAME");
    if (!o.plot.empty() && !lpfit::gnuplot_found())
        throw InputError("--plot needs gnuplot (install it with: apt-get install gnuplot-nox)");
}

// Numbers of a comma-separated option; throws InputError naming the option
// and the entry that is not a number.
std::vector<double> numbers(const std::string& option, const std::vector<std::string>& entries, const std::string& instead)
{
    std::vector<double> v;
    for (const std::string& e : entries) {
        double h = 0;
        if (!lpfit::parse_number(e, h)) throw InputError(option + ": '" + e + "' is not a number; " + instead);
        v.push_back(h);
    }
    return v;
}

std::vector<std::string> split_commas(const std::string& s)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t comma; (comma = s.find(',', at)) != std::string::npos; at = comma + 1) parts.push_back(s.substr(at, comma - at));
    parts.push_back(s.substr(at));
    return parts;
}

// Whether the options ask the core to choose the bandwidth by a criterion.
bool selects(const Options& o)
{
    const bool named = o.bandwidth.size() == 1 && !is_number(o.bandwidth[0]);
    return (named && o.bandwidth[0] != "rot") || !o.cv.empty() || !o.cv_grid.empty();
}

// What a picture's fit changes in the request of the main fit: the bandwidths
// chosen there and a fine grid of points.
struct Picture {
    std::vector<double> h, at;
};

// The request of the options' fit on the data d, or of a picture's fit.
std::unique_ptr<lpfit::Request> make_request(const Options& o, const lpfit::Data& d, const std::vector<double>& weekdays,
                                       const Picture* pic)
{
    auto s = std::make_unique<lpfit::Request>(o.estimator);
    s->response(d.response, d.y);
    for (std::size_t k = 0; k < d.cont.size(); ++k) s->regressor(d.cont[k], d.xc[k], false);
    for (std::size_t k = 0; k < d.dummies.size(); ++k) s->regressor(d.dummies[k], d.xd[k], true);
    if (o.given("--deg")) s->set_int("deg", o.deg);
    if (o.vol) s->set_int("vol", 1);
    if (o.var_residual) s->set_int("var_residual", 1);
    if (o.given("--nr")) s->set_int("nr", o.nr);
    if (o.given("--lam")) s->set_text("lam", o.lam);
    if (o.weekday()) {
        s->set_int("groups", 5);
        s->set_doubles("group_of", weekdays);
    } else if (o.given("--groups")) {
        s->set_int("groups", std::stoll(o.groups));
    }
    if (o.given("--phase")) s->set_int("phase", o.phase);
    if (!o.missing.empty()) s->set_text("missing", o.missing);
    s->set_int("threads", o.threads);
    if (!o.ci.empty()) s->set_text("ci", o.ci);
    if (o.given("--conf")) s->set_double("conf", o.conf);
    if (!o.se.empty()) s->set_text("se", o.se);
    if (o.given("--seed")) s->set_int("seed", o.seed);
    if (pic != nullptr) {
        s->set_doubles("bandwidth", pic->h);
        s->set_doubles("at", pic->at);
        return s;
    }
    if (o.loo) s->set_int("loo", 1);
    if (o.bandwidth.size() == 1 && !is_number(o.bandwidth[0])) {
        s->set_text("bandwidth", o.bandwidth[0]);
    } else if (!o.bandwidth.empty()) {
        s->set_doubles("bandwidth", numbers("--bandwidth", o.bandwidth,
                                            "give bandwidths, one for all continuous regressors or one each, or one of "
                                            "rot, cv, aicc and plugin"));
    }
    if (whole_number(o.cv)) {
        s->set_int("cv", std::stoll(o.cv));
    } else if (!o.cv.empty()) {
        // Each bandwidth listed is a candidate for every continuous regressor.
        const std::vector<double> list = numbers("--cv", split_commas(o.cv), "give a count of candidates or a list of bandwidths");
        std::vector<double> grid;
        for (std::size_t k = 0; k < d.cont.size(); ++k) grid.insert(grid.end(), list.begin(), list.end());
        s->set_doubles("cv_grid", grid, "--cv " + o.cv);
    }
    if (!o.cv_grid.empty()) {
        std::size_t rows = 0;
        s->set_doubles("cv_grid", lpfit::read_columns(o.cv_grid, d.cont, "candidate bandwidths", rows), o.cv_grid);
    }
    if (!o.at.empty()) {
        std::size_t rows = 0;
        s->set_doubles("at", lpfit::read_columns(o.at, d.cont, "evaluation points", rows), o.at);
    }
    if (o.given("--grid")) s->set_int("grid", o.grid);
    // The criterion against the bandwidth, for its picture.
    if (!o.plot.empty() && d.cont.size() == 1 && selects(o)) s->set_int("curve", 1);
    return s;
}

// Set by the first interrupt; the next one ends the program at once.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void on_interrupt(int)
{
    interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

extern "C" int on_progress(void* ctx, const char* stage, long long done, long long total)
{
    static_cast<lpfit::Painter*>(ctx)->step(stage, done, total);
    return interrupted ? 1 : 0;
}

// Runs a request; throws for a run that did not succeed.
std::unique_ptr<lpfit::Fit> run_request(const lpfit::Request& s, lpfit::Painter& painter)
{
    auto fit = std::make_unique<lpfit::Fit>(s, on_progress, &painter);
    painter.clear();
    switch (fit->status()) {
    case LPC_OK: return fit;
    case LPC_EFAILED: throw FitError(fit->message());
    case LPC_ENOMEM: throw std::bad_alloc();
    case LPC_ECANCELLED: throw FitError("");
    default: throw InputError(fit->message());
    }
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> v;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) v.push_back(text.substr(at, end - at));
    if (at < text.size()) v.push_back(text.substr(at));
    return v;
}

// Each line of `text` on standard error; lines that are not indented (a
// table's rows are) after `prefix`.
void say(const std::string& text, const std::string& prefix)
{
    for (const std::string& line : lines_of(text))
        std::fprintf(stderr, "%s%s\n", line.empty() || line[0] == ' ' ? "" : prefix.c_str(), line.c_str());
}

// The core's message summary without the lines that only repeat a warning
// (the library's warning about the conditional variance with dummies is one
// of the core's warnings as well).
std::string messages_beside(const std::string& messages, const std::string& warnings)
{
    std::string kept;
    for (const std::string& line : lines_of(messages)) {
        bool repeated = false;
        for (const std::string& w : lines_of(warnings)) {
            const std::string head = "library: " + w;
            repeated = repeated || line == head || line.compare(0, head.size() + 1, head + ",") == 0;
        }
        if (!repeated) kept += line + "\n";
    }
    return kept;
}

// The column `name` of table t, or an empty vector.
std::vector<double> column(const lpfit::Table& t, const std::string& name)
{
    for (std::size_t k = 0; k < t.names.size(); ++k)
        if (t.names[k] == name) return t.columns[k];
    return {};
}

// The key of an interval in a picture: the band is simultaneous for the
// level only; a derivative's interval under --ci uniform is robust
// bias-corrected, pointwise.
std::string band_key(const Options& o, const std::string& what, bool level_band = true)
{
    const std::string level = lpfit::format_number(100 * (o.given("--conf") ? o.conf : 0.95), 6) + "% ";
    if (o.ci == "uniform" && level_band) return level + "simultaneous confidence band" + what;
    if (o.ci == "pointwise") return level + "pointwise confidence interval" + what;
    return level + "robust bias-corrected confidence interval" + what;
}

// The picture of the fit of one continuous regressor, from a fit on 201
// points over the range of the evaluation points.
lpfit::Picture picture(const Options& o, const lpfit::Data& d, const std::vector<double>& weekdays, const lpfit::Fit& main,
                       const lpfit::Table& table,
                       lpfit::Painter& painter, std::size_t& failed)
{
    const std::vector<double>& at = table.columns[0];
    double lo = INFINITY, hi = -INFINITY;
    for (double v : at) lo = std::min(lo, v), hi = std::max(hi, v);
    if (!(lo < hi)) throw InputError("--plot draws the fit over the range of the evaluation points, and these span none");
    Picture grid;
    grid.h = main.values("bandwidth");
    for (int j = 0; j <= 200; ++j) grid.at.push_back(j == 200 ? hi : lo + (hi - lo) * j / 200.0);
    const auto fine = run_request(*make_request(o, d, weekdays, &grid), painter);
    const lpfit::Table t = fine->table();
    failed = fine->points("failed").size();

    const std::string x = d.cont[0];
    lpfit::Picture pic;
    const std::size_t n = d.n() - main.points("dropped").size();
    pic.title = o.estimator + ": " + main.text("title") + " of " + d.response + ", n = " + std::to_string(n) +
                ", h = " + lpfit::format_number(grid.h[0], 4) + " (" + main.text("method") + ")";
    pic.xlabel = d.xlabel;
    pic.ylabel = d.response;
    pic.x = d.xc[0];
    pic.y = d.y;
    pic.t = column(t, x);
    pic.level = column(t, "level");
    pic.density = column(t, "density");
    for (double v : column(t, "var")) pic.sd.push_back(v >= 0 ? std::sqrt(v) : NAN);
    // The level's interval, when the core gives one.
    pic.lower = column(t, "lower_level");
    pic.upper = column(t, "upper_level");
    if (!pic.lower.empty()) pic.band = band_key(o, "");
    if (pic.upper.size() != pic.lower.size() || pic.lower.size() != pic.t.size()) pic.lower.clear(), pic.upper.clear();
    if (o.derivative) {
        pic.derivative = true;
        pic.slope_label = "d1_" + x;
        pic.slope = column(t, pic.slope_label);
        pic.slope_lower = column(t, "lower_d1_" + x);
        pic.slope_upper = column(t, "upper_d1_" + x);
        if (pic.slope_lower.size() != pic.t.size() || pic.slope_upper.size() != pic.t.size())
            pic.slope_lower.clear(), pic.slope_upper.clear();
        pic.slope_band = band_key(o, "", false);
        if (pic.slope.size() != pic.t.size()) pic.derivative = false;
    }
    for (int g = 1;; ++g) {
        std::vector<double> dg = column(t, "density_g" + std::to_string(g));
        if (dg.empty()) break;
        pic.groups.push_back(dg);
        pic.group_names.push_back(o.weekday() ? lpfit::weekday_name(g) : "group " + std::to_string(g));
    }
    return pic;
}

// The criterion of the selection against the bandwidth.
lpfit::Criterion criterion(const lpfit::Data& d, const lpfit::Fit& fit)
{
    lpfit::Criterion c;
    const std::string method = fit.text("method");
    c.title = "the bandwidth of " + d.cont[0] + " for " + d.response + ", " + method;
    c.xlabel = "bandwidth h of " + d.cont[0] + " (logarithmic scale)";
    c.ylabel = method == "cross-validated" ? "least-squares cross-validation score"
               : method == "aicc"          ? "AICc"
                                           : "criterion";
    c.h = fit.values("curve_h");
    c.score = fit.values("curve_score");
    if (c.score.size() != c.h.size()) c.h.clear(), c.score.clear();
    c.tried_h = fit.values("selection_h");
    c.tried_score = fit.values("selection_score");
    if (c.tried_score.size() != c.tried_h.size()) c.tried_h.clear(), c.tried_score.clear();
    const std::vector<double> h = fit.values("bandwidth");
    c.chosen = h.empty() ? NAN : h[0];
    return c;
}

// The bandwidths tried and their scores, as a table.
lpfit::Table scores(const lpfit::Data& d, const lpfit::Fit& fit)
{
    lpfit::Table t;
    const std::vector<double> h = fit.values("selection_h"), score = fit.values("selection_score");
    const std::size_t E = score.size();
    for (std::size_t k = 0; k < d.cont.size(); ++k) {
        t.names.push_back("h_" + d.cont[k]);
        t.columns.emplace_back(h.size() == E * d.cont.size() ? h.begin() + k * E : h.end(),
                               h.size() == E * d.cont.size() ? h.begin() + (k + 1) * E : h.end());
    }
    t.names.push_back("score");
    t.columns.push_back(score);
    return t;
}

int run(Options& o)
{
    check_options(o);
    lpfit::Source src{o.data, o.y, o.x, o.dummies, o.returns, o.lags, o.date};
    const lpfit::Data d = lpfit::load_data(src);
    const std::vector<double> weekdays = o.weekday() ? lpfit::weekday_groups(d) : std::vector<double>();
    if (!o.plot.empty() && d.cont.size() != 1)
        throw InputError("--plot draws a fit in one continuous regressor; this one has " + std::to_string(d.cont.size()));

    lpfit::Painter painter = lpfit::terminal_painter(o.quiet);
    const auto fit = run_request(*make_request(o, d, weekdays, nullptr), painter);
    const lpfit::Table table = fit->table();

    // The files, staged: they appear only when everything has been made.
    std::vector<std::unique_ptr<lpfit::StagedFile>> files;
    std::size_t picture_failed = 0;
    std::vector<std::string> wrote;
    if (!o.plot.empty()) {
        const lpfit::Picture pic = picture(o, d, weekdays, *fit, table, painter, picture_failed);
        files.push_back(std::make_unique<lpfit::StagedFile>(o.plot + ".svg"));
        files.push_back(std::make_unique<lpfit::StagedFile>(o.plot + ".png"));
        lpfit::run_gnuplot(lpfit::picture_script(pic, files[0]->temp(), files[1]->temp()));
        wrote.push_back(o.plot + ".svg and " + o.plot + ".png");
        if (selects(o)) {
            auto svg = std::make_unique<lpfit::StagedFile>(o.plot + "-criterion.svg");
            auto png = std::make_unique<lpfit::StagedFile>(o.plot + "-criterion.png");
            const std::string script = lpfit::criterion_script(criterion(d, *fit), svg->temp(), png->temp());
            if (!script.empty()) {
                lpfit::run_gnuplot(script);
                files.push_back(std::move(svg));
                files.push_back(std::move(png));
                wrote.push_back(o.plot + "-criterion.svg and " + o.plot + "-criterion.png");
            }
        }
    }
    if (!o.scores.empty()) {
        files.push_back(std::make_unique<lpfit::StagedFile>(o.scores));
        files.back()->write(lpfit::csv_text(scores(d, *fit), 17));
        wrote.push_back(o.scores);
    }
    const std::string text = lpfit::csv_text(table, o.digits);
    if (!o.output.empty()) {
        files.push_back(std::make_unique<lpfit::StagedFile>(o.output));
        files.back()->write(text);
    }
    if (interrupted) throw FitError("");

    // What a user reads.
    const std::string warnings = fit->text("warnings");
    if (!o.quiet) {
        if (o.verbose) say(fit->text("selection"), "lpfit: ");
        say(fit->text("summary"), "lpfit: ");
        say(fit->text("notes"), "lpfit: ");
        if (o.verbose)
            std::fputs(fit->text("library").c_str(), stderr);
        else
            say(messages_beside(fit->text("messages"), warnings), "lpfit: ");
    }
    say(warnings, "lpfit: warning: ");
    if (picture_failed > 0)
        say("the picture's fit is NaN at " + std::to_string(picture_failed) + " of its 201 points, which it leaves out\n",
            "lpfit: warning: ");

    for (auto& f : files) f->commit();
    if (!o.quiet)
        for (const std::string& w : wrote) std::fprintf(stderr, "lpfit: wrote %s\n", w.c_str());
    if (o.output.empty() && (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)) {
        if (errno != EPIPE)  // else the reader has all it wanted (lpfit ... | head)
            throw InputError(std::string("cannot write the table to standard output: ") + std::strerror(errno));
    }
    return fit->points("failed").empty() ? kOk : kFailed;
}

// The core's sentence for an estimator it does not know.
std::string unknown_estimator(const char* name)
{
    lpfit::Request s(name);
    lpfit::Fit f(s, nullptr, nullptr);
    return f.message();
}

}  // namespace

int main(int argc, char** argv)
{
    // A closed pipe (gnuplot gone, `lpfit ... | head`) is reported, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, on_interrupt);
    Options o;
    CLI::App app{kAbout, "lpfit"};
    app.require_subcommand(1);
    app.footer("Run 'lpfit ESTIMATOR --help' for the options of each estimator.");
    struct Estimator {
        const char *name, *about, *degrees;
    };
    const Estimator estimators[] = {
        {"dorvane", "Local linear fit; with --deg 2 also the squares", "1 or 2 (default 1)"},
        {"tremsal", "Local cubic fit without cross products", "1 to 3 (default 3)"},
        {"locparg", "Local quadratic fit with the products and third-order terms of regressor lam", "3"},
        {"locpa2g", "Local quadratic fit with the products of regressor lam with the others", "2"},
    };
    bool known = false;
    for (const Estimator& e : estimators) {
        CLI::App* sub = app.add_subcommand(e.name, e.about);
        o.estimator = e.name;
        add_options(sub, o, e.degrees);
        known = known || (argc > 1 && std::strcmp(argv[1], e.name) == 0);
    }
    try {
        if (argc > 1 && argv[1][0] != '-' && !known) {
            std::fprintf(stderr, "lpfit: %s\n", unknown_estimator(argv[1]).c_str());
            return kBadInput;
        }
        try {
            app.parse(argc, argv);
        } catch (const CLI::CallForHelp& e) {
            return app.exit(e);
        } catch (const CLI::ParseError& e) {
            std::fprintf(stderr, "lpfit: %s\nRun 'lpfit%s --help' for the options.\n", e.what(),
                         known ? (std::string(" ") + argv[1]).c_str() : "");
            return kBadInput;
        }
        for (CLI::App* sub : app.get_subcommands()) o.sub = sub, o.estimator = sub->get_name();
        return run(o);
    } catch (const std::exception& e) {
        // An interrupt ends the fit at its next piece of work, and gnuplot at once.
        if (interrupted) {
            std::fprintf(stderr, "lpfit: interrupted\n");
            return kInterrupted;
        }
        if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
            std::fprintf(stderr, "lpfit: out of memory\n");
            return kNoMemory;
        }
        std::fprintf(stderr, "lpfit: %s\n", e.what());
        return dynamic_cast<const FitError*>(&e) != nullptr ? kFailed : kBadInput;
    }
}
