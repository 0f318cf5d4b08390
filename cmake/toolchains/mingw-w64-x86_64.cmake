# Cross-compiles for 64-bit Windows with Debian's mingw-w64 compilers, POSIX thread model
# (packages g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows-x86_64 --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
# zoqc.exe links its runtime statically (see CMakeLists.txt), so it needs only system DLLs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZOQC_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)  # lets CMake and CTest run what it builds
