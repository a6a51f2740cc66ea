// From a CSV file to the columns of a fit: log returns and lags with their
// dates, missing cells, point files, calendar dates and weekday groups.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/csv.h"
#include "cli/data.h"
#include "cli/tool.h"

namespace {

template <class F>
std::string error_of(F f)
{
    try {
        f();
    } catch (const lpfit::InputError& e) {
        return e.what();
    }
    return "";
}

lpfit::Date date(const std::string& s)
{
    lpfit::Date d;
    EXPECT_TRUE(lpfit::parse_date(s, d)) << s;
    return d;
}

}  // namespace

TEST(Returns, LaggedDifferencesOfTheLogarithmsDatedByTheirDay)
{
    Scratch s;
    lpfit::Source src;
    src.path = s.file("p.csv", "day,P\n2024-03-01,100\n2024-03-04,110\n2024-03-05,99\n2024-03-06,99\n2024-03-07,120\n");
    src.returns = "P";
    src.lags = 2;
    src.date = "day";
    const lpfit::Data d = lpfit::load_data(src);
    // r(t) = log P(t) - log P(t-1) for t = 2 ... 5; observations t = 4, 5.
    const double r[] = {std::log(110.0) - std::log(100.0), std::log(99.0) - std::log(110.0), 0.0,
                        std::log(120.0) - std::log(99.0)};
    EXPECT_EQ(d.cont, (std::vector<std::string>{"lag1", "lag2"}));
    EXPECT_EQ(d.response, "P log return");
    ASSERT_EQ(d.n(), 2u);
    EXPECT_TRUE(same_bits(d.y, {r[2], r[3]}));
    EXPECT_TRUE(same_bits(d.xc[0], {r[1], r[2]}));
    EXPECT_TRUE(same_bits(d.xc[1], {r[0], r[1]}));
    ASSERT_EQ(d.dates.size(), 2u);
    EXPECT_EQ(d.dates[0].text(), "2024-03-06");
    EXPECT_EQ(d.lines, (std::vector<long>{5, 6}));

    // A missing price leaves the two returns that need it missing, for the
    // core to refuse or leave out; a price that is not positive has no logarithm.
    src.date.clear();
    src.lags = 1;
    src.path = s.file("m.csv", "P\n100\nNA\n102\n103\n104\n");
    const lpfit::Data m = lpfit::load_data(src);
    ASSERT_EQ(m.n(), 3u);
    EXPECT_TRUE(std::isnan(m.y[0]) && std::isnan(m.xc[0][0]) && std::isnan(m.xc[0][1]));
    EXPECT_FALSE(std::isnan(m.y[1]) || std::isnan(m.y[2]));
    src.path = s.file("z.csv", "P\n100\n0\n");
    EXPECT_EQ(error_of([&] { lpfit::load_data(src); }),
              s.path("z.csv") + ":3: column 1 'P': price 0 is not positive, so it has no logarithm");
    src.path = s.file("one.csv", "P\n100\n101\n");
    EXPECT_EQ(error_of([&] { lpfit::load_data(src); }), s.path("one.csv") + ": 1 return leaves no observation with 1 lag");
}

TEST(Columns, MissingCellsAreNaNAndTextIsRefusedWithItsPlace)
{
    Scratch s;
    lpfit::Source src;
    src.path = s.file("d.csv", "y,x,D\n1,0.5,0\nNA,,1\n3, Inf ,1\n");
    src.y = "y";
    src.x = {"x"};
    src.dummies = {"D"};
    const lpfit::Data d = lpfit::load_data(src);
    ASSERT_EQ(d.n(), 3u);
    EXPECT_TRUE(std::isnan(d.y[1]) && std::isnan(d.xc[0][1]));
    EXPECT_EQ(d.xc[0][2], HUGE_VAL);
    EXPECT_EQ(d.xd[0], (std::vector<double>{0, 1, 1}));
    src.path = s.file("t.csv", "y,x,D\n1,0.5,0\n2,one,1\n");
    EXPECT_EQ(error_of([&] { lpfit::load_data(src); }), s.path("t.csv") + ":3: column 2 'x': 'one' is not a number");

    // Point files: the named columns in their order, whatever the file's order.
    std::size_t rows = 0;
    const std::vector<double> at = lpfit::read_columns(s.file("at.csv", "b,a\n1,2\n3,NA\n"), {"a", "b"}, "points", rows);
    EXPECT_EQ(rows, 2u);
    ASSERT_EQ(at.size(), 4u);
    EXPECT_EQ(at[0], 2);
    EXPECT_TRUE(std::isnan(at[1]));
    EXPECT_EQ(at[2], 1);
    EXPECT_EQ(at[3], 3);
    EXPECT_EQ(error_of([&] { lpfit::read_columns(s.file("e.csv", "a\n"), {"a"}, "evaluation points", rows); }),
              s.path("e.csv") + ": no evaluation points below the header");
}

TEST(Dates, IsoCalendarDatesAndTheirWeekdays)
{
    EXPECT_EQ(date("1970-01-01").weekday(), 4);  // a Thursday
    EXPECT_EQ(date("1969-12-31").weekday(), 3);
    EXPECT_EQ(date("2024-01-01").weekday(), 1);
    EXPECT_EQ(date("2000-02-29").weekday(), 2);
    EXPECT_EQ(date("1600-03-01").weekday(), 3);
    EXPECT_EQ(date(" 2024-12-25 ").text(), "2024-12-25");
    EXPECT_EQ(date("2024-03-01").days() - date("2024-02-28").days(), 2);  // a leap year
    EXPECT_EQ(date("1900-03-01").days() - date("1900-02-28").days(), 1);  // not one
    EXPECT_EQ(date("1970-01-01").days(), 0);
    lpfit::Date d;
    for (const char* bad : {"2023-02-29", "1900-02-29", "2024-13-01", "2024-00-10", "2024-04-31", "24-01-01", "2024/01/01",
                            "01.02.2024", "2024-1-5", "2024-01-05T10:00", "", "NA"})
        EXPECT_FALSE(lpfit::parse_date(bad, d)) << bad;
    EXPECT_STREQ(lpfit::weekday_name(1), "Monday");
    EXPECT_STREQ(lpfit::weekday_name(7), "Sunday");
}

TEST(Weekdays, ThePhaseOfConsecutiveTradingDaysAndTheFirstDateThatBreaksThem)
{
    lpfit::Data d;
    d.source = "f.csv";
    d.xc.resize(1);
    auto add = [&](const char* day, double y = 1) {
        d.dates.push_back(date(day));
        d.y.push_back(y);
        d.xc[0].push_back(0.5);
        d.lines.push_back(static_cast<long>(d.y.size()) + 1);
    };
    // Thursday, Friday, then Tuesday after a Monday holiday.
    for (const char* day : {"2024-01-04", "2024-01-05", "2024-01-09"}) add(day);
    EXPECT_EQ(lpfit::weekday_groups(d), (std::vector<double>{4, 5, 2}));
    add("2024-01-13");  // a Saturday
    EXPECT_EQ(error_of([&] { lpfit::weekday_groups(d); }),
              "--groups weekday: f.csv:5: 2024-01-13, a Saturday: the weekday groups are Monday to Friday, so the dates "
              "must be trading days");
}
