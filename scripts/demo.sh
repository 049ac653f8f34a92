#!/bin/sh
# Demo: builds the installer and the package tool, lays out a sample router root
# with an installed set, lists it, and commits a deferred change set inside it.
# Usage: ./scripts/demo.sh [ROOT]   (default /tmp/halvane-demo; run as root)
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh >/dev/null
top=$(pwd)
installer="$top/build/installer"
pkgtool="$top/build/pkgtool"
root=${1:-/tmp/halvane-demo}
work=$(mktemp -d)

cleanup() {
  umount "$root/ram" 2>/dev/null || true
  umount "$root/proc" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

say() { printf '\n== %s\n' "$*"; }
run() {
  printf '$'
  for word in "$@"; do
    case $word in *' '*) printf " '%s'" "$word" ;; *) printf ' %s' "$word" ;; esac
  done
  printf '\n'
  "$@"
}
# A packed version number: major, minor, release letter, number.
packed() { echo $(( ($1 << 24) | ($2 << 16) | ($(printf '%d' "'$3") << 8) | $4 )); }

umount "$root/ram" 2>/dev/null || true
umount "$root/proc" 2>/dev/null || true
rm -rf "$root"
mkdir -p "$root/flash/var/pdb" "$root/ram" "$root/rw/pckg/.images"
export SOURCE_DATE_EPOCH=1733500000

say "Building sample packages with the development keys"
mkdir -p "$work/wireless/lib/wireless" "$work/dhcp/bin" "$work/ppp/bin"
printf 'firmware blob\n' > "$work/wireless/lib/wireless/firmware.bin"
printf '#!/bin/sh\necho dhcp\n' > "$work/dhcp/bin/dhcp-client"
printf '#!/bin/sh\necho ppp\n' > "$work/ppp/bin/pppd"
chmod 755 "$work/dhcp/bin/dhcp-client" "$work/ppp/bin/pppd"
head -c 65536 /dev/zero > "$work/payload"
run "$pkgtool" build -o "$work/wireless.zpk" --name wireless --version 6.42.3 \
  --arch i386 --note "radio drivers" --depends system:6.40 --payload "$work/payload" \
  --sign "$work/wireless"
run "$pkgtool" build -o "$work/dhcp.zpk" --name dhcp --version 6.42.3 --depends system:6.42 \
  --note "dhcp client and server" --sign "$work/dhcp"
run "$pkgtool" build -o "$work/ppp.zpk" --name ppp --version 6.42.3 --depends system:6.42 \
  --sign "$work/ppp"
run "$pkgtool" bundle -o "$work/core.zpk" --name core --version 6.42.3 \
  --note "the base bundle" --sign "$work/dhcp.zpk" "$work/ppp.zpk"
run "$pkgtool" verify "$work/core.zpk"
run "$pkgtool" inspect "$work/wireless.zpk"

say "Laying out the installed set in $root"
# Kept images: the bundle in its database directory, wireless in the image directory.
mkdir -p "$root/flash/var/pdb/core" "$root/flash/var/pdb/wireless"
cp "$work/core.zpk" "$root/flash/var/pdb/core/image"
cp "$work/wireless.zpk" "$root/rw/pckg/.images/wireless"
printf 'user\n' > "$root/flash/var/pdb/wireless/disabled"
# Database directories: the system package and ntp, written as the installer writes them.
mkdir -p "$root/flash/var/pdb/system" "$root/flash/var/pdb/ntp" "$root/flash/bin" "$root/flash/etc"
printf '%s 1733400000\n' "$(packed 6 42 f 3)" > "$root/flash/var/pdb/system/version"
: > "$root/flash/var/pdb/system/deps"
printf 'flash/bin/vemo\nflash/etc/motd\n' > "$root/flash/var/pdb/system/files"
printf '%s 1733300000\n' "$(packed 6 41 c 5)" > "$root/flash/var/pdb/ntp/version"
printf 'system %s 0\n' "$(packed 6 40 f 0)" > "$root/flash/var/pdb/ntp/deps"
: > "$root/flash/var/pdb/ntp/files"
printf 'auto\n' > "$root/flash/var/pdb/ntp/disabled"
mkdir -p "$root/ram/pdb/ntp" && printf 'enable\n' > "$root/ram/pdb/ntp/schedule"
printf '#!/bin/sh\n' > "$root/flash/bin/vemo"
printf 'Welcome (old)\n' > "$root/flash/etc/motd"
printf 'stale\n' > "$root/flash/etc/old-notes"
(cd "$root" && find . -path ./proc -prune -o -type f -print | sort)

