#!/bin/sh
# The installer for the router's 32-bit ARM, cross-built on this machine, and its
# tests run under qemu user-mode emulation.
#
#   ./scripts/arm.sh           set up (as root) and build build-arm/installer and the tests
#   ./scripts/arm.sh test      run the tests under qemu-arm (as root)
#   ./scripts/arm.sh memory    peak memory of installer - for 20 MiB and 200 MiB packages
#
# build-arm/ holds the installer as it goes on the router: size-optimised and
# linked dynamically against zlib and libcrypto. build-arm-tests/ holds the tests,
# the installer and the package tool linked statically: under the emulator a
# dynamically linked ARM program's fork() child crashes in the C library, and the
# tests fork for every scratch root. The tests start ARM programs themselves (the
# installer, the package tool, the boot-stage probe), so qemu-arm is registered
# with the kernel's binfmt_misc for the duration of the run.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
toolchain="$top/cmake/arm-linux-gnueabihf.cmake"
sysroot=/usr/arm-linux-gnueabihf

setup() {
  if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    dpkg --add-architecture armhf
    apt-get update -qq
  fi
  ./scripts/setup.sh crossbuild-essential-armhf zlib1g-dev:armhf libssl-dev:armhf \
    libgtest-dev:armhf qemu-user-static
}

build() {
  cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DINSTALLER_TESTS=OFF -DINSTALLER_BENCH=OFF >/dev/null
  cmake --build build-arm -j2 --target installer
  # OpenSSL's static libcrypto holds network and dlopen code that the tests never
  # reach; the linker's notes about it are expected.
  cmake -S . -B build-arm-tests -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DINSTALLER_BENCH=OFF -DCMAKE_EXE_LINKER_FLAGS=-static \
    -DZLIB_USE_STATIC_LIBS=ON -DOPENSSL_USE_STATIC_LIBS=ON >/dev/null
  status=0
  cmake --build build-arm-tests -j2 --target installer_tests > build-arm-tests/build.log 2>&1 ||
    status=$?
  grep -vE "in statically linked applications requires at runtime|bin/ld: .*lib(crypto|gtest)\.a\(" \
    build-arm-tests/build.log || true
  [ "$status" -eq 0 ]
  arm-linux-gnueabihf-strip -o build-arm/installer.stripped build-arm/installer
  echo "build-arm/installer: $(wc -c < build-arm/installer.stripped) bytes stripped"
}

binfmt=/proc/sys/fs/binfmt_misc
registered=""
mounted=""
unregister() {
  [ -z "$registered" ] || echo -1 > "$binfmt/halvane-arm"
  [ -z "$mounted" ] || umount "$binfmt"
}

# qemu-arm for every 32-bit little-endian ARM executable: P passes argv[0] on as
# the program was given it, F opens the (static) emulator now, so that it also
# serves programs started inside a chroot.
register() {
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" && mounted=yes
  fi
  [ -e "$binfmt/halvane-arm" ] && return
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
  mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":halvane-arm:M::$magic:$mask:/usr/libexec/qemu-binfmt/arm-binfmt-P:PF" \
    > "$binfmt/register" && registered=yes
}

# Tests that cannot run here, and why (run_tests says it).
excluded="^(PkgtoolDb\.WorksWithoutRootThroughAUserNamespace|\
HostilePackage\.BundleOfTenThousandEmptyMembers)\$|^(FullFlash|DiskErrors|KilledRuns|InterruptedRuns)\\."

run_tests() {
  trap unregister EXIT
  if ! register; then
    echo "cannot register qemu-arm with binfmt_misc (root and the kernel's binfmt_misc are"
    echo "needed): the tests start ARM programs of their own"
    exit 1
  fi
  echo "not run under emulation:"
  echo "  PkgtoolDb.WorksWithoutRootThroughAUserNamespace: qemu-arm runs threads of its own,"
  echo "    and the kernel refuses a new user namespace to a threaded process"
  echo "  HostilePackage.BundleOfTenThousandEmptyMembers: signing 10,000 members with the"
  echo "    older scheme takes the emulator many minutes"
  echo "  FullFlash, DiskErrors, KilledRuns, InterruptedRuns: they inject faults with an"
  echo "    LD_PRELOAD library, which a statically linked installer never loads"
  (cd build-arm-tests && ctest --output-on-failure -j2 -E "$excluded")
  smoke_test
}

