# Cross-compiling for 64-bit Windows with MinGW-w64 (posix thread model): the
# win64 build of the whole program, which Wine runs at full speed where no
# 32-bit code runs. The shipped program is built with mingw-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
