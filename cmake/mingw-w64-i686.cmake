# 32-bit Windows (i686-w64-mingw32), tested under 32-bit wine.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# The project compiles 32-bit x86 code with -msse2 -mfpmath=sse.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LP_MINGW_TRIPLET i686-w64-mingw32)
set(LP_WINE /usr/lib/wine/wine)
set(LP_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
