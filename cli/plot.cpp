// gnuplot scripts for the pictures, fed to gnuplot on its standard input.
#include "cli/plot.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "cli/csv.h"

namespace lpfit {

namespace {

// s as a gnuplot single-quoted string, in which only '' needs escaping.
std::string quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

std::string num(double v) { return format_number(v, 10); }

double at(const std::vector<double>& v, std::size_t j) { return v.empty() ? NAN : v[j]; }

// Columns of the fit's data block: 1 t, 2 level, 3-4 level -+ 2 sd, 5-6 the
// level's interval, 7 density, 8 slope, 9-10 its interval, 11... groups.
std::string blocks(const Picture& pic)
{
    std::ostringstream s;
    s << "$fit << EOD\n";
    for (std::size_t j = 0; j < pic.t.size(); ++j) {
        const double sd = at(pic.sd, j);
        s << num(pic.t[j]) << ' ' << num(pic.level[j]) << ' ' << num(pic.level[j] - 2 * sd) << ' '
          << num(pic.level[j] + 2 * sd) << ' ' << num(at(pic.lower, j)) << ' ' << num(at(pic.upper, j)) << ' '
          << num(pic.density[j]) << ' ' << num(at(pic.slope, j)) << ' ' << num(at(pic.slope_lower, j)) << ' '
          << num(at(pic.slope_upper, j));
        for (const std::vector<double>& g : pic.groups) s << ' ' << num(g[j]);
        s << '\n';
    }
    s << "EOD\n$data << EOD\n";
    for (std::size_t i = 0; i < pic.x.size(); ++i) s << num(pic.x[i]) << ' ' << num(pic.y[i]) << '\n';
    s << "EOD\n";
    return s.str();
}

// The range [lo, hi] of the finite values of the vectors, widened by 5%.
void range(std::initializer_list<const std::vector<double>*> vs, double& lo, double& hi)
{
    for (const std::vector<double>* v : vs)
        for (double e : *v)
            if (std::isfinite(e)) lo = std::min(lo, e), hi = std::max(hi, e);
    if (!(lo <= hi)) lo = 0, hi = 1;
    const double pad = 0.05 * (hi - lo > 0 ? hi - lo : 1.0);
    lo -= pad, hi += pad;
}

// The panels, drawn once for each terminal. The upper panel's y range is that
// of the middle 99% of the responses widened to hold the fit and its
// interval, so that a few extreme observations do not flatten the functions.
std::string panels(const Picture& pic)
{
    std::vector<double> ys(pic.y);
    std::sort(ys.begin(), ys.end());
    double ylo = ys.empty() ? INFINITY : ys[ys.size() / 200], yhi = ys.empty() ? -INFINITY : ys[ys.size() - 1 - ys.size() / 200];
    range({&pic.level, &pic.lower, &pic.upper}, ylo, yhi);
    // Room above the densities for the key.
    double dmax = 0;
    for (double v : pic.density) dmax = std::isfinite(v) ? std::max(dmax, v) : dmax;
    for (const std::vector<double>& g : pic.groups)
        for (double v : g) dmax = std::isfinite(v) ? std::max(dmax, v) : dmax;
    if (!(dmax > 0)) dmax = 1;
    // Screen heights of the panels: the fit, the derivative, the density.
    const double top = 0.86, fit_bottom = pic.derivative ? 0.56 : 0.42;
    std::ostringstream s;
    s << "set multiplot\n"
         "set lmargin at screen 0.11\nset rmargin at screen 0.97\n"
         "set tmargin at screen " << top << "\nset bmargin at screen " << fit_bottom << "\n"
         "set label 1 " << quoted(pic.title) << " at screen 0.54, screen 0.97 center\n"
         "set xrange [" << num(pic.t.front()) << ":" << num(pic.t.back()) << "]\n"
         "set yrange [" << num(ylo) << ":" << num(yhi) << "]\n"
         "unset xlabel\nset format x ''\nset ylabel " << quoted(pic.ylabel) << "\n"
         "set key at screen 0.54, screen 0.915 center center horizontal maxrows 2 samplen 2 width 2\n"
         "set grid lc rgb '#e0e0e0'\n"
         "plot $data using 1:2 with points pt 7 ps " << (pic.x.size() < 500 ? "0.6 lc rgb '#808080'" : "0.35 lc rgb '#a8a8a8'")
      << " title 'observations'";
    if (!pic.sd.empty())
        s << ", \\\n  $fit using 1:3:4 with filledcurves fc rgb '#4a90d9' fs transparent solid 0.22 noborder "
             "title 'mean ± 2 conditional sd (volatility)'";
    if (!pic.lower.empty())
        s << ", \\\n  $fit using 1:5:6 with filledcurves fc rgb '#d9534f' fs transparent solid 0.45 noborder "
             "title " << quoted(pic.band);
    s << ", \\\n  $fit using 1:2 with lines lw 2.5 lc rgb '#0b3d91' title 'conditional mean'";
    if (!pic.sd.empty())
        s << ", \\\n  $fit using 1:3 with lines lw 1 dt 2 lc rgb '#2a6fb9' notitle"
             ", \\\n  $fit using 1:4 with lines lw 1 dt 2 lc rgb '#2a6fb9' notitle";
    s << "\nunset label 1\n";
    if (pic.derivative) {
        double dlo = INFINITY, dhi = -INFINITY;
        range({&pic.slope, &pic.slope_lower, &pic.slope_upper}, dlo, dhi);
        s << "set tmargin at screen 0.52\nset bmargin at screen 0.32\n"
             "set yrange [" << num(dlo) << ":" << num(dhi) << "]\nset ylabel " << quoted(pic.slope_label) << "\n"
             "set key default\nset key inside top right opaque box samplen 2\n"
             "plot ";
        if (!pic.slope_lower.empty())
            s << "$fit using 1:9:10 with filledcurves fc rgb '#d9534f' fs transparent solid 0.45 noborder title "
              << quoted(pic.slope_band) << ", \\\n  ";
        s << "$fit using 1:8 with lines lw 2 lc rgb '#0b3d91' title 'first derivative', \\\n"
             "  0 with lines lw 1 lc rgb '#808080' notitle\n";
    }
    s << "set tmargin at screen " << (pic.derivative ? 0.28 : 0.38) << "\nset bmargin at screen 0.09\n"
         "set format x '%g'\nset xlabel " << quoted(pic.xlabel) << "\nset ylabel 'density'\n"
         "set yrange [0:" << num(1.4 * dmax) << "]\nset key default\nset key inside top right opaque box samplen 2 maxrows 3\n"
         "plot $fit using 1:7 with lines lw 2.5 lc rgb 'black' title 'all observations'";
    static const char* const colours[] = {"#d62728", "#2ca02c", "#1f77b4", "#ff7f0e", "#9467bd",
                                          "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};
    for (std::size_t g = 0; g < pic.groups.size(); ++g)
        s << ", \\\n  $fit using 1:" << 11 + g << " with lines lw 1.3 lc rgb '" << colours[g % 10]
          << "' title " << quoted(pic.group_names[g]);
    s << "\nunset multiplot\n";
    return s.str();
}

// The script that draws `body` once into each of the two files.
std::string both_terminals(const std::string& data, const std::string& body, const std::string& svg, const std::string& png,
                           int height)
{
    return data + "set terminal svg size 900," + std::to_string(height) +
           " dynamic noenhanced font 'DejaVu Sans,13' background rgb 'white'\n"
           "set output " + quoted(svg) + "\n" + body +
           "set terminal pngcairo size 1100," + std::to_string(height * 11 / 9) +
           " noenhanced font 'DejaVu Sans,12' background rgb 'white'\n"
           "set output " + quoted(png) + "\n" + body + "set output\n";
}

}  // namespace

std::string picture_script(const Picture& pic, const std::string& svg, const std::string& png)
{
    return both_terminals(blocks(pic), panels(pic), svg, png, pic.derivative ? 900 : 720);
}

std::string criterion_script(const Criterion& c, const std::string& svg, const std::string& png)
{
    std::ostringstream data;
    std::size_t curve = 0, tried = 0;
    double best = NAN;  // the chosen bandwidth's score, when it was scored
    data << "$curve << EOD\n";
    for (std::size_t k = 0; k < c.h.size(); ++k)
        if (std::isfinite(c.score[k]) && c.h[k] > 0) {
            data << num(c.h[k]) << ' ' << num(c.score[k]) << '\n', ++curve;
            if (c.h[k] == c.chosen) best = c.score[k];
        }
    data << "EOD\n$tried << EOD\n";
    for (std::size_t k = 0; k < c.tried_h.size(); ++k)
        if (std::isfinite(c.tried_score[k]) && c.tried_h[k] > 0) {
            data << num(c.tried_h[k]) << ' ' << num(c.tried_score[k]) << '\n', ++tried;
            if (c.tried_h[k] == c.chosen) best = c.tried_score[k];
        }
    data << "EOD\n$chosen << EOD\n" << num(c.chosen) << ' ' << num(best) << "\nEOD\n";
    if (curve + tried == 0) return "";
    std::ostringstream s;
    s << "set title " << quoted(c.title) << "\nset xlabel " << quoted(c.xlabel) << "\nset ylabel " << quoted(c.ylabel)
      << "\nset logscale x\nset format y '%.4g'\nset grid lc rgb '#e0e0e0'\n"
         "set key outside bottom center horizontal samplen 2\n"
         "set arrow 1 from " << num(c.chosen) << ", graph 0 to " << num(c.chosen)
      << ", graph 1 nohead lw 1.5 dt 2 lc rgb '#d62728'\nplot ";
    std::string sep;
    if (curve > 0) s << "$curve using 1:2 with lines lw 2 lc rgb '#0b3d91' title 'criterion'", sep = ", \\\n  ";
    if (tried > 0)
        s << sep << "$tried using 1:2 with " << (curve > 0 ? "points" : "linespoints lw 1.5")
          << " pt 7 ps 0.8 lc rgb '#0b3d91' title 'bandwidths tried'", sep = ", \\\n  ";
    // The choice: a circle on its score when it was one of the bandwidths
    // tried, and the dashed line at it in any case.
    const std::string key = quoted("chosen h = " + format_number(c.chosen, 6));
    if (std::isfinite(best))
        s << sep << "$chosen using 1:2 with points pt 6 ps 2 lw 2 lc rgb '#d62728' title " << key;
    else
        s << sep << "NaN with lines lw 1.5 dt 2 lc rgb '#d62728' title " << key;
    s << "\nunset arrow 1\n";
    return both_terminals(data.str(), s.str(), svg, png, 600);
}

bool gnuplot_found() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

void run_gnuplot(const std::string& script)
{
    std::FILE* gp = popen("gnuplot", "w");
    if (gp == nullptr) throw InputError("cannot start gnuplot");
    const bool written = std::fwrite(script.data(), 1, script.size(), gp) == script.size();
    const int status = pclose(gp);
    if (!written || status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw InputError("gnuplot could not draw the picture");
}

}  // namespace lpfit
