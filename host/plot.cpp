// gnuplot script for the picture of a fit, fed to gnuplot on its standard input.
#include "host/plot.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "host/csv.h"

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

// Columns of the fit's data block: t, level, level ± 2 sd, band, density, groups.
std::string fit_block(const Picture& pic)
{
    std::ostringstream s;
    s << "$fit << EOD\n";
    for (std::size_t j = 0; j < pic.t.size(); ++j) {
        const double sd = pic.sd.empty() ? NAN : pic.sd[j];
        s << num(pic.t[j]) << ' ' << num(pic.level[j]) << ' ' << num(pic.level[j] - 2 * sd) << ' '
          << num(pic.level[j] + 2 * sd) << ' ' << num(pic.ci_lower.empty() ? NAN : pic.ci_lower[j]) << ' '
          << num(pic.ci_upper.empty() ? NAN : pic.ci_upper[j]) << ' ' << num(pic.density[j]);
        for (const std::vector<double>& g : pic.groups) s << ' ' << num(g[j]);
        s << '\n';
    }
    s << "EOD\n$data << EOD\n";
    for (std::size_t i = 0; i < pic.x.size(); ++i) s << num(pic.x[i]) << ' ' << num(pic.y[i]) << '\n';
    s << "EOD\n";
    return s.str();
}

// The two panels, drawn once for each terminal. The upper panel's y range is
// that of the middle 99% of the responses widened to hold the fit, so that a
// few extreme observations do not flatten the functions.
std::string panels(const Picture& pic, double ylo, double yhi)
{
    // Room above the densities for the key.
    double dmax = 0;
    for (double v : pic.density) dmax = std::isfinite(v) ? std::max(dmax, v) : dmax;
    for (const std::vector<double>& g : pic.groups)
        for (double v : g) dmax = std::isfinite(v) ? std::max(dmax, v) : dmax;
    if (!(dmax > 0)) dmax = 1;
    std::ostringstream s;
    s << "set multiplot\n"
         "set lmargin at screen 0.11\nset rmargin at screen 0.97\n"
         "set tmargin at screen 0.86\nset bmargin at screen 0.42\n"
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
    if (!pic.ci_lower.empty())
        s << ", \\\n  $fit using 1:5:6 with filledcurves fc rgb '#d9534f' fs transparent solid 0.45 noborder "
             "title " << quoted(num(100 * pic.conf) + "% pointwise confidence band");
    s << ", \\\n  $fit using 1:2 with lines lw 2.5 lc rgb '#0b3d91' title 'conditional mean'";
    if (!pic.sd.empty())
        s << ", \\\n  $fit using 1:3 with lines lw 1 dt 2 lc rgb '#2a6fb9' notitle"
             ", \\\n  $fit using 1:4 with lines lw 1 dt 2 lc rgb '#2a6fb9' notitle";
    s << "\nunset label 1\n"
         "set tmargin at screen 0.38\nset bmargin at screen 0.09\n"
         "set format x '%g'\nset xlabel " << quoted(pic.xlabel) << "\nset ylabel 'density'\n"
         "set yrange [0:" << num(1.4 * dmax) << "]\nset key default\nset key inside top right opaque box samplen 2 maxrows 3\n"
         "plot $fit using 1:7 with lines lw 2.5 lc rgb 'black' title 'all observations'";
    static const char* const colours[] = {"#d62728", "#2ca02c", "#1f77b4", "#ff7f0e", "#9467bd",
                                          "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};
    for (std::size_t g = 0; g < pic.groups.size(); ++g)
        s << ", \\\n  $fit using 1:" << 8 + g << " with lines lw 1.3 lc rgb '" << colours[g % 10]
          << "' title " << quoted(pic.group_names[g]);
    s << "\nunset multiplot\n";
    return s.str();
}

}  // namespace

bool gnuplot_found() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

void draw(const Picture& pic, const std::string& svg, const std::string& png)
{
    std::vector<double> ys(pic.y);
    std::sort(ys.begin(), ys.end());
    double ylo = ys.empty() ? 0 : ys[ys.size() / 200], yhi = ys.empty() ? 1 : ys[ys.size() - 1 - ys.size() / 200];
    for (std::size_t j = 0; j < pic.level.size(); ++j)
        for (double v : {pic.level[j], pic.ci_lower.empty() ? NAN : pic.ci_lower[j], pic.ci_upper.empty() ? NAN : pic.ci_upper[j]})
            if (std::isfinite(v)) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
    const double pad = 0.05 * (yhi - ylo > 0 ? yhi - ylo : 1.0);

    std::string script = fit_block(pic);
    script += "set terminal svg size 900,720 dynamic enhanced font 'DejaVu Sans,13' background rgb 'white'\n"
              "set output " + quoted(svg) + "\n" + panels(pic, ylo - pad, yhi + pad) +
              "set terminal pngcairo size 1100,880 enhanced font 'DejaVu Sans,12' background rgb 'white'\n"
              "set output " + quoted(png) + "\n" + panels(pic, ylo - pad, yhi + pad) + "set output\n";

    std::FILE* gp = popen("gnuplot", "w");
    if (gp == nullptr) throw InputError("cannot start gnuplot");
    const bool written = std::fwrite(script.data(), 1, script.size(), gp) == script.size();
    const int status = pclose(gp);
    if (!written || status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw InputError("gnuplot could not draw the picture");
}

}  // namespace lpfit
