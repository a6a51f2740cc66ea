// What each kind of bad argument gets from the exports, called through the
// real shared libraries: the line printed and the state of the outputs. The
// test writes the table that README.md carries and fails when README's copy
// differs; LP_UPDATE_README=1 makes it rewrite that copy instead.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "exports/problems.h"
#include "support.h"

namespace {

constexpr double fill = -777.0;

struct Bad {
    const char* argument;  // as the README names it
    const char* value;
    const char* name;      // the export
    void (*spoil)(host::Problem&);
    bool null_x = false;   // pass a null pointer for x
};

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

const Bad bad[] = {
    {"`n`", "0", "dorvane", [](host::Problem& p) { p.n = 0; }},
    {"`n`", "2^32 (reads as 0)", "tremsal", [](host::Problem& p) { p.n = 4294967296.0; }},
    {"`n`", "NaN", "dorvane", [](host::Problem& p) { p.n = nan; }},
    {"`p`", "0.5 (reads as 0)", "dorvane", [](host::Problem& p) { p.p = 0.5; }},
    {"`nr`", "n + 1", "dorvane", [](host::Problem& p) { p.nr = p.n + 1; }},
    {"`nr`", "0", "locpa2g", [](host::Problem& p) { p.nr = 0; }},
    {"`m`", "-1", "dorvane", [](host::Problem& p) { p.m = -1; }},
    {"`deg`", "0", "tremsal", [](host::Problem& p) { p.deg = 0; }},
    {"`deg`", "-2^63", "dorvane", [](host::Problem& p) { p.deg = -9223372036854775808.0; }},
    {"`deg`", "2e9", "dorvane", [](host::Problem& p) { p.deg = 2e9; }},
    {"`vol`", "+Inf", "dorvane", [](host::Problem& p) { p.vol = inf; }},
    {"`grp`", "(3, 0): groups without a phase", "dorvane", [](host::Problem& p) { p.grp[0] = 3, p.grp[1] = 0; }},
    {"`grp[0]`", "NaN", "tremsal", [](host::Problem& p) { p.grp[0] = nan; }},
    {"`h[p-1]`", "-5 (more continuous regressors than p)", "dorvane", [](host::Problem& p) { p.h[1] = -5; }},
    {"`h[p-1]`", "-0.5 (no continuous regressor)", "dorvane", [](host::Problem& p) { p.h[1] = -0.5; }},
    {"`h[0]`", "-0.3", "tremsal", [](host::Problem& p) { p.h[0] = -0.3; }},
    {"`x`", "null pointer", "dorvane", nullptr, true},
    {"`sh`", "null pointer with `vol` = 1", "tremsal", [](host::Problem& p) { p.vol = 1; }},
    {"`nloo`", "1 with `nr` != n", "dorvane", [](host::Problem& p) { p.nloo = 1, p.nr = p.n - 1; }},
    {"`lam`", "0", "locparg", [](host::Problem& p) { p.deg = 3, p.lam = 0; }},
    {"`lam`", "3 (more than `pc` = 2)", "locparg", [](host::Problem& p) { p.deg = 3, p.lam = 3; }},
    {"`lam`", "-Inf", "locpa2g", [](host::Problem& p) { p.deg = 2, p.lam = -inf; }},
    {"`deg`", "2", "locparg", [](host::Problem& p) { p.deg = 2, p.lam = 1; }},
    {"`deg`", "3", "locpa2g", [](host::Problem& p) { p.deg = 3, p.lam = 1; }},
    {"`deg`", "1", "locpa2g", [](host::Problem& p) { p.deg = 1, p.lam = 1; }},
    {"`deg`", "4 with `lam` = 0", "locparg", [](host::Problem& p) { p.deg = 4, p.lam = 0; }},
    {"`lam`", "0 with `deg` = 2", "locpa2g", [](host::Problem& p) { p.deg = 2, p.lam = 0; }},
};

// The printed lines as one cell: each line in backticks, trailing blanks kept.
std::string cell(const std::string& printed)
{
    std::string out;
    std::istringstream in(printed);
    std::string line;
    while (std::getline(in, line)) out += (out.empty() ? "`" : "<br>`") + line + "`";
    return out.empty() ? "nothing" : out;
}

bool untouched(const host::Outcome& out)
{
    for (double v : out.mh)
        if (v != fill) return false;
    for (double v : out.sh)
        if (v != fill) return false;
    for (double v : out.fh)
        if (v != 0.0) return false;
    return true;
}

const char begin_mark[] = "<!-- bad-argument table: written by tests/exports/bad_input_test.cpp -->\n";
const char end_mark[] = "<!-- end of the bad-argument table -->\n";

}  // namespace

