#!/bin/sh
# Builds the Debian package of the vendor tools, halvane-tools (pkgtool, installer,
# their manual pages and pkgtool's bash completion), in build-package/. With --test
# it then installs the package, tries what it installed and removes it again (root).
# Further arguments go to CMake, e.g. a vendor's public keys:
#   ./scripts/package.sh -DLEGACY_PUBLIC_KEY_FILE=/path/legacy.public \
#                        -DEDDSA_PUBLIC_KEY_FILE=/path/eddsa.public
# Without them the installer knows the development keys, and the package's version
# says so ("+devkeys"). The tools are built without a default key directory: an
# installed pkgtool signs only with keys named on its command line.
set -eu
cd "$(dirname "$0")/.."
test=""
if [ "${1:-}" = --test ]; then
  test=yes
  shift
fi
./scripts/setup.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DINSTALLER_TESTS=OFF \
  -DINSTALLER_BENCH=OFF -DPKGTOOL_DEV_KEYS=OFF --no-warn-unused-cli "$@" >/dev/null
cmake --build build-package -j2
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/halvane-tools_*.deb)
echo "built $deb"
if [ -n "$test" ]; then
  status=0
  sh tests/packaging/deb_test.sh "$deb" "$(pwd)" || status=$?
  [ "$status" -eq 0 ] || [ "$status" -eq 77 ]  # 77: skipped, and it said why
fi
