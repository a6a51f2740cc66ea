// Threads of the fitting core: std::thread where the toolchain has it, the
// Win32 API under MinGW's win32 thread model, which has no std::thread.
#pragma once

#include <functional>

namespace lpc {

// The number of processors this process may run on, at least 1.
int processors();

// Runs work(k) on `threads` threads at once, k = 0 on the calling thread and
// 1, 2, ... on the others, and returns when all have returned. Fewer threads
// run when the system gives no more. `work` must not throw.
void together(int threads, const std::function<void(int)>& work);

}  // namespace lpc
