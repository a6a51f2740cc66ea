// Reading the regressors, the evaluation points and the bandwidths, and naming
// the output columns after the regressors.
#include "host/design.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "host/csv.h"

namespace lpfit {

bool known_estimator(const std::string& name)
{
    return name == "dorvane" || name == "tremsal" || name == "locparg" || name == "locpa2g";
}

std::string library_file(const std::string& estimator) { return estimator == "dorvane" ? "Dorvane.so" : "Tremsal.so"; }

int default_degree(const std::string& estimator)
{
    if (estimator == "dorvane") return 1;
    if (estimator == "locpa2g") return 2;
    return 3;
}

void check_degree(const std::string& estimator, int deg)
{
    const bool ok = estimator == "dorvane"   ? deg == 1 || deg == 2
                    : estimator == "tremsal" ? deg >= 1 && deg <= 3
                                             : deg == default_degree(estimator);
    if (ok) return;
    const std::string allowed = estimator == "dorvane"   ? "1 or 2"
                                : estimator == "tremsal" ? "1, 2 or 3"
                                                         : std::to_string(default_degree(estimator)) + " only";
    throw InputError("--deg " + std::to_string(deg) + ": " + estimator + " fits degree " + allowed);
}

namespace {

// Column k of f at the rows `keep` as numbers; the first cell that is not a
// finite number is reported with its line and column.
std::vector<double> numbers(const CsvFile& f, std::size_t k, const std::vector<std::size_t>& keep)
{
    std::vector<double> v;
    v.reserve(keep.size());
    for (std::size_t i : keep) {
        double d = 0;
        if (!parse_number(f.rows[i][k], d))
            throw InputError(f.where(i, k) + ": '" + f.rows[i][k] + "' is not a finite number");
        v.push_back(d);
    }
    return v;
}

// Rows without a missing value in the columns `used`, or an error that counts
// the rows with one and tells how to leave them out.
std::vector<std::size_t> complete_rows(const CsvFile& f, const std::vector<std::size_t>& used, bool drop)
{
    std::vector<std::size_t> keep;
    std::size_t missing = 0, first_row = 0, first_col = 0;
    for (std::size_t i = 0; i < f.rows.size(); ++i) {
        auto bad = std::find_if(used.begin(), used.end(), [&](std::size_t k) { return is_missing(f.rows[i][k]); });
        if (bad == used.end()) {
            keep.push_back(i);
            continue;
        }
        if (missing++ == 0) first_row = i, first_col = *bad;
    }
    if (missing > 0 && !drop)
        throw InputError(f.path + ": " + std::to_string(missing) + (missing == 1 ? " row has" : " rows have") +
                         " a missing value (empty or NA) in the columns used, the first at line " +
                         std::to_string(f.lines[first_row]) + ", column " + std::to_string(first_col + 1) + " '" +
                         f.names[first_col] + "'; leave such rows out with --drop-missing");
    return keep;
}

}  // namespace

Data load_data(const Source& src)
{
    const CsvFile f = read_csv_file(src.path);
    std::vector<std::string> names;
    if (!src.returns.empty()) {
        names.push_back(src.returns);
    } else {
        names.push_back(src.y);
        names.insert(names.end(), src.x.begin(), src.x.end());
        names.insert(names.end(), src.dummies.begin(), src.dummies.end());
    }
    std::set<std::string> seen;
    for (const std::string& s : names)
        if (!seen.insert(s).second) throw InputError("column '" + s + "' is named twice in --y, --x and --dummies");
    std::vector<std::size_t> used;
    for (const std::string& s : names) used.push_back(f.column(s));
    const std::vector<std::size_t> keep = complete_rows(f, used, src.drop_missing);

    Data d;
    d.source = src.path;
    if (!src.returns.empty()) {
        const std::vector<double> price = numbers(f, used[0], keep);
        for (std::size_t r = 0; r < price.size(); ++r)
            if (!(price[r] > 0))
                throw InputError(f.where(keep[r], used[0]) + ": price " + f.rows[keep[r]][used[0]] +
                                 " is not positive, so it has no log return");
        // r[s] = log(P(s+1) / P(s)); observation i is r[q + i] on r[q + i - k], k = 1 ... q.
        std::vector<double> r;
        for (std::size_t s = 1; s < price.size(); ++s) r.push_back(std::log(price[s] / price[s - 1]));
        const std::size_t q = static_cast<std::size_t>(src.lags);
        if (q >= r.size())
            throw InputError(src.path + ": " + std::to_string(r.size()) + " returns leave no observation with " +
                             std::to_string(q) + " lags");
        d.response = src.returns + " log return";
        d.xlabel = src.returns + " log return on the day before";
        d.xc.resize(q);
        for (std::size_t k = 1; k <= q; ++k) d.cont.push_back("lag" + std::to_string(k));
        for (std::size_t i = q; i < r.size(); ++i) {
            d.y.push_back(r[i]);
            for (std::size_t k = 1; k <= q; ++k) d.xc[k - 1].push_back(r[i - k]);
        }
        return d;
    }
    d.response = src.y;
    d.cont = src.x;
    d.dummies = src.dummies;
    d.xlabel = src.x.empty() ? "" : src.x[0];
    d.y = numbers(f, used[0], keep);
    for (std::size_t k = 0; k < src.x.size(); ++k) d.xc.push_back(numbers(f, used[1 + k], keep));
    for (std::size_t k = 0; k < src.dummies.size(); ++k) {
        const std::size_t col = used[1 + src.x.size() + k];
        d.xd.push_back(numbers(f, col, keep));
        for (std::size_t i = 0; i < keep.size(); ++i)
            if (d.xd.back()[i] != 0.0 && d.xd.back()[i] != 1.0)
                throw InputError(f.where(keep[i], col) + ": dummy value '" + f.rows[keep[i]][col] + "' is not 0 or 1");
    }
    return d;
}

void check_variation(const Data& d)
{
    auto single = [](const std::vector<double>& v) {
        return std::all_of(v.begin(), v.end(), [&](double e) { return e == v.front(); });
    };
    for (std::size_t k = 0; k < d.xc.size(); ++k)
        if (!d.xc[k].empty() && single(d.xc[k]))
            throw InputError(d.source + ": continuous regressor '" + d.cont[k] + "' takes one value only");
    for (std::size_t k = 0; k < d.xd.size(); ++k)
        if (!d.xd[k].empty() && single(d.xd[k]))
            throw InputError(d.source + ": dummy '" + d.dummies[k] + "' is " + format_number(d.xd[k][0], 1) +
                             " for every observation, so its effect cannot be told from the level");
}

int resolve_lam(const Data& d, const std::string& lam)
{
    const std::size_t pc = d.cont.size();
    if (!lam.empty() && lam.find_first_not_of("0123456789") == std::string::npos) {
        const long k = lam.size() > 9 ? 0 : std::stol(lam);
        if (k < 1 || k > static_cast<long>(pc))
            throw InputError("--lam " + lam + " is outside the continuous regressors, numbered 1 to " + std::to_string(pc));
        return static_cast<int>(k);
    }
    for (std::size_t k = 0; k < pc; ++k)
        if (d.cont[k] == lam) return static_cast<int>(k + 1);
    std::string list;
    for (const std::string& c : d.cont) list += (list.empty() ? "" : ", ") + c;
    const bool dummy = std::find(d.dummies.begin(), d.dummies.end(), lam) != d.dummies.end();
    throw InputError("--lam '" + lam + "' is " + (dummy ? "a dummy, not a continuous regressor" : "not a continuous regressor") +
                     " (they are " + list + ")");
}

Columns output_columns(const std::string& estimator, const Data& d, int deg, int lam)
{
    Columns c;
    auto add = [&](const std::string& mean, const std::string& var) {
        c.mh.push_back(mean);
        c.sh.push_back(var);
    };
    add("level", "var");
    for (const std::string& a : d.cont) add("d1_" + a, "var_d1_" + a);
    for (const std::string& a : d.dummies) add("effect_" + a, "var_effect_" + a);
    if (deg >= 2)
        for (const std::string& a : d.cont) add("d2_" + a, "var_d2_" + a);
    if (estimator == "tremsal" && deg == 3)
        for (const std::string& a : d.cont) add("d3_" + a, "y2_c3_" + a + "_" + a + "_" + a);
    if (estimator == "locparg" || estimator == "locpa2g") {
        // The cross block of the lam regressor L: z_k·z_L for k != L; locparg adds
        // z_k²·z_L for k != L and z_k·z_L² for every k.
        const std::string& L = d.cont[lam - 1];
        for (std::size_t k = 0; k < d.cont.size(); ++k)
            if (static_cast<int>(k) != lam - 1) add("d2_" + d.cont[k] + "_" + L, "y2_d2_" + d.cont[k] + "_" + L);
        if (estimator == "locparg") {
            for (std::size_t k = 0; k < d.cont.size(); ++k)
                if (static_cast<int>(k) != lam - 1) {
                    const std::string n = "c3_" + d.cont[k] + "_" + d.cont[k] + "_" + L;
                    add(n, "y2_" + n);
                }
            for (const std::string& a : d.cont) add("c3_" + a + "_" + L + "_" + L, "y2_c3_" + a + "_" + L + "_" + L);
        }
    }
    return c;
}

namespace {

double sample_sd(const std::vector<double>& v)
{
    const double n = static_cast<double>(v.size());
    double mean = 0;
    for (double e : v) mean += e;
    mean /= n;
    double ss = 0;
    for (double e : v) ss += (e - mean) * (e - mean);
    return std::sqrt(ss / (n - 1));
}

}  // namespace

std::vector<double> rule_of_thumb(const Data& d, int deg)
{
    const double pc = static_cast<double>(d.cont.size()), n = static_cast<double>(d.n());
    const double c = std::pow(4.0 / (pc + 2.0), 1.0 / (pc + 4.0));
    const double rate = std::pow(n, -1.0 / (pc + (deg >= 2 ? 8.0 : 4.0)));
    std::vector<double> h;
    for (const std::vector<double>& x : d.xc) h.push_back(c * sample_sd(x) * rate);
    return h;
}

namespace {

// The value of one option entry as a positive finite number.
double positive(const std::string& option, const std::string& s)
{
    double v = 0;
    if (!parse_number(s, v) || !(v > 0))
        throw InputError(option + " '" + s + "' is not a positive finite number");
    return v;
}

std::vector<std::string> split_commas(const std::string& s)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t comma; (comma = s.find(',', at)) != std::string::npos; at = comma + 1)
        parts.push_back(s.substr(at, comma - at));
    parts.push_back(s.substr(at));
    return parts;
}

}  // namespace

