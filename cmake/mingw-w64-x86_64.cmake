# 64-bit Windows (x86_64-w64-mingw32), tested under 64-bit wine.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LP_MINGW_TRIPLET x86_64-w64-mingw32)
set(LP_WINE /usr/lib/wine/wine64)
set(LP_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
