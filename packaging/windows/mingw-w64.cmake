# CMake toolchain for 64-bit Windows, cross-compiled on Debian with MinGW-w64.
#
# The posix-thread variant of the compiler is required: Qt needs std::thread and std::mutex.
# Libraries are looked up in the MinGW sysroot and in the toolchain folder that
# packaging/windows/build-toolchain.sh fills (VX310_WIN_TOOLCHAIN, default ~/.cache/vx310/win64).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VX310_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VX310_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VX310_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VX310_MINGW_TRIPLE}-windres)

# try_compile() projects re-read this file without the caller's cache; the environment carries over.
if(NOT DEFINED VX310_WIN_TOOLCHAIN)
    if(DEFINED ENV{VX310_WIN_TOOLCHAIN} AND NOT "$ENV{VX310_WIN_TOOLCHAIN}" STREQUAL "")
        set(VX310_WIN_TOOLCHAIN "$ENV{VX310_WIN_TOOLCHAIN}")
    else()
        set(VX310_WIN_TOOLCHAIN "$ENV{HOME}/.cache/vx310/win64")
    endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VX310_WIN_TOOLCHAIN)

set(CMAKE_FIND_ROOT_PATH /usr/${VX310_MINGW_TRIPLE} "${VX310_WIN_TOOLCHAIN}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Headers installed there are included by their folder (<modbus/modbus.h>), as from /usr/include.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${VX310_WIN_TOOLCHAIN}/include")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${VX310_WIN_TOOLCHAIN}/include")

# pkg-config answers for the toolchain's libraries (libmodbus, libmosquitto), not the machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${VX310_WIN_TOOLCHAIN}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Qt's code generators (moc, rcc, uic) come from the native Debian Qt of the same version.
if(NOT DEFINED QT_HOST_PATH)
    set(QT_HOST_PATH /usr)
endif()
if(NOT DEFINED QT_HOST_PATH_CMAKE_DIR)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
