// Fits at many points: the evaluation points split into slices, each slice one
// call of the engine on a worker thread, reassembled in point order. Every
// point's fit depends on the data and that point alone, so the slices give
// the bits of one call over all points, whatever the thread count.
#pragma once

#include <string>
#include <vector>

#include "core/design.h"
#include "include/lpcore.h"

namespace lpc {

// The front end's progress function, called on the running thread only.
class Progress {
public:
    Progress(lpc_progress fn, void* ctx) : fn(fn), ctx(ctx) {}
    // Tells the front end; throws Error(LPC_ECANCELLED) when it asks to stop.
    void step(const char* stage, long long done, long long total);
    // True when steps should be reported at all.
    bool wanted() const { return fn != nullptr; }

private:
    lpc_progress fn;
    void* ctx;
};

// A line the engine wrote about a point (-1: about the whole call).
struct Message {
    long long point;
    std::string text;
};

// What a fit at m points left: mh and sh (m × B, sh only with vol), fh
// (m × F), the points that failed (NaN rows) and those refitted, in order,
// and the engine's lines in point order.
struct Run {
    std::size_t m = 0;
    std::vector<double> mh, sh, fh;
    std::vector<double> leverage;  // with Call::leverage: S_jj, the weight of observation j in its own fit
    std::vector<double> se;        // with Call::s2: m × B standard errors of the mh columns
    std::vector<double> df;        // with Call::s2: (Σw)²/Σw² - B, the residual degrees of freedom of each point
    std::vector<double> L;         // with Call::level_weights: m × n, level_j = Σ_i L[j + i·m] y_i
    std::vector<long long> failed, refitted;
    std::vector<Message> messages;
};

// How to call the engine for a run.
struct Call {
    std::vector<double> h;  // the pc bandwidths
    bool vol = false;
    bool loo = false;       // leave-one-out: the points are the observations
    bool density_groups = true;  // false: the density without its groups, when only the fit matters
    bool leverage = false;       // the points are the observations: S_jj of each
    // With s2, the variances σ̂_i² of the observations: the standard errors of
    // every output, from the sandwich A⁻¹ (Σ_i w_i² σ̂_i² z_i z_iᵀ) A⁻¹.
    const std::vector<double>* s2 = nullptr;
    bool level_weights = false;  // the level's linear weights at each point
};

// The density cells of given groups (d.group_of) at the points of r.
void group_densities(const Design& d, const Points& at, const Call& call, Run& r);

// The output factor of column c: n/nr for the level, slopes and dummies, 2
// for squares, 6 for cubes, 1 for cross terms.
double factor(const Design& d, std::size_t c);

// The kernel weight of observation i at the point t (pc coordinates) with
// bandwidths h and normaliser D, by the engine's own operations, so that it
// has the engine's bits.
double kernel_weight(const Design& d, std::size_t i, const double* t, const std::vector<double>& h, double D);

// The design row of observation i at its own point: 1, zeros for the centred
// regressors, its dummies, and every higher column as the product of its
// factors.
std::vector<double> own_row(const Design& d, std::size_t i);

// Fits the design at the points `at` with d.threads threads.
Run fit_points(const Design& d, const Points& at, const Call& call, Progress& progress, const char* stage);

// The prediction of y_i from row i of a run at the observations: the level
// plus each dummy effect times observation i's dummy.
double prediction(const Design& d, const Run& r, std::size_t i);

}  // namespace lpc
