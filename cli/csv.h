// CSV files in and out for the command-line tool: a reader that keeps every
// cell as text with the line it came from, so that a message can name the
// file, line and column of a bad cell; number formatting that round-trips;
// tables; and output files that appear under their names only when complete.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace lpfit {

// A fault in the options or the input that the user can mend. The message is
// complete ("data.csv:12: column 3 'DAX': 'abc' is not a number").
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The cells of a CSV file with one header line, as text.
struct CsvFile {
    std::string path;
    std::vector<std::string> names;              // header fields
    std::vector<std::vector<std::string>> rows;  // rows[i][k]: row i, column k
    std::vector<long> lines;                     // line of the file on which row i ends, from 1

    // Index of column `name`; throws InputError when the header lacks it or has it twice.
    std::size_t column(const std::string& name) const;
    // "PATH:LINE: column K 'NAME'", K counted from 1, for messages about cell (i, k).
    std::string where(std::size_t i, std::size_t k) const;
};

// Reads a comma-separated file with a header line: quoted fields (with commas,
// doubled quotes and line breaks inside), LF or CRLF line ends, a UTF-8
// byte-order mark and blank lines are all accepted. Throws InputError naming
// the file and line for a missing file, a malformed quoted field or a row
// whose field count differs from the header's.
CsvFile read_csv_file(const std::string& path);

// True for a missing value: an empty cell or NA.
bool is_missing(const std::string& cell);
// Reads the whole cell as a number (surrounding blanks allowed), as strtod
// reads it: Inf, -Inf and NaN are numbers, and so is 1e999, which is too large
// for a double and reads as Inf; false when it is not a number.
bool parse_number(const std::string& cell, double& v);
// A cell of a data column: NaN for a missing value (empty or NA), the number
// otherwise; throws InputError naming the cell when it is neither.
double cell_value(const CsvFile& f, std::size_t i, std::size_t k);

// v with `digits` significant digits (17 round-trips every double); NaN and
// infinities as NaN, Inf and -Inf, which R and Python read back.
std::string format_number(double v, int digits);
// s as a CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& s);

// A table of named columns of equal length, as CSV text: a header line, then
// one line per row with `digits` significant digits.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<double>> columns;
};
std::string csv_text(const Table& t, int digits);

// An output file that appears under its name only when committed: the text
// goes to a temporary file beside it, renamed over the name by commit(). An
// uncommitted file is removed, so a failed run leaves any earlier file as it was.
class StagedFile {
public:
    explicit StagedFile(const std::string& path);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // The temporary file's path, for a program that writes it itself.
    const std::string& temp() const { return tmp; }
    const std::string& path() const { return name; }
    void write(const std::string& text);
    // Renames the temporary file to the final name; throws InputError on failure.
    void commit();

private:
    std::string name, tmp;
    bool done = false;
};

}  // namespace lpfit
