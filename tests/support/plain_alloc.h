// Allocation from the C heap for a test program that replaces the free
// store's functions (replaced_new.inc): aligned blocks as the platform makes
// them. The C runtime on Windows has no aligned_alloc: every aligned request
// goes to _aligned_malloc and comes back through _aligned_free.
#pragma once

#include <cstddef>
#include <cstdlib>
#if defined(_WIN32)
#include <malloc.h>
#endif

inline void* plain_take(std::size_t bytes, std::size_t align)
{
    if (bytes == 0) bytes = 1;
#if defined(_WIN32)
    if (align != 0) return _aligned_malloc(bytes, align);
#else
    if (align > alignof(std::max_align_t)) return std::aligned_alloc(align, (bytes + align - 1) / align * align);
#endif
    return std::malloc(bytes);
}

inline void plain_give(void* p, std::size_t align)
{
#if defined(_WIN32)
    if (align != 0) {
        _aligned_free(p);
        return;
    }
#endif
    (void)align;
    std::free(p);
}
