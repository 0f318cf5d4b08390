# Cross-compiles for 32-bit Windows with Debian's mingw-w64 compilers, POSIX thread model
# (packages g++-mingw-w64-i686-posix):
#   cmake -S . -B build-windows-i686 --toolchain cmake/toolchains/mingw-w64-i686.cmake
# zoqc.exe links its runtime statically (see CMakeLists.txt), so it needs only system DLLs.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZOQC_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