TEST(BadInput, EachKindGetsOneRefusalAndUntouchedOutputs)
{
    std::string table = "| Argument | Value | Export | Printed on standard output | Outputs |\n|---|---|---|---|---|\n";
    for (const Bad& b : bad) {
        host::Problem pr = random_problem(20, 2, 2, 3, 9);
        pr.grp[0] = 2, pr.grp[1] = 1;
        if (b.spoil) b.spoil(pr);
        host::Outcome out = host::outputs(b.name, pr, fill);
        const bool want_sh = std::string(b.argument) != "`sh`";
        {
            StdoutCapture capture;
            host::Problem call = pr;
            if (b.null_x) call.x = std::vector<double>();  // an empty vector's data() is null
            out.ret = host::invoke(deliverable(b.name), b.name, call, out.mh.data(), want_sh ? out.sh.data() : nullptr,
                                   out.fh.data());
            out.printed = capture.finish();
        }
        EXPECT_EQ(out.ret, 0) << b.argument << " = " << b.value;
        EXPECT_TRUE(untouched(out)) << b.argument << " = " << b.value;
        // A refusal is one line naming the export, or the two lines of the
        // leave-one-out admission.
        const bool loo = out.printed.rfind("You cannot use leave one out", 0) == 0;
        EXPECT_TRUE(loo || out.printed.rfind(std::string(b.name) + ": ", 0) == 0) << out.printed;
        EXPECT_EQ(std::count(out.printed.begin(), out.printed.end(), '\n'), loo ? 2 : 1) << out.printed;
        const std::string outputs = untouched(out) ? "untouched" : "written";
        table += std::string("| ") + b.argument + " | " + b.value + " | `" + b.name + "` | " + cell(out.printed) +
                 " | " + outputs + " |\n";
    }

#if !defined(_WIN32)  // README's copy is checked where the sources are: on the build machine
    std::ifstream in(LP_README);
    ASSERT_TRUE(in) << LP_README;
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string readme = whole.str();
    const std::size_t from = readme.find(begin_mark), to = readme.find(end_mark);
    ASSERT_NE(from, std::string::npos) << "README.md lacks the line " << begin_mark;
    ASSERT_NE(to, std::string::npos) << "README.md lacks the line " << end_mark;
    const std::size_t body = from + sizeof begin_mark - 1;
    if (std::getenv("LP_UPDATE_README") != nullptr) {
        std::ofstream(LP_README) << readme.substr(0, body) + table + readme.substr(to);
        return;
    }
    EXPECT_EQ(readme.substr(body, to - body), table)
        << "README.md's table of bad arguments is out of date; rewrite it with\n"
           "  LP_UPDATE_README=1 build/tests/export_tests --gtest_filter=BadInput.*";
#endif
}

// Regression: the host layer sized the outputs of deg = -2^63 by a 64-bit
// product that overflowed. It now reads every count as the libraries do.
TEST(BadInput, HostLayerSizesExtremeScalarsAsTheLibrariesReadThem)
{
    host::Problem pr = random_problem(20, 2, 2, 3, 9);
    pr.deg = -9223372036854775808.0;  // reads as 0
    EXPECT_EQ(host::output_columns("dorvane", pr), 1);
    pr.deg = 4294967296.0 + 3;  // reads as 3
    EXPECT_EQ(host::output_columns("tremsal", pr), 7);
    pr.m = 4294967296.0 + 2, pr.grp[0] = 1e300, pr.grp[1] = 1;  // m reads as 2, 1e300 as 0
    EXPECT_EQ(host::density_size(pr), 2u);
    pr.grp[0] = -4294967293.0;  // reads as 3
    EXPECT_EQ(host::density_size(pr), 8u);
}