std::vector<std::vector<double>> cv_candidates(const std::string& cv, const std::vector<double>& h0)
{
    std::vector<std::vector<double>> hs;
    if (!cv.empty() && cv.find_first_not_of("0123456789") == std::string::npos) {
        const long K = cv.size() > 6 ? 0 : std::stol(cv);
        if (K < 2 || K > 1000) throw InputError("--cv " + cv + ": give a count of 2 to 1000 candidates, or a list of bandwidths");
        for (long k = 0; k < K; ++k) {
            const double f = std::pow(4.0, 2.0 * static_cast<double>(k) / static_cast<double>(K - 1) - 1.0);
            std::vector<double> h;
            for (double e : h0) h.push_back(e * f);
            hs.push_back(h);
        }
        return hs;
    }
    for (const std::string& s : split_commas(cv)) hs.emplace_back(h0.size(), positive("--cv candidate", s));
    return hs;
}

std::vector<double> given_bandwidths(const std::vector<std::string>& values, std::size_t pc)
{
    if (values.size() != 1 && values.size() != pc)
        throw InputError("--bandwidth has " + std::to_string(values.size()) + " values; give one, or one for each of the " +
                         std::to_string(pc) + " continuous regressors");
    std::vector<double> h;
    for (const std::string& s : values) h.push_back(positive("--bandwidth", s));
    if (h.size() == 1) h.resize(pc, h[0]);
    return h;
}

