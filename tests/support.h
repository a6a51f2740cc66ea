// Helpers shared by the test executables.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "host/loader.h"

// The statement must end the process with status 1 and a line on standard
// error matching `pattern`.
#define EXPECT_FATAL(statement, pattern) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), pattern)

// Runs f() and returns what it wrote to standard output.
template <class F>
std::string printed_by(F&& f)
{
    host::StdoutCapture capture;
    std::forward<F>(f)();
    return capture.finish();
}

// Runs f() on a thread of its own with a call stack of `stack` bytes (0: the
// system's default size); the destructor waits for it to end. POSIX or Win32
// threads directly: MinGW's win32 thread model has no std::thread.
//
// On Windows the thread starts with its creator's x87 control word: Windows
// gives new threads 53-bit precision where MinGW's start-up code set 64 bits
// for the main thread, and what depends on that has a test of its own
// (WindowsHost.ResultsIgnoreTheCallersX87Precision).
template <class F>
class TestThread {
public:
    explicit TestThread(F f, std::size_t stack = 0) : body(std::move(f))
    {
#if defined(_WIN32)
        __asm__ volatile("fnstcw %0" : "=m"(body.x87));
        handle = CreateThread(nullptr, stack, run, &body, stack != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
        started = handle != nullptr;
#else
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        if (stack != 0) pthread_attr_setstacksize(&attr, stack);
        started = pthread_create(&thread, &attr, run, &body) == 0;
        pthread_attr_destroy(&attr);
#endif
        EXPECT_TRUE(started) << "cannot start a thread";
    }
    ~TestThread()
    {
        if (!started) return;
#if defined(_WIN32)
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
#else
        pthread_join(thread, nullptr);
#endif
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

private:
    struct Body {
        explicit Body(F f) : f(std::move(f)) {}
        F f;
        unsigned short x87 = 0;
    };
#if defined(_WIN32)
    static DWORD WINAPI run(void* arg)
    {
        Body& b = *static_cast<Body*>(arg);
        __asm__ volatile("fldcw %0" : : "m"(b.x87));
        b.f();
        return 0;
    }
    HANDLE handle = nullptr;
#else
    static void* run(void* arg)
    {
        static_cast<Body*>(arg)->f();
        return nullptr;
    }
    pthread_t thread{};
#endif
    Body body;
    bool started = false;
};