# The router build itself, dynamically linked, on the work of an x86 pkgtool: a
# package streamed on standard input goes in and is listed.
smoke_test() {
  pkgtool="$top/build/pkgtool"
  [ -x "$pkgtool" ] || ./scripts/build.sh >/dev/null
  work=$(mktemp -d)
  mkdir -p "$work/tree/bin" "$work/root/flash/var/pdb" "$work/root/ram"
  printf '#!/bin/sh\necho snmp agent\n' > "$work/tree/bin/snmpd"
  head -c 300000 /dev/urandom > "$work/tree/bin/firmware"
  "$pkgtool" build -o "$work/snmp.zpk" --name snmp --version 6.42.3 --build-time 1733500000 \
    --sign "$work/tree" >/dev/null
  status=0
  qemu-arm-static -L "$sysroot" build-arm/installer -r "$work/root" - < "$work/snmp.zpk" \
    > "$work/out" || status=$?
  listing=$(qemu-arm-static -L "$sysroot" build-arm/installer -r "$work/root" --show)
  if [ "$status" -eq 0 ] && cmp -s "$work/tree/bin/firmware" "$work/root/flash/bin/firmware" &&
     printf '%s\n' "$listing" | grep -q '^snmp  *6.42.3  *Dec/06/2024'; then
    echo "router build under qemu-arm: installer - and --show: passed"
    rm -rf "$work"
  else
    echo "router build under qemu-arm: installer - and --show: FAILED (status $status)"
    cat "$work/out"
    printf '%s\n' "$listing"
    rm -rf "$work"
    exit 1
  fi
}

# A tree of about size MiB in files of 1 KiB to 200 KiB, half of them text-like and
# half random bytes, as a signed package.
make_package() {
  size=$1 tree=$2 package=$3
  mkdir -p "$tree/data"
  total=0 i=0
  limit=$((size * 1048576))
  while [ "$total" -lt "$limit" ]; do
    bytes=$(( (i * 7919 % 200 + 1) * 1024 ))
    if [ $((i % 2)) -eq 0 ]; then
      head -c "$bytes" /dev/urandom > "$tree/data/f$i"
    else
      yes "interface ether$i mtu=1500 address 10.0.$((i % 250)).1 route" |
        head -c "$bytes" > "$tree/data/f$i"
    fi
    total=$((total + bytes)) i=$((i + 1))
  done
  "$top/build/pkgtool" build -o "$package" --name bulk --version 6.42.3 --sign "$tree" \
    >/dev/null
  echo "$size MiB: $i files, package of $(($(wc -c < "$package") / 1048576)) MiB"
}

# Peak resident set of qemu-arm running the router build (the emulator's own memory
# included): the listing of an empty root as the baseline, then installs.
memory() {
  [ -x build/pkgtool ] || ./scripts/build.sh >/dev/null
  work=$(mktemp -d)
  peak() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
  mkdir -p "$work/empty/flash/var/pdb" "$work/empty/ram"
  /usr/bin/time -v qemu-arm-static -L "$sysroot" build-arm/installer -r "$work/empty" --show \
    2> "$work/time" > /dev/null
  echo "--show of an empty root: peak $(peak "$work/time") KiB"
  for size in 20 200; do
    make_package "$size" "$work/tree$size" "$work/bulk$size.zpk"
    mkdir -p "$work/root$size/flash/var/pdb" "$work/root$size/ram"
    status=0
    /usr/bin/time -v qemu-arm-static -L "$sysroot" build-arm/installer -r "$work/root$size" - \
      < "$work/bulk$size.zpk" 2> "$work/time" > "$work/out" || status=$?
    if [ "$status" -ne 0 ] || ! diff -r "$work/tree$size/data" "$work/root$size/flash/data"; then
      echo "install failed (status $status):"; cat "$work/out"; exit 1
    fi
    echo "  installed: peak $(peak "$work/time") KiB," \
      "$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$work/time") wall"
    rm -rf "$work/tree$size" "$work/root$size" "$work/bulk$size.zpk"
  done
  rm -rf "$work"
}

case "${1:-}" in
  "") setup; build ;;
  test) run_tests ;;
  memory) memory ;;
  *) echo "usage: $0 [test|memory]" >&2; exit 2 ;;
esac
