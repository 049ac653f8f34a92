#!/bin/sh
# Installs the Debian packages the build needs, when they are missing; more can be
# named as arguments (scripts/arm.sh adds its cross toolchain).
set -eu
needed="build-essential cmake zlib1g-dev libssl-dev libgtest-dev nlohmann-json3-dev clang libclang-rt-14-dev"
# The manual pages' test renders them; the Debian package's dependencies come from file;
# the dependency picture's test has Graphviz read it.
needed="$needed man-db groff-base file graphviz $*"
missing=""
for package in $needed; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
fi
