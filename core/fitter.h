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
};

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
