// Helpers shared by the test executables.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "calls.h"

// The statement must end the process with status 1 and a line on standard
// error matching `pattern`.
#define EXPECT_FATAL(statement, pattern) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), pattern)

// The same bits, NaN included: a NaN equals only a NaN of the same bits.
inline bool same_bits(double a, double b)
{
    std::uint64_t u, v;
    std::memcpy(&u, &a, sizeof u);
    std::memcpy(&v, &b, sizeof v);
    return u == v;
}
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Starts body(arg) on a thread of its own with a call stack of `stack` bytes
// (0: the system's default size); null when no thread can be started. POSIX or
// Win32 threads directly: MinGW's win32 thread model has no std::thread.
//
// On Windows the thread starts with its creator's x87 control word: Windows
// gives new threads 53-bit precision where MinGW's start-up code set 64 bits
// for the main thread, and what depends on that has a test of its own
// (WindowsHost.ResultsIgnoreTheCallersX87Precision).
void* start_thread(void (*body)(void*), void* arg, std::size_t stack);
// Waits for a thread of start_thread to end.
void join_thread(void* thread);

// Runs f() on a thread of its own (start_thread); the destructor waits for it.
template <class F>
class TestThread {
public:
    explicit TestThread(F f, std::size_t stack = 0) : body(std::move(f)), thread(start_thread(run, &body, stack))
    {
        EXPECT_NE(thread, nullptr) << "cannot start a thread";
    }
    ~TestThread()
    {
        if (thread != nullptr) join_thread(thread);
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

private:
    static void run(void* arg) { (*static_cast<F*>(arg))(); }
    F body;
    void* thread;
};
