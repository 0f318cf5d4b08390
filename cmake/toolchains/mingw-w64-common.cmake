# What both mingw-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR and
# ZOQC_MINGW_TRIPLE, then include this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZOQC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOQC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOQC_MINGW_TRIPLE}-windres)

# Headers and libraries come from the target's tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZOQC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
