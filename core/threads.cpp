// Starting and joining the core's worker threads.
#include "core/threads.h"

#include <vector>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <thread>
#include <unistd.h>
#endif

namespace lpc {

#if defined(_WIN32)

int processors()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

namespace {

struct Start {
    const std::function<void(int)>* work;
    int k;
};

unsigned __stdcall start(void* arg)
{
    const auto* s = static_cast<const Start*>(arg);
    (*s->work)(s->k);
    return 0;
}

}  // namespace

void together(int threads, const std::function<void(int)>& work)
{
    std::vector<Start> args(static_cast<std::size_t>(threads > 1 ? threads : 1));
    std::vector<HANDLE> started;
    for (int k = 1; k < threads; ++k) {
        args[static_cast<std::size_t>(k)] = Start{&work, k};
        const auto h = _beginthreadex(nullptr, 0, start, &args[static_cast<std::size_t>(k)], 0, nullptr);
        if (h == 0) break;  // fewer threads do the same work
        started.push_back(reinterpret_cast<HANDLE>(h));
    }
    work(0);
    for (HANDLE h : started) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
}

#else

int processors()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

void together(int threads, const std::function<void(int)>& work)
{
    std::vector<std::thread> started;
    for (int k = 1; k < threads; ++k) {
        try {
            started.emplace_back(work, k);
        } catch (...) {
            break;  // fewer threads do the same work
        }
    }
    work(0);
    for (std::thread& t : started) t.join();
}

#endif

}  // namespace lpc
