// CSV reading on libcsv, number formatting, tables, staged output files.
#include "cli/csv.h"

#include <csv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace lpfit {

std::size_t CsvFile::column(const std::string& name) const
{
    std::size_t found = names.size();
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (names[k] != name) continue;
        if (found != names.size()) throw InputError(path + ": the header names column '" + name + "' twice");
        found = k;
    }
    if (found == names.size()) throw InputError(path + ": no column '" + name + "' in the header");
    return found;
}

std::string CsvFile::where(std::size_t i, std::size_t k) const
{
    return path + ":" + std::to_string(lines[i]) + ": column " + std::to_string(k + 1) + " '" + names[k] + "'";
}

namespace {

// What the libcsv callbacks build: the record being read and the line being fed.
// A fault found inside a callback is kept in `fault` and thrown once libcsv
// has returned: exceptions do not cross its C frames.
struct Reader {
    explicit Reader(CsvFile* f) : file(f) {}
    CsvFile* file;
    long line = 0;
    std::vector<std::string> record;
    bool header = true;
    std::string fault;
};

void on_field(void* s, std::size_t len, void* data)
{
    static_cast<Reader*>(data)->record.emplace_back(static_cast<const char*>(s), len);
}

void on_record(int, void* data)
{
    Reader& r = *static_cast<Reader*>(data);
    CsvFile& f = *r.file;
    if (!r.fault.empty()) return;
    if (r.header) {
        f.names = std::move(r.record);
        r.header = false;
    } else {
        if (r.record.size() != f.names.size())
            r.fault = f.path + ":" + std::to_string(r.line) + ": " + std::to_string(r.record.size()) +
                      " fields, but the header has " + std::to_string(f.names.size());
        f.rows.push_back(std::move(r.record));
        f.lines.push_back(r.line);
    }
    r.record.clear();
}

// Releases the parser on every path out of read_csv_file.
struct Parser {
    csv_parser p;
    Parser()
    {
        if (csv_init(&p, CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::runtime_error("cannot start the CSV parser");
    }
    ~Parser() { csv_free(&p); }
};

}  // namespace

CsvFile read_csv_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path + ": cannot open: " + std::strerror(errno));
    std::ostringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    CsvFile f;
    f.path = path;
    Reader r(&f);
    Parser parser;
    // The text goes to the parser one line at a time, so that a callback knows
    // the line it was called on: a record ends on the line being fed.
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        ++r.line;
        if (csv_parse(&parser.p, text.data() + at, end - at, on_field, on_record, &r) != end - at)
            throw InputError(path + ":" + std::to_string(r.line) + ": " +
                             (csv_error(&parser.p) == CSV_EPARSE ? std::string("malformed quoted field")
                                                                 : csv_strerror(csv_error(&parser.p))));
        if (!r.fault.empty()) throw InputError(r.fault);
        at = end;
    }
    if (csv_fini(&parser.p, on_field, on_record, &r) != 0)
        throw InputError(path + ":" + std::to_string(r.line) + ": a quoted field is not closed");
    if (!r.fault.empty()) throw InputError(r.fault);
    if (r.header) throw InputError(path + ": empty file, no header line");
    return f;
}

namespace {

std::string trimmed(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

bool is_missing(const std::string& cell)
{
    const std::string s = trimmed(cell);
    return s.empty() || s == "NA";
}

bool parse_number(const std::string& cell, double& v)
{
    const std::string s = trimmed(cell);
    if (s.empty()) return false;
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return false;
    v = d;
    return true;
}

double cell_value(const CsvFile& f, std::size_t i, std::size_t k)
{
    const std::string& cell = f.rows[i][k];
    if (is_missing(cell)) return std::numeric_limits<double>::quiet_NaN();
    double v = 0;
    if (!parse_number(cell, v)) throw InputError(f.where(i, k) + ": '" + cell + "' is not a number");
    return v;
}

std::string format_number(double v, int digits)
{
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string csv_field(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + '"';
}

std::string csv_text(const Table& t, int digits)
{
    std::string s;
    for (std::size_t k = 0; k < t.names.size(); ++k) s += (k ? "," : "") + csv_field(t.names[k]);
    s += '\n';
    const std::size_t rows = t.columns.empty() ? 0 : t.columns[0].size();
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t k = 0; k < t.columns.size(); ++k) s += (k ? "," : "") + format_number(t.columns[k][i], digits);
        s += '\n';
    }
    return s;
}

StagedFile::StagedFile(const std::string& path) : name(path)
{
    std::string pattern = path + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw InputError(path + ": cannot write: " + std::strerror(errno));
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    tmp = pattern;
}

StagedFile::~StagedFile()
{
    if (!done) std::remove(tmp.c_str());
}

void StagedFile::write(const std::string& text)
{
    std::FILE* out = std::fopen(tmp.c_str(), "wb");
    const bool ok = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out == nullptr || std::fclose(out) != 0 || !ok) throw InputError(name + ": cannot write: " + std::strerror(errno));
}

void StagedFile::commit()
{
    if (std::rename(tmp.c_str(), name.c_str()) != 0) throw InputError(name + ": cannot write: " + std::strerror(errno));
    done = true;
}

}  // namespace lpfit
