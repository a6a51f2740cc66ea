// Eight host threads calling all four exports at once, from the real shared
// libraries, on different data: ordinary fits, groups, leave-one-out,
// refusals and a failed conditioning point among them. Every result must be,
// bit for bit, what the same call gives alone, and every line on the shared
// standard output must arrive whole. Built a third time under
// ThreadSanitizer, which reports any data race between the calls.
#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "exports/problems.h"
#include "support.h"

namespace {

struct Job {
    std::string name;
    host::Problem pr;
    host::Outcome alone;  // the call made by itself
};

std::vector<Job> jobs()
{
    std::vector<Job> j;
    auto add = [&j](const char* name, host::Problem pr) { j.push_back({name, std::move(pr), {}}); };
    for (unsigned s = 0; s < 3; ++s) {
        host::Problem a = random_problem(50 + 10 * s, 2, 2, 6, 100 + s);
        a.vol = 1;
        add("dorvane", a);
        host::Problem b = random_problem(60, 3, 2, 5, 110 + s);  // a dummy: warnings
        b.vol = 1;
        b.grp[0] = 4, b.grp[1] = 1 + s;
        b.deg = 3;
        add("tremsal", b);
        host::Problem c = random_problem(70, 2, 2, 5, 120 + s);
        c.deg = 3, c.lam = 1 + s % 2;
        add("locparg", c);
        host::Problem d = random_problem(70, 3, 3, 5, 130 + s);
        d.deg = 2, d.lam = 1 + s, d.vol = 1;
        add("locpa2g", d);
    }
    host::Problem loo = random_problem(40, 1, 1, 40, 140);
    loo.t = loo.x, loo.nloo = 1;
    add("dorvane", loo);
    host::Problem loo_refused = loo;
    loo_refused.nr = 39;
    add("tremsal", loo_refused);
    add("dorvane", extrapolated({100.0, 400.0, 2000.0, 600.0}));  // fails at the third point
    host::Problem lam0 = random_problem(30, 2, 2, 3, 150);
    lam0.deg = 3, lam0.lam = 0;
    add("locparg", lam0);
    host::Problem deg3 = lam0;
    deg3.lam = 1;
    add("locpa2g", deg3);
    host::Problem bad = random_problem(30, 2, 2, 3, 151);
    bad.nr = 31;
    add("dorvane", bad);
    return j;
}

// Each line of text with its count.
std::map<std::string, long> line_counts(const std::string& text, long times = 1)
{
    std::map<std::string, long> counts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) counts[line] += times;
    return counts;
}

}  // namespace

TEST(Concurrency, EightThreadsGiveTheResultsOfCallsMadeAlone)
{
    constexpr int threads = 8, calls = 300;
    std::vector<Job> work = jobs();
    std::map<std::string, long> expected;
    for (Job& job : work) job.alone = call_export(job.name, job.pr, -1.0);
    ASSERT_NE(work[work.size() - 4].alone.printed.find("t: sum of off-diagonal element"), std::string::npos);

    // Thread r makes calls r, r + threads, ... of the job list, over and over.
    std::vector<long> wrong(threads, 0);
    std::vector<std::thread> pool;
    std::string printed;
    {
        StdoutCapture capture;
        for (int r = 0; r < threads; ++r)
            pool.emplace_back([&, r] {
                for (int c = 0; c < calls; ++c) {
                    const Job& job = work[(r + c * threads + c / 7) % work.size()];
                    host::Problem pr = job.pr;
                    host::Outcome out = host::outputs(job.name, pr, -1.0);
                    out.ret = host::invoke(deliverable(job.name), job.name, pr, out.mh.data(), out.sh.data(),
                                           out.fh.data());
                    if (out.ret != 0 || !same_bits(out.mh, job.alone.mh) || !same_bits(out.sh, job.alone.sh) ||
                        !same_bits(out.fh, job.alone.fh))
                        ++wrong[r];
                }
            });
        for (std::thread& t : pool) t.join();
        printed = capture.finish();
    }
    for (int r = 0; r < threads; ++r) {
        EXPECT_EQ(wrong[r], 0) << "thread " << r;
        for (int c = 0; c < calls; ++c) {
            const Job& job = work[(r + c * threads + c / 7) % work.size()];
            for (const auto& [line, count] : line_counts(job.alone.printed)) expected[line] += count;
        }
    }
    // Every line whole, and each as often as the calls made alone print it.
    EXPECT_EQ(line_counts(printed), expected);
    EXPECT_FALSE(printed.empty());
    EXPECT_EQ(printed.back(), '\n');
}
