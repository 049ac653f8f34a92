#!/bin/sh
# Demo: builds the installer and the package tool, signs sample packages, and runs the
# installer's main job on a sample router root: an upgrade from the download
# directory with the hand-off to the boot stage, an install from standard input, a
# schedule word, a deferred upgrade committed later, and a refused upgrade that
# leaves the flash as it was.
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
download="$root/rw/pckg/.download"

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
# The installer draws its progress bar in place; a log of the demo keeps the lines.
upgrade() {
  printf '$ %s -r %s %s\n' "$installer" "$root" "$*"
  status=0
  "$installer" -r "$root" "$@" || status=$?
  echo "(exit status $status)"
}
show() { "$installer" -r "$root" --show; }
flash_listing() { (cd "$root/flash" && find . -type f -o -type l | sort); }

umount "$root/ram" 2>/dev/null || true
umount "$root/proc" 2>/dev/null || true
rm -rf "$root"
mkdir -p "$root/flash/var/pdb" "$root/flash/bin" "$root/ram" "$download"
export SOURCE_DATE_EPOCH=1733500000

say "Building and signing sample packages with the development keys"
mkdir -p "$work/system/etc" "$work/wireless/lib/wireless" "$work/dhcp/bin" "$work/ppp/bin" \
  "$work/snmp/bin"
printf 'Welcome to Halvane 6.42.3\n' > "$work/system/etc/motd"
printf 'firmware blob\n' > "$work/wireless/lib/wireless/firmware.bin"
printf '#!/bin/sh\necho dhcp 6.42.3\n' > "$work/dhcp/bin/dhcp-client"
printf '#!/bin/sh\necho ppp\n' > "$work/ppp/bin/pppd"
printf '#!/bin/sh\necho snmp agent\n' > "$work/snmp/bin/snmpd"
chmod 755 "$work/dhcp/bin/dhcp-client" "$work/ppp/bin/pppd" "$work/snmp/bin/snmpd"
head -c 65536 /dev/zero > "$work/payload"
run "$pkgtool" build -o "$work/system.zpk" --name system --version 6.42.3 --sign "$work/system"
run "$pkgtool" build -o "$work/wireless.zpk" --name wireless --version 6.42.3 \
  --note "radio drivers" --depends system:6.40 --payload "$work/payload" \
  --sign "$work/wireless"
run "$pkgtool" build -o "$work/dhcp.zpk" --name dhcp --version 6.42.3 --depends system:6.42 \
  --note "dhcp client and server" --sign "$work/dhcp"
run "$pkgtool" build -o "$work/ppp.zpk" --name ppp --version 6.42.3 --depends system:6.42 \
  --sign "$work/ppp"
run "$pkgtool" bundle -o "$work/core.zpk" --name core --version 6.42.3 \
  --note "the base bundle" --sign "$work/dhcp.zpk" "$work/ppp.zpk"
run "$pkgtool" build -o "$work/snmp.zpk" --name snmp --version 6.42.3 --depends system:6.40 \
  --note "monitoring agent" --sign "$work/snmp"
run "$pkgtool" verify "$work/core.zpk"
run "$pkgtool" inspect "$work/wireless.zpk"

say "The boot stage: a small static program at /flash/bin/vemo that says it ran"
cc -static -O2 -o "$root/flash/bin/vemo" scripts/demo_vemo.c

say "An upgrade: the package files wait in the download directory"
cp "$work/system.zpk" "$work/wireless.zpk" "$work/core.zpk" "$download/"
run ls "$download"
upgrade
rm -f "$download"/*.zpk  # the boot stage clears the download directory
run show
run "$pkgtool" db "$root"
echo "post-install log:"; cat "$root/flash/postlog"

say "A package streamed on standard input"
printf '$ %s -r %s - < snmp.zpk\n' "$installer" "$root"
status=0; "$installer" -r "$root" - < "$work/snmp.zpk" || status=$?; echo "(exit status $status)"
run show

say "A schedule word disables snmp at the next run"
mkdir -p "$root/ram/pdb/snmp" && printf 'disable\n' > "$root/ram/pdb/snmp/schedule"
upgrade
rm -f "$root/ram/pdb/snmp/schedule"
run show

say "A newer bundle with --safe: prepared now, applied by a later --commit"
printf '#!/bin/sh\necho dhcp 6.43\n' > "$work/dhcp/bin/dhcp-client"
"$pkgtool" build -o "$work/dhcp.zpk" --name dhcp --version 6.43 --depends system:6.42 \
  --note "dhcp client and server" --sign "$work/dhcp"
"$pkgtool" build -o "$work/ppp.zpk" --name ppp --version 6.43 --depends system:6.42 \
  --sign "$work/ppp"
run "$pkgtool" bundle -o "$download/core-6.43.zpk" --name core --version 6.43 \
  --note "the base bundle" --sign "$work/dhcp.zpk" "$work/ppp.zpk"
# /ram is a RAM disk on the router: prepared files there are copied onto the flash.
mount -t tmpfs -o size=16m tmpfs "$root/ram" 2>/dev/null && echo "(ram is a tmpfs)" || true
upgrade --safe
# The bundle's file itself becomes its kept image when the manifest is applied.
run cat "$root/ram/MANIFEST"
run cat "$root/flash/bin/dhcp-client"
cp "$installer" "$root/installer"
for lib in $(ldd "$installer" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib"
done
mkdir -p "$root/proc" && mount -t proc proc "$root/proc" 2>/dev/null || true
run chroot "$root" /installer --commit
run cat "$root/flash/bin/dhcp-client"
run show
rm -f "$root/ram/MANIFEST"

say "A refused upgrade: a candidate that needs a package nobody has"
mkdir -p "$work/vpn/bin" && printf 'vpn\n' > "$work/vpn/bin/vpnd"
run "$pkgtool" build -o "$download/vpn.zpk" --name vpn --version 6.43 --depends crypto:6.43 \
  --sign "$work/vpn"
cp "$work/snmp.zpk" "$download/"
flash_listing > "$work/before"
upgrade
flash_listing > "$work/after"
echo "files on the flash before and after, apart from the post-install log:"
if diff "$work/before" "$work/after" | grep -v postlog | grep -q '^[<>]'; then
  echo "changed!"
else
  echo "unchanged: nothing of the refused upgrade reached the flash"
fi
