#!/usr/bin/env bash
# The VST3 real-host test: Ardour scans, hosts, saves, reopens and bounces
# Kovalith's VST3 bundle as installed from the Debian package.
#   tests/realhost/vst3.sh [BUILD_DIR]    (default: build, configured and built)
# 1. cpack builds the .deb in BUILD_DIR; its contents are unpacked into a
#    temporary root, as a user who installed it would have them.
# 2. ardour-vst3-scanner scans the unpacked /usr/lib/vst3/Kovalith.vst3.
# 3. ardour7-lua (vst3-session.lua, Dummy backend) records a take on a stereo
#    track, inserts Kovalith, selects a program from its list, sets knobs and
#    menus, saves; then reopens and bounces.
# 4. Ardour must list the plug-in's own parameters only, the reopened
#    plug-in's state must equal the saved one, and the bounce must equal, bit
#    for bit, the packaged `kovalith render` of the take with the same settings.
# Prints "SKIP: reason" and exits 0 when Ardour or dpkg-deb is not installed.
set -euo pipefail
label="VST3 real-host test"
build="$(cd "${1:-build}" && pwd)"
source "$(dirname "$0")/common.sh"
scanner=/usr/lib/ardour7/ardour-vst3-scanner
require_tools ardour7-lua "$scanner" dpkg-deb dpkg-shlibdeps perl
# The exposed parameters of the effect: the 67 less the 13 that do nothing.
expected_parameters=54
make_work

# 1. The package, unpacked.
unpack_package
bundle="$work/root/usr/lib/vst3/Kovalith.vst3"
module="$bundle/Contents/x86_64-linux/Kovalith.so"
host="$work/root/usr/bin/kovalith"
[ -f "$module" ] && [ -x "$host" ] || fail "$(basename "$deb") lacks $module or /usr/bin/kovalith"

# Ardour keeps its configuration and scan cache under HOME, and finds VST3
# bundles through VST3_PATH.
export HOME="$work/home" VST3_PATH="$work/root/usr/lib/vst3"
mkdir -p "$HOME"

# 2. The scan.
scan_plugin "$scanner" "$bundle" "$module" "Found Plugin: Kovalith"

# 3. Ardour.
created="$(run_ardour vst3-session.lua create "take|bounce|program|param|listed")"
bounced="$(run_ardour vst3-session.lua bounce "take|bounce|program|param|listed")"

# 4a. Ardour's automation list: the effect's parameters, each once, and none
# of the hidden controller parameters that carry MIDI learn.
listed="$(grep '^listed ' <<<"$created" | cut -d' ' -f2-)"
[ "$(wc -l <<<"$listed")" -eq "$expected_parameters" ] ||
  fail "Ardour lists $(wc -l <<<"$listed") parameters, not $expected_parameters: $(tr '\n' ',' <<<"$listed")"
[ -z "$(sort <<<"$listed" | uniq -d)" ] || fail "Ardour lists parameters twice: $(sort <<<"$listed" | uniq -d)"
! grep -q "^Controller " <<<"$listed" || fail "Ardour lists the hidden controller parameters"

# 4b. The session comes back whole: Ardour saves the plug-in's state as a chunk.
chunk() { perl -0ne 'print $1 if /<Processor[^>]*type="vst3".*?<chunk>([^<]*)<\/chunk>/s' "$1"; }
saved="$(chunk "$work/session/kovalith.ardour")"
reopened="$(chunk "$work/session/reopened.ardour")"
[ -n "$saved" ] || fail "the saved session holds no state of Kovalith"
[ "$saved" = "$reopened" ] || fail "the reopened plug-in's state differs from the saved one"

# 4c. The bounce against the packaged command-line host, with Ardour's settings.
compare_bounce "$host" "$created" "$bounced" --preset "$(grep '^program ' <<<"$created" | cut -d' ' -f2)"
echo "VST3 real-host test: Ardour found, saved, reopened and bounced Kovalith.vst3 from $(basename "$deb");" \
     "$expected_parameters parameters listed, state ($(base64 -d <<<"$saved" | wc -c) bytes) and" \
     "$take_length-frame bounce identical to kovalith render (${settings[*]})"
