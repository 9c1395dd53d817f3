#!/usr/bin/env bash
# The real-host test: Ardour scans, hosts, saves, reopens and bounces Kovalith
# as installed from the Debian package.
#   tests/realhost/run.sh [BUILD_DIR]    (default: build, configured and built)
# 1. cpack builds the .deb in BUILD_DIR; its contents are unpacked into a
#    temporary root, as a user who installed it would have them.
# 2. ardour-vst-scanner scans the unpacked /usr/lib/vst/Kovalith.so.
# 3. ardour7-lua (session.lua, Dummy backend) records a take on a stereo track,
#    inserts Kovalith, sets parameters (menus past their second item among
#    them), saves; then reopens and bounces.
# 4. The reopened plug-in's chunk and parameters must equal the saved ones,
#    and the bounce must equal, bit for bit, the packaged `kovalith render` of
#    the take with the same settings.
# Prints "SKIP: reason" and exits 0 when Ardour or dpkg-deb is not installed.
set -euo pipefail
label="real-host test"
build="$(cd "${1:-build}" && pwd)"
source "$(dirname "$0")/common.sh"
scanner=/usr/lib/ardour7/ardour-vst-scanner
require_tools ardour7-lua "$scanner" dpkg-deb dpkg-shlibdeps perl
make_work

# 1. The package, unpacked.
unpack_package
plugin="$work/root/usr/lib/vst/Kovalith.so"
host="$work/root/usr/bin/kovalith"
[ -f "$plugin" ] && [ -x "$host" ] || fail "$(basename "$deb") lacks /usr/lib/vst/Kovalith.so or /usr/bin/kovalith"
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q "libc6" <<<"$depends" || fail "$(basename "$deb") declares no library dependencies: '$depends'"

# Ardour keeps its configuration and scan cache under HOME, and finds Linux
# VST plug-ins through LXVST_PATH.
export HOME="$work/home" LXVST_PATH="$work/root/usr/lib/vst"
mkdir -p "$HOME"

# 2. The scan.
scan_plugin "$scanner" "$plugin" "$plugin" "Found Plugin: .* Kovalith"

# 3. Ardour.
created="$(run_ardour session.lua create "take|bounce|param|reopened")"
bounced="$(run_ardour session.lua bounce "take|bounce|param|reopened")"

# 4a. The session comes back whole: the chunk saved, and the chunk the reopened
# plug-in gives (Ardour saves a chunk plug-in's state as its chunk).
chunk() { perl -0ne 'print $1 if /<Processor[^>]*type="lxvst".*?<chunk[^>]*>([^<]*)<\/chunk>/s' "$1"; }
saved="$(chunk "$work/session/kovalith.ardour")"
reopened="$(chunk "$work/session/reopened.ardour")"
[ -n "$saved" ] || fail "the saved session holds no chunk of Kovalith"
[ "$saved" = "$reopened" ] || fail "the reopened plug-in's chunk differs from the saved one"
# And the parameters Ardour reads back (menus as items) are those it set.
[ "$(grep '^param ' <<<"$created" | cut -d' ' -f2-)" = "$(grep '^reopened ' <<<"$bounced" | cut -d' ' -f2-)" ] ||
  fail "the reopened parameters differ from the saved ones: $created / $bounced"

# 4b. The bounce against the packaged command-line host, with Ardour's settings
# (menus by item, as --set takes them).
compare_bounce "$host" "$created" "$bounced"
echo "real-host test: Ardour found, saved, reopened and bounced Kovalith from $(basename "$deb");" \
     "chunk ($(base64 -d <<<"$saved" | wc -c) bytes) and $take_length-frame bounce identical to kovalith render"
