#!/bin/sh
# Configures and builds build/installer, build/pkgtool and the tests.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
