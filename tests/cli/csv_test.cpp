// The CSV reader on the shapes real files come in, cells, number formatting
// that round-trips, tables and staged output files.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "cli/tool.h"
#include "cli/csv.h"

using lpfit::InputError;
using lpfit::read_csv_file;

namespace {

// The message of the InputError that f() throws, or "" when it throws none.
template <class F>
std::string error_of(F f)
{
    try {
        f();
    } catch (const InputError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CsvRead, QuotedFieldsCrlfAndByteOrderMark)
{
    Scratch s;
    const std::string path = s.file("q.csv",
                                    "\xEF\xBB\xBF" "name,\"x, in m\",y\r\n"
                                    "\"Smith, J\",1.5,2\r\n"
                                    "\"say \"\"hi\"\"\",  -3 ,\"4e-2\"\r\n"
                                    "\r\n"
                                    "\"two\nlines\",5,6");  // no final line end
    const lpfit::CsvFile f = read_csv_file(path);
    ASSERT_EQ(f.names, (std::vector<std::string>{"name", "x, in m", "y"}));
    ASSERT_EQ(f.rows.size(), 3u);
    EXPECT_EQ(f.rows[0][0], "Smith, J");
    EXPECT_EQ(f.rows[1][0], "say \"hi\"");
    EXPECT_EQ(f.rows[2][0], "two\nlines");
    EXPECT_EQ(f.column("x, in m"), 1u);
    double v = 0;
    EXPECT_TRUE(lpfit::parse_number(f.rows[1][1], v));
    EXPECT_EQ(v, -3.0);
    EXPECT_TRUE(lpfit::parse_number(f.rows[1][2], v));
    EXPECT_EQ(v, 4e-2);
    // Lines as the user's editor counts them: the blank line is skipped and the
    // quoted line break moves the last row to line 6.
    EXPECT_EQ(f.lines, (std::vector<long>{2, 3, 6}));
    EXPECT_EQ(f.where(1, 2), path + ":3: column 3 'y'");
}

TEST(CsvRead, ReportsFileAndLineOfMalformedInput)
{
    Scratch s;
    EXPECT_NE(error_of([&] { read_csv_file(s.path("none.csv")); }).find("none.csv: cannot open"), std::string::npos);
    EXPECT_EQ(error_of([&] { read_csv_file(s.file("e.csv", "")); }), s.path("e.csv") + ": empty file, no header line");
    EXPECT_EQ(error_of([&] { read_csv_file(s.file("r.csv", "a,b\n1,2\n3\n")); }),
              s.path("r.csv") + ":3: 1 fields, but the header has 2");
    EXPECT_EQ(error_of([&] { read_csv_file(s.file("m.csv", "a,b\n1,\"2\"x\n")); }), s.path("m.csv") + ":2: malformed quoted field");
    EXPECT_EQ(error_of([&] { read_csv_file(s.file("u.csv", "a,b\n1,\"2\n3,4\n")); }),
              s.path("u.csv") + ":3: a quoted field is not closed");
    const lpfit::CsvFile twice = read_csv_file(s.file("t.csv", "a,a\n1,2\n"));
    EXPECT_EQ(error_of([&] { twice.column("a"); }), s.path("t.csv") + ": the header names column 'a' twice");
    EXPECT_EQ(error_of([&] { twice.column("b"); }), s.path("t.csv") + ": no column 'b' in the header");
}

TEST(CsvCells, MissingNumbersAndText)
{
    for (const char* cell : {"", "  ", "NA", " NA "}) EXPECT_TRUE(lpfit::is_missing(cell)) << "'" << cell << "'";
    for (const char* cell : {"0", "na", "NaN", "N/A"}) EXPECT_FALSE(lpfit::is_missing(cell)) << cell;
    double v = 0;
    for (const char* cell : {"abc", "1.5x", "1,5", "", "0x", "--1"}) EXPECT_FALSE(lpfit::parse_number(cell, v)) << cell;
    // What the tool writes for the values that are not finite reads back as them.
    EXPECT_TRUE(lpfit::parse_number("Inf", v) && v == HUGE_VAL);
    EXPECT_TRUE(lpfit::parse_number(" -Inf", v) && v == -HUGE_VAL);
    EXPECT_TRUE(lpfit::parse_number("NaN", v) && std::isnan(v));
    EXPECT_TRUE(lpfit::parse_number("1e999", v) && v == HUGE_VAL);  // beyond the doubles
    EXPECT_TRUE(lpfit::parse_number("4.9e-324", v));  // the smallest subnormal is a number
    EXPECT_EQ(v, 4.9e-324);

    Scratch s;
    const lpfit::CsvFile f = read_csv_file(s.file("c.csv", "a,b\n1.5,NA\nx,\n"));
    EXPECT_EQ(lpfit::cell_value(f, 0, 0), 1.5);
    EXPECT_TRUE(std::isnan(lpfit::cell_value(f, 0, 1)));
    EXPECT_TRUE(std::isnan(lpfit::cell_value(f, 1, 1)));
    EXPECT_EQ(error_of([&] { lpfit::cell_value(f, 1, 0); }), s.path("c.csv") + ":3: column 1 'a': 'x' is not a number");
}

TEST(CsvTable, AHeaderAndARowPerPoint)
{
    lpfit::Table t;
    t.names = {"x", "level, in m", "n\"q"};
    t.columns = {{1, 2}, {0.1234567, HUGE_VAL}, {NAN, -0.5}};
    EXPECT_EQ(lpfit::csv_text(t, 4), "x,\"level, in m\",\"n\"\"q\"\n1,0.1235,NaN\n2,Inf,-0.5\n");
    EXPECT_EQ(lpfit::csv_text(lpfit::Table{{"h"}, {{}}}, 17), "h\n");
}

TEST(CsvNumbers, SeventeenDigitsRoundTripAndSpecialValuesReadBack)
{
    std::mt19937_64 gen(7);
    std::uniform_int_distribution<unsigned long long> bits;
    for (int k = 0; k < 20000; ++k) {
        unsigned long long b = bits(gen);
        double v;
        std::memcpy(&v, &b, sizeof v);
        if (!std::isfinite(v)) continue;
        EXPECT_TRUE(same_bits(std::strtod(lpfit::format_number(v, 17).c_str(), nullptr), v)) << lpfit::format_number(v, 17);
    }
    EXPECT_EQ(lpfit::format_number(std::numeric_limits<double>::quiet_NaN(), 17), "NaN");
    EXPECT_EQ(lpfit::format_number(-std::numeric_limits<double>::quiet_NaN(), 17), "NaN");
    EXPECT_EQ(lpfit::format_number(HUGE_VAL, 17), "Inf");
    EXPECT_EQ(lpfit::format_number(-HUGE_VAL, 17), "-Inf");
    EXPECT_EQ(lpfit::format_number(0.123456789, 4), "0.1235");
}

TEST(StagedFile, ReplacesTheFileOnlyWhenCommitted)
{
    Scratch s;
    const std::string path = s.file("out.csv", "old\n");
    {
        lpfit::StagedFile f(path);
        f.write("new\n");
        EXPECT_EQ(slurp(path), "old\n");
    }  // not committed: the old file stays, the temporary goes
    EXPECT_EQ(slurp(path), "old\n");
    EXPECT_EQ(std::system(("test $(ls '" + s.dir + "' | wc -l) -eq 1").c_str()), 0);
    {
        lpfit::StagedFile f(path);
        f.write("new\n");
        f.commit();
    }
    EXPECT_EQ(slurp(path), "new\n");
    EXPECT_NE(error_of([&] { lpfit::StagedFile(s.path("no/such/dir.csv")); }).find("cannot write"), std::string::npos);
}