say "The installed set, as the router lists it"
run "$installer" -r "$root" --show
say "The same set as the vendor's package tool sees it"
run "$pkgtool" db "$root"

say "Installing a package streamed on standard input (ntp's pending enable runs first)"
mkdir -p "$work/snmp/bin" "$work/snmp/etc"
printf '#!/bin/sh\necho snmp agent\n' > "$work/snmp/bin/snmpd"
printf 'community=public\n' > "$work/snmp/etc/snmpd.conf"
chmod 755 "$work/snmp/bin/snmpd"
run "$pkgtool" build -o "$work/snmp.zpk" --name snmp --version 6.42.3 --depends system:6.40 \
  --note "monitoring agent" --sign "$work/snmp"
echo "\$ $installer -r $root - < snmp.zpk"
"$installer" -r "$root" - < "$work/snmp.zpk"; echo "(status $?)"
run "$installer" -r "$root" --show

say "A newer bundle, after a schedule word that disables snmp"
printf '#!/bin/sh\necho dhcp 6.43\n' > "$work/dhcp/bin/dhcp-client"
run "$pkgtool" build -o "$work/dhcp.zpk" --name dhcp --version 6.43 --depends system:6.42 \
  --note "dhcp client and server" --sign "$work/dhcp"
run "$pkgtool" build -o "$work/ppp.zpk" --name ppp --version 6.43 --depends system:6.42 \
  --sign "$work/ppp"
run "$pkgtool" bundle -o "$work/core-6.43.zpk" --name core --version 6.43 \
  --note "the base bundle" --sign "$work/dhcp.zpk" "$work/ppp.zpk"
mkdir -p "$root/ram/pdb/snmp" && printf 'disable\n' > "$root/ram/pdb/snmp/schedule"
rm -f "$root/ram/pdb/ntp/schedule"
echo "\$ $installer -r $root - < core-6.43.zpk"
"$installer" -r "$root" - < "$work/core-6.43.zpk"; echo "(status $?)"
rm -f "$root/ram/pdb/snmp/schedule"
run "$installer" -r "$root" --show
run cat "$root/flash/bin/dhcp-client"

say "A deferred install: prepared files and the manifest"
# /ram is a tmpfs on the router: files prepared there are copied onto the flash.
mount -t tmpfs -o size=4m tmpfs "$root/ram" 2>/dev/null && echo "(ram is a tmpfs)" || true
printf 'Welcome to Halvane 6.42.3\n' > "$root/ram/tmpMOTD01"
printf '#!/bin/sh\necho hello\n' > "$root/flash/tmpHELLO1"
chmod 755 "$root/flash/tmpHELLO1"
cat > "$root/ram/MANIFEST" <<MANIFEST
M /flash/bin/hello /flash/tmpHELLO1
L /flash/bin/hi /flash/bin/hello
M /flash/etc/motd /ram/tmpMOTD01
U /flash/etc/old-notes
MANIFEST
cat "$root/ram/MANIFEST"

say "Committing it inside the router root (chroot)"
cp "$installer" "$root/installer"
for lib in $(ldd "$installer" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib"
done
mkdir -p "$root/proc" && mount -t proc proc "$root/proc" 2>/dev/null || true
run chroot "$root" /installer --commit
say "Result"
run cat "$root/flash/etc/motd"
run ls -l "$root/flash/bin" "$root/flash/etc"
echo "/ram keeps the manifest and the prepared file for the boot stage: $(ls "$root/ram" | tr '\n' ' ')"
