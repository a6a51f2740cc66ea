// One host process calling each export 100000 times on small data, from the
// real shared libraries: ordinary fits, groups, a refusal after the working
// storage is taken and a failed conditioning point. The peak resident size
// must not move between the first thousand calls and the last, and every
// call must give the bits of the first.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "exports/problems.h"
#include "support.h"

namespace {

// Peak resident set size of this process, in KiB.
long peak_kib()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 20, '\n');
    }
    return value;
}

struct Job {
    std::string name;
    host::Problem pr;
    host::Outcome first;
    host::Outcome out;
};

}  // namespace

TEST(Soak, HundredThousandCallsPerExportKeepAFlatFootprint)
{
    std::vector<Job> jobs;
    host::Problem a = random_problem(30, 1, 1, 3, 1);
    a.vol = 1;
    jobs.push_back({"dorvane", a, {}, {}});
    host::Problem b = random_problem(30, 2, 1, 3, 2);
    b.deg = 3, b.vol = 1, b.grp[0] = 3, b.grp[1] = 1;
    jobs.push_back({"tremsal", b, {}, {}});
    host::Problem c = random_problem(30, 2, 2, 2, 3);
    c.deg = 3, c.lam = 2, c.nloo = 1, c.nr = 29;  // storage taken, then the leave-one-out refusal
    jobs.push_back({"locparg", c, {}, {}});
    host::Problem d = random_problem(30, 2, 2, 3, 4);
    d.deg = 2, d.lam = 1;
    jobs.push_back({"locpa2g", d, {}, {}});
    jobs.push_back({"dorvane", extrapolated({300.0, 2000.0}), {}, {}});  // fails at the second point

    constexpr long calls = 100000, early = 1000;
    long kib_early = 0, differ = 0;
    // The library's lines go to /dev/null: a soak is about memory.
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    ASSERT_GE(null, 0);
    dup2(null, 1);
    for (long k = 1; k <= calls; ++k) {
        for (Job& job : jobs) {
            host::Problem& pr = job.pr;
            if (k == 1) job.out = host::outputs(job.name, pr, -1.0);
            std::fill(job.out.mh.begin(), job.out.mh.end(), -1.0);
            std::fill(job.out.sh.begin(), job.out.sh.end(), -1.0);
            std::fill(job.out.fh.begin(), job.out.fh.end(), 0.0);
            job.out.ret = host::invoke(deliverable(job.name), job.name, pr, job.out.mh.data(), job.out.sh.data(),
                                       job.out.fh.data());
            if (k == 1) job.first = job.out;
            else if (!same_bits(job.out.mh, job.first.mh) || !same_bits(job.out.fh, job.first.fh))
                ++differ;
        }
        if (k == early) kib_early = peak_kib();
    }
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
    const long kib_late = peak_kib();

    EXPECT_EQ(differ, 0);
    for (const Job& job : jobs) EXPECT_EQ(job.out.ret, 0) << job.name;
    const long page_kib = sysconf(_SC_PAGESIZE) / 1024;
    EXPECT_LE(kib_late - kib_early, 2 * page_kib) << "peak resident size grew";
    std::printf("soak: %ld calls of each export (%zu jobs); peak resident size %ld KiB after %ld, %ld KiB after %ld\n",
                calls, jobs.size(), kib_early, early, kib_late, calls);
}
