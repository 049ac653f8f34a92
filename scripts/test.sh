#!/bin/sh
# Sets up a fresh machine, builds everything and runs every test: once in the release
# build, once built with AddressSanitizer and UndefinedBehaviorSanitizer; then the
# Debian package of the vendor tools and the installer built for the router's ARM.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
(cd build && ctest --output-on-failure -j2)
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_SANITIZE=ON \
  -DINSTALLER_BENCH=OFF >/dev/null
cmake --build build-sanitize -j2
(cd build-sanitize && ctest --output-on-failure -j2)
# The Debian package: built, installed, tried and removed again.
./scripts/package.sh --test
# The installer cross-built for 32-bit ARM, and its tests under qemu-arm.
./scripts/arm.sh
./scripts/arm.sh test
# The fuzz targets, each for a short while (their own build, with clang).
./scripts/fuzz.sh
