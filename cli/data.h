// The columns of a fit from a CSV file: the response and the regressors by
// name, or lagged log returns of a price series, with the dates of the
// observations; evaluation points and candidate bandwidths from files; and
// the weekday of each date for density groups by weekday.
//
// What is read here is handed to the core as it is: a missing cell becomes
// NaN, and the core refuses it or leaves its observation out (--missing).
// Only what the core cannot see is checked here: cells that are not numbers,
// prices that have no logarithm, dates that are not dates.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lpfit {

// A calendar date.
struct Date {
    int year = 0, month = 0, day = 0;
    // Days since 1970-01-01 (negative before it), in the proleptic Gregorian calendar.
    long long days() const;
    // 1 for Monday ... 7 for Sunday.
    int weekday() const;
    // yyyy-mm-dd.
    std::string text() const;
};

// Reads an ISO 8601 calendar date yyyy-mm-dd (surrounding blanks allowed);
// false for anything else, a day that does not exist included.
bool parse_date(const std::string& cell, Date& d);
// "Monday" ... "Sunday" for weekday 1 ... 7.
const char* weekday_name(int weekday);

// Where the data come from.
struct Source {
    std::string path;                  // CSV file with a header line
    std::string y;                     // response column
    std::vector<std::string> x;        // continuous regressor columns
    std::vector<std::string> dummies;  // 0/1 columns
    std::string returns;               // price column: regress r(t) on r(t-1) ... r(t-lags)
    int lags = 1;
    std::string date;                  // date column (yyyy-mm-dd), or none
};

// The data of a fit: n responses, the continuous regressors and the dummies,
// each a column of n values with its name; NaN where a cell was missing.
struct Data {
    std::string source;    // the file, for messages
    std::string response;  // name of y
    std::string xlabel;    // description of the first regressor, for pictures
    std::vector<std::string> cont, dummies;
    std::vector<double> y;
    std::vector<std::vector<double>> xc, xd;  // continuous columns, dummy columns
    std::vector<Date> dates;                  // of each observation, with a date column
    std::vector<long> lines;                  // the file's line of each observation, from 1
    std::size_t n() const { return y.size(); }
};

// Reads the columns of `src`. With `returns`, the price column P becomes the
// log returns r(t) = log(P(t)) - log(P(t-1)), the difference of the logarithms
// (R's diff(log(P))); the response is r(t) and the regressors lag1 ... lagq are
// r(t-1) ... r(t-q), and an observation's date is that of its P(t). Throws
// InputError for a missing column, a cell that is not a number, a price that
// is not positive and, with a date column, a cell that is not a date.
Data load_data(const Source& src);

// The columns `names` of the CSV file at `path`, column-major: rows x names.
// A missing cell is NaN. `what` names the file's contents for messages ("no
// evaluation points below the header").
std::vector<double> read_columns(const std::string& path, const std::vector<std::string>& names, const std::string& what,
                                 std::size_t& rows);

// The weekday of each observation's date, 1 (Monday) to 5 (Friday), the
// density group of --groups weekday; holidays and other missing days are no
// matter. Throws InputError naming the first weekend date.
std::vector<double> weekday_groups(const Data& d);

}  // namespace lpfit
