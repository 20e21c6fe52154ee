# Cross-compiling for 64-bit Windows with MinGW-w64 (posix thread model). Used
# only by the win64-tests build: the library tests run where Wine cannot run
# 32-bit code. The shipped program is built with mingw-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
