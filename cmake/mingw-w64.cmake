# Cross-compilation for Windows with MinGW-w64, shared by the 64- and 32-bit
# toolchain files, which set LP_MINGW_TRIPLET and LP_WINE first.
#
# LP_WINE is the wine loader that runs this target's programs on the build
# machine; the build's tests use it through a wrapper (cmake/wine.cmake).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${LP_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LP_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${LP_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${LP_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump of the target")

set(CMAKE_FIND_ROOT_PATH /usr/${LP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
