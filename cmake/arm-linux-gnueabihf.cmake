# Cross build for the router's 32-bit ARM (hard-float EABI) with Debian's
# crossbuild-essential-armhf and the armhf development packages of zlib, OpenSSL and
# GoogleTest (multiarch: they live under /usr/lib/arm-linux-gnueabihf).
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# Programs built here run on this machine under qemu-arm, which CTest uses for the
# tests; -L points it at the ARM loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/arm-linux-gnueabihf)

# 64-bit file offsets, sizes, block counts and times on a 32-bit system: without
# them statfs() cannot count past 2^32 blocks, readdir() gives up on a directory
# whose entries carry 64-bit offsets, and build times from 2038 on read as
# negative. Unused code and data are dropped at link time: the installer lives on
# the router's flash.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections -Wl,--as-needed")

# Headers and libraries come from the multiarch directories, never the build
# machine's own; programs (the compilers' helpers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
