// The pictures of the command-line tool, drawn by gnuplot: the fit of one
// continuous regressor over a scatter of the data, with its bands, on request
// the first derivative with its interval, and the kernel density in a panel
// below; and the criterion of a bandwidth selection against the bandwidth,
// with the choice marked.
#pragma once

#include <string>
#include <vector>

namespace lpfit {

struct Picture {
    std::string title, xlabel, ylabel;
    std::vector<double> x, y;                // the observations
    std::vector<double> t, level;            // the fit on a fine grid
    std::vector<double> sd;                  // conditional standard deviation at t (empty without vol)
    std::vector<double> lower, upper;        // the level's interval at t (empty when there is none)
    std::string band;                        // its key, "95% pointwise confidence band"
    bool derivative = false;                 // a panel for the first derivative
    std::vector<double> slope, slope_lower, slope_upper;  // at t; the interval may be empty
    std::string slope_label, slope_band;
    std::vector<double> density;              // at t
    std::vector<std::vector<double>> groups;  // group densities at t, one vector per group
    std::vector<std::string> group_names;
};

struct Criterion {
    std::string title, xlabel, ylabel;
    std::vector<double> h, score;               // the criterion's curve (may be empty)
    std::vector<double> tried_h, tried_score;   // the bandwidths scored by the selection
    double chosen = 0;                          // the bandwidth chosen
};

// The gnuplot script that draws `pic` into an SVG file and a PNG file.
std::string picture_script(const Picture& pic, const std::string& svg, const std::string& png);
// The same for the criterion; "" when it has no finite score to draw.
std::string criterion_script(const Criterion& c, const std::string& svg, const std::string& png);

// True when a gnuplot program is on the PATH.
bool gnuplot_found();
// Runs gnuplot on `script`; throws InputError when it fails.
void run_gnuplot(const std::string& script);

}  // namespace lpfit
