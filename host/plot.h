// The picture of a fit in one continuous regressor, drawn by gnuplot: the
// fitted function over a scatter of the data, its bands, and the kernel
// density in a panel below.
#pragma once

#include <string>
#include <vector>

namespace lpfit {

struct Picture {
    std::string title, xlabel, ylabel;
    std::vector<double> x, y;             // the observations
    std::vector<double> t, level;         // the fit on a fine grid
    std::vector<double> sd;               // conditional standard deviation at t (empty without vol)
    std::vector<double> ci_lower, ci_upper;  // confidence band (empty when there is none)
    double conf = 0.95;
    std::vector<double> density;              // at t
    std::vector<std::vector<double>> groups;  // group densities at t, one vector per group
    std::vector<std::string> group_names;
};

// True when a gnuplot program is on the PATH.
bool gnuplot_found();

// Draws `pic` into an SVG file and a PNG file (the paths gnuplot writes to);
// throws InputError when gnuplot fails.
void draw(const Picture& pic, const std::string& svg, const std::string& png);

}  // namespace lpfit
