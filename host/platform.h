// What the host layer needs from the operating system besides Library, with
// one definition per platform (library_posix.cpp, library_win32.cpp).
#pragma once

#include <cstdio>

namespace host {

// A new, empty, binary temporary file open for update, removed when it is
// closed; null when none can be made.
std::FILE* scratch_file();

}  // namespace host