Points observation_points(const Data& d)
{
    Points at;
    at.m = d.n();
    for (const std::vector<double>& x : d.xc) at.t.insert(at.t.end(), x.begin(), x.end());
    return at;
}

Points grid_points(const std::vector<std::vector<double>>& columns, int N)
{
    const std::size_t pc = columns.size();
    if (pc > 2) throw InputError("--grid spans one or two continuous regressors; with " + std::to_string(pc) + " give the points with --at");
    if (N < 2) throw InputError("--grid " + std::to_string(N) + ": give at least 2 points per regressor");
    if (std::pow(static_cast<double>(N), static_cast<double>(pc)) > 1e7)
        throw InputError("--grid " + std::to_string(N) + ": more than ten million points");
    std::vector<std::vector<double>> axis(pc);
    for (std::size_t k = 0; k < pc; ++k) {
        const auto [lo, hi] = std::minmax_element(columns[k].begin(), columns[k].end());
        for (int j = 0; j < N; ++j)
            axis[k].push_back(j == N - 1 ? *hi : *lo + (*hi - *lo) * static_cast<double>(j) / static_cast<double>(N - 1));
    }
    Points at;
    at.m = pc == 1 ? axis[0].size() : axis[0].size() * axis[1].size();
    at.t.resize(at.m * pc);
    for (std::size_t j = 0; j < at.m; ++j) {
        at.t[j] = axis[0][j % N];
        if (pc == 2) at.t[j + at.m] = axis[1][j / N];
    }
    return at;
}

Points file_points(const std::string& path, const Data& d)
{
    const CsvFile f = read_csv_file(path);
    if (f.rows.empty()) throw InputError(path + ": no evaluation points below the header");
    Points at;
    at.m = f.rows.size();
    std::vector<std::size_t> all(f.rows.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    for (const std::string& name : d.cont) {
        const std::size_t k = f.column(name);
        for (std::size_t i : all)
            if (is_missing(f.rows[i][k])) throw InputError(f.where(i, k) + ": missing coordinate of an evaluation point");
        const std::vector<double> v = numbers(f, k, all);
        at.t.insert(at.t.end(), v.begin(), v.end());
    }
    return at;
}

host::Problem problem(const Data& d, const std::vector<double>& h, const Points& at)
{
    const std::size_t n = d.n(), pc = d.cont.size(), p = pc + d.dummies.size();
    host::Problem pr;
    pr.n = pr.nr = static_cast<double>(n);
    pr.p = static_cast<double>(p);
    pr.m = static_cast<double>(at.m);
    pr.y = d.y;
    for (const std::vector<double>& x : d.xc) pr.x.insert(pr.x.end(), x.begin(), x.end());
    for (const std::vector<double>& x : d.xd) pr.x.insert(pr.x.end(), x.begin(), x.end());
    pr.t = at.t;
    pr.t.resize(at.m * p, 0.0);
    pr.h.assign(p, 0.0);
    std::copy(h.begin(), h.end(), pr.h.begin());
    if (p > pc) pr.h[p - 1] = -static_cast<double>(pc);
    return pr;
}

}  // namespace lpfit
