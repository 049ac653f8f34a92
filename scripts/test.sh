#!/bin/sh
# Sets up a fresh machine, builds everything and runs every test.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
cd build && ctest --output-on-failure -j2
