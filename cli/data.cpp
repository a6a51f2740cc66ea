// Columns, log returns, dates and weekdays.
#include "cli/data.h"

#include <cmath>
#include <cstdio>

#include "cli/csv.h"

namespace lpfit {

namespace {

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar (the
// algorithm of Howard Hinnant's "chrono-compatible low-level date algorithms").
long long days_from_civil(long long y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int days_in_month(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

std::string trimmed(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

bool digits(const std::string& s, std::size_t at, std::size_t count, int& v)
{
    v = 0;
    for (std::size_t k = at; k < at + count; ++k) {
        if (s[k] < '0' || s[k] > '9') return false;
        v = 10 * v + (s[k] - '0');
    }
    return true;
}

// The date of each row of f in column `name`.
std::vector<Date> row_dates(const CsvFile& f, const std::string& name)
{
    const std::size_t k = f.column(name);
    std::vector<Date> dates(f.rows.size());
    for (std::size_t i = 0; i < f.rows.size(); ++i)
        if (!parse_date(f.rows[i][k], dates[i]))
            throw InputError(f.where(i, k) + ": '" + f.rows[i][k] +
                             "' is not a date of the form yyyy-mm-dd (ISO 8601, such as 2024-01-31)");
    return dates;
}

std::vector<double> column_values(const CsvFile& f, std::size_t k)
{
    std::vector<double> v(f.rows.size());
    for (std::size_t i = 0; i < f.rows.size(); ++i) v[i] = cell_value(f, i, k);
    return v;
}

}  // namespace

long long Date::days() const { return days_from_civil(year, month, day); }

int Date::weekday() const
{
    // 1970-01-01 was a Thursday.
    const long long w = (days() % 7 + 7 + 3) % 7;
    return static_cast<int>(w) + 1;
}

std::string Date::text() const
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

bool parse_date(const std::string& cell, Date& d)
{
    const std::string s = trimmed(cell);
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    Date e;
    if (!digits(s, 0, 4, e.year) || !digits(s, 5, 2, e.month) || !digits(s, 8, 2, e.day)) return false;
    if (e.month < 1 || e.month > 12 || e.day < 1 || e.day > days_in_month(e.year, e.month)) return false;
    d = e;
    return true;
}

const char* weekday_name(int weekday)
{
    static const char* const names[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    return weekday >= 1 && weekday <= 7 ? names[weekday - 1] : "?";
}

Data load_data(const Source& src)
{
    const CsvFile f = read_csv_file(src.path);
    Data d;
    d.source = src.path;
    const std::vector<Date> dates = src.date.empty() ? std::vector<Date>() : row_dates(f, src.date);
    if (!src.returns.empty()) {
        const std::size_t k = f.column(src.returns);
        const std::vector<double> price = column_values(f, k);
        for (std::size_t i = 0; i < price.size(); ++i)
            if (price[i] <= 0)
                throw InputError(f.where(i, k) + ": price " + f.rows[i][k] + " is not positive, so it has no logarithm");
        // r[s - 1] = log(P(s)) - log(P(s - 1)); observation i is r[q + i] on
        // r[q + i - k], k = 1 ... q, and is dated by P(q + i + 1).
        std::vector<double> r;
        for (std::size_t s = 1; s < price.size(); ++s) r.push_back(std::log(price[s]) - std::log(price[s - 1]));
        const std::size_t q = static_cast<std::size_t>(src.lags);
        if (q >= r.size())
            throw InputError(src.path + ": " + std::to_string(r.size()) + (r.size() == 1 ? " return leaves" : " returns leave") +
                             " no observation with " + std::to_string(q) + (q == 1 ? " lag" : " lags"));
        d.response = src.returns + " log return";
        d.xlabel = src.returns + " log return on the day before";
        d.xc.resize(q);
        for (std::size_t l = 1; l <= q; ++l) d.cont.push_back("lag" + std::to_string(l));
        for (std::size_t i = q; i < r.size(); ++i) {
            d.y.push_back(r[i]);
            for (std::size_t l = 1; l <= q; ++l) d.xc[l - 1].push_back(r[i - l]);
            d.lines.push_back(f.lines[i + 1]);
            if (!dates.empty()) d.dates.push_back(dates[i + 1]);
        }
        return d;
    }
    d.response = src.y;
    d.cont = src.x;
    d.dummies = src.dummies;
    d.xlabel = src.x.empty() ? "" : src.x[0];
    d.y = column_values(f, f.column(src.y));
    for (const std::string& x : src.x) d.xc.push_back(column_values(f, f.column(x)));
    for (const std::string& x : src.dummies) d.xd.push_back(column_values(f, f.column(x)));
    d.lines = f.lines;
    d.dates = dates;
    return d;
}

std::vector<double> read_columns(const std::string& path, const std::vector<std::string>& names, const std::string& what,
                                 std::size_t& rows)
{
    const CsvFile f = read_csv_file(path);
    if (f.rows.empty()) throw InputError(path + ": no " + what + " below the header");
    rows = f.rows.size();
    std::vector<double> v;
    for (const std::string& name : names) {
        const std::vector<double> c = column_values(f, f.column(name));
        v.insert(v.end(), c.begin(), c.end());
    }
    return v;
}

std::vector<double> weekday_groups(const Data& d)
{
    std::vector<double> groups;
    for (std::size_t i = 0; i < d.n(); ++i) {
        const int wd = d.dates[i].weekday();
        if (wd > 5)
            throw InputError("--groups weekday: " + d.source + ":" + std::to_string(d.lines[i]) + ": " +
                             d.dates[i].text() + ", a " + weekday_name(wd) +
                             ": the weekday groups are Monday to Friday, so the dates must be trading days");
        groups.push_back(wd);
    }
    return groups;
}

}  // namespace lpfit
