// The progress line on a clock of the test's own, and the pictures' scripts
// with and without the intervals and curves that the core may or may not give.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/plot.h"
#include "cli/progress.h"

namespace {

// A painter whose clock and output the test holds.
struct Screen {
    double t = 0;
    std::string text;
    lpfit::Painter painter;
    explicit Screen(bool enabled = true)
        : painter(enabled, [this] { return t; }, [this](const std::string& s) { text += s; })
    {
    }
};

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t k = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++k;
    return k;
}

lpfit::Picture picture(std::size_t m)
{
    lpfit::Picture p;
    p.title = "a fit";
    p.xlabel = "x_1";
    p.ylabel = "y";
    for (std::size_t j = 0; j < m; ++j) {
        p.t.push_back(static_cast<double>(j));
        p.level.push_back(std::sin(0.1 * static_cast<double>(j)));
        p.density.push_back(0.1);
        p.x.push_back(static_cast<double>(j));
        p.y.push_back(0.5);
    }
    return p;
}

}  // namespace

TEST(Painter, DrawsOnlyAfterTwoSecondsAndAtMostFourTimesASecond)
{
    Screen s;
    s.painter.step("fit", 1, 10);
    s.t = 1.9;
    s.painter.step("fit", 2, 10);
    EXPECT_EQ(s.text, "");
    s.t = 2.0;
    s.painter.step("fit", 3, 10);
    EXPECT_EQ(s.text, "\rlpfit: fitting 3/10");
    s.t = 2.1;
    s.painter.step("fit", 4, 10);
    EXPECT_EQ(count(s.text, "\r"), 1u);
    s.t = 2.3;
    s.painter.step("fit", 10, 10);
    EXPECT_EQ(count(s.text, "\r"), 2u);
    s.painter.clear();
    EXPECT_EQ(s.text.substr(s.text.rfind("fitting 10/10") + 13), "\r" + std::string(20, ' ') + "\r");
    s.painter.clear();  // nothing more to clear
    EXPECT_EQ(count(s.text, "\r"), 4u);
}

TEST(Painter, CountsTheFitsOfABandwidthSelectionAndPadsShorterLines)
{
    Screen s;
    s.t = 5;
    s.painter.step("bandwidth", 10, 16);
    s.t = 6;
    s.painter.step("bandwidth", 2, 16);  // the next candidate's fit
    EXPECT_NE(s.text.find("\rlpfit: choosing the bandwidth, fit 1: 10/16"), std::string::npos);
    EXPECT_NE(s.text.find("\rlpfit: choosing the bandwidth, fit 2: 2/16"), std::string::npos);
    s.t = 7;
    s.painter.step("fit", 1, 4);
    // The shorter line covers the longer one before it.
    EXPECT_NE(s.text.find("\rlpfit: fitting 1/4" + std::string(25, ' ')), std::string::npos) << s.text;
}

TEST(Painter, DisabledDrawsNothing)
{
    Screen s(false);
    s.t = 100;
    s.painter.step("fit", 1, 2);
    s.painter.clear();
    EXPECT_EQ(s.text, "");
}

TEST(PictureScript, DrawsTheIntervalsAndTheDerivativeOnlyWhenGiven)
{
    lpfit::Picture p = picture(5);
    const std::string plain = lpfit::picture_script(p, "a.svg", "a.png");
    EXPECT_EQ(count(plain, "filledcurves"), 0u);
    EXPECT_EQ(count(plain, "first derivative"), 0u);
    EXPECT_NE(plain.find("set ylabel 'y'"), std::string::npos);
    EXPECT_NE(plain.find("noenhanced"), std::string::npos);  // x_1 is not a subscript

    p.lower.assign(5, -1);
    p.upper.assign(5, 1);
    p.band = "95% robust bias-corrected confidence interval";
    p.derivative = true;
    p.slope.assign(5, 0.3);
    p.slope_label = "d1_x";
    const std::string with = lpfit::picture_script(p, "a.svg", "a.png");
    EXPECT_EQ(count(with, "title '95% robust bias-corrected confidence interval'"), 2u);  // once per terminal
    EXPECT_EQ(count(with, "title 'first derivative'"), 2u);
    EXPECT_EQ(count(with, "filledcurves"), 2u);  // the derivative's interval is absent
    p.slope_lower.assign(5, 0.1);
    p.slope_upper.assign(5, 0.5);
    p.slope_band = p.band;
    EXPECT_EQ(count(lpfit::picture_script(p, "a.svg", "a.png"), "filledcurves"), 4u);

    p.groups = {std::vector<double>(5, 0.1), std::vector<double>(5, 0.2)};
    p.group_names = {"Monday", "Tuesday"};
    const std::string groups = lpfit::picture_script(p, "a.svg", "a.png");
    EXPECT_EQ(count(groups, "title 'Tuesday'"), 2u);
    // A name with a quote stays one gnuplot string.
    p.ylabel = "it's";
    EXPECT_NE(lpfit::picture_script(p, "a.svg", "a.png").find("set ylabel 'it''s'"), std::string::npos);
}

TEST(CriterionScript, TheCurveOrTheBandwidthsTriedWithTheChoiceMarked)
{
    lpfit::Criterion c;
    c.title = "t";
    c.chosen = 2;
    EXPECT_EQ(lpfit::criterion_script(c, "c.svg", "c.png"), "");  // nothing to draw
    c.tried_h = {1, 2, 4, 0.5};
    c.tried_score = {3, 2, 5, HUGE_VAL};  // a failed fit scores +inf and is left out
    const std::string tried = lpfit::criterion_script(c, "c.svg", "c.png");
    EXPECT_NE(tried.find("$tried << EOD\n1 3\n2 2\n4 5\nEOD\n"), std::string::npos) << tried;
    EXPECT_NE(tried.find("$chosen << EOD\n2 2\nEOD\n"), std::string::npos) << tried;
    EXPECT_EQ(count(tried, "title 'chosen h = 2'"), 2u);
    EXPECT_EQ(count(tried, "'criterion'"), 0u);
    EXPECT_NE(tried.find("set logscale x"), std::string::npos);
    c.h = {1, 1.5, 2, 3, 4};
    c.score = {3, 2.4, 2, NAN, 5};
    const std::string curve = lpfit::criterion_script(c, "c.svg", "c.png");
    EXPECT_NE(curve.find("$curve << EOD\n1 3\n1.5 2.4\n2 2\n4 5\nEOD\n"), std::string::npos) << curve;
    EXPECT_EQ(count(curve, "title 'criterion'"), 2u);
    // A choice that was not among the scores tried is marked by its line alone.
    c.chosen = 1.7;
    EXPECT_NE(lpfit::criterion_script(c, "c.svg", "c.png").find("$chosen << EOD\n1.7 NaN\nEOD\n"), std::string::npos);
}
