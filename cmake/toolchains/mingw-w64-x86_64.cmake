# Cross-compiles for 64-bit Windows with Debian's mingw-w64 compilers, POSIX thread model
# (packages g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows-x86_64 --toolchain cmake/toolchains/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF
# zoqc.exe links its runtime statically (see CMakeLists.txt), so it needs only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZOQC_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZOQC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOQC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOQC_MINGW_TRIPLE}-windres)

# Headers and libraries come from the target's tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZOQC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)  # lets CMake and CTest run what it builds
