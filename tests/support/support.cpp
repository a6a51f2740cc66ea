// Threads for the tests, on POSIX threads or Win32 threads.
#include "support.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

// What the new thread runs; from malloc, so that a program counting the free
// store's allocations does not see it.
struct Start {
    void (*body)(void*);
    void* arg;
    unsigned short x87;  // the creator's x87 control word (Windows)
};

#if defined(_WIN32)
DWORD WINAPI run(void* p)
{
    const Start s = *static_cast<Start*>(p);
    std::free(p);
    __asm__ volatile("fldcw %0" : : "m"(s.x87));
    s.body(s.arg);
    return 0;
}
#else
void* run(void* p)
{
    const Start s = *static_cast<Start*>(p);
    std::free(p);
    s.body(s.arg);
    return nullptr;
}
#endif

}  // namespace

void* start_thread(void (*body)(void*), void* arg, std::size_t stack)
{
    auto* s = static_cast<Start*>(std::malloc(sizeof(Start)));
    if (s == nullptr) return nullptr;
    s->body = body;
    s->arg = arg;
    s->x87 = 0;
#if defined(_WIN32)
    __asm__ volatile("fnstcw %0" : "=m"(s->x87));
    HANDLE h = CreateThread(nullptr, stack, run, s, stack != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (h == nullptr) std::free(s);
    return h;
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stack != 0) pthread_attr_setstacksize(&attr, stack);
    auto* t = static_cast<pthread_t*>(std::malloc(sizeof(pthread_t)));
    const bool started = t != nullptr && pthread_create(t, &attr, run, s) == 0;
    pthread_attr_destroy(&attr);
    if (!started) {
        std::free(t);
        std::free(s);
        return nullptr;
    }
    return t;
#endif
}

void join_thread(void* thread)
{
#if defined(_WIN32)
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    auto* t = static_cast<pthread_t*>(thread);
    pthread_join(*t, nullptr);
    std::free(t);
#endif
}
