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
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
scanner=/usr/lib/ardour7/ardour-vst3-scanner
for tool in ardour7-lua "$scanner" dpkg-deb dpkg-shlibdeps perl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: VST3 real-host test: $tool is not installed (scripts/deps.sh test installs it)"
    exit 0
  fi
done
# The exposed parameters of the effect: the 67 less the 13 that do nothing.
expected_parameters=54

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: VST3 real-host test: $*" >&2; exit 1; }

# 1. The package, unpacked.
packaged="$(cd "$build" && cpack -G DEB 2>&1)" || fail "cpack failed: $packaged"
deb="$(ls -t "$build"/kovalith_*_amd64.deb | head -n 1)"
dpkg-deb -x "$deb" "$work/root"
bundle="$work/root/usr/lib/vst3/Kovalith.vst3"
module="$bundle/Contents/x86_64-linux/Kovalith.so"
host="$work/root/usr/bin/kovalith"
[ -f "$module" ] && [ -x "$host" ] || fail "$(basename "$deb") lacks $module or /usr/bin/kovalith"

# Ardour keeps its configuration and scan cache under HOME, and finds VST3
# bundles through VST3_PATH.
export HOME="$work/home" VST3_PATH="$work/root/usr/lib/vst3"
mkdir -p "$HOME"

# 2. The scan. Ardour trusts a cache entry only when it is strictly newer than
# the plug-in, in whole seconds; the unpacked file may be from this second.
touch -d "@$(($(date +%s) - 2))" "$module"
scan="$(LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -f "$bundle" 2>&1)" || fail "the scanner failed: $scan"
grep -q "Found Plugin: Kovalith" <<<"$scan" || fail "the scanner did not find Kovalith: $scan"
find "$HOME/.cache/ardour7/vst" -type f -exec touch {} +

# 3. Ardour. ardour7-lua may crash while shutting down after the script ended,
# so the script's last line, not the exit code, says whether it ran through.
ardour() {
  local log="$work/ardour-$1.log"
  timeout 300 ardour7-lua "$here/vst3-session.lua" "$1" "$work/session" kovalith >"$log" 2>&1 || true
  grep -qx "END OF SCRIPT" "$log" || { cat "$log" >&2; fail "ardour7-lua $1 did not finish"; }
  grep -E "^(take|bounce|program|param|listed) " "$log"
}
created="$(ardour create)"
bounced="$(ardour bounce)"

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
read -r _ take_start take_length take_left take_right <<<"$(grep '^take ' <<<"$created")"
read -r _ _ bounce_length bounce_left bounce_right <<<"$bounced"
[ "$bounce_length" = "$take_length" ] || fail "the bounce has $bounce_length frames, the take $take_length"
wav="$here/wavdata.pl"
"$wav" stereo "$take_left" "$take_right" "$take_start" "$take_length" >"$work/take.wav"
settings=(--preset "$(grep '^program ' <<<"$created" | cut -d' ' -f2)")
while read -r _ index value; do settings+=(--set "$index=$value"); done < <(grep '^param ' <<<"$created")
"$host" render "$work/take.wav" "$work/render.wav" --block 1024 "${settings[@]}" >/dev/null
"$wav" data "$work/render.wav" >"$work/render.raw"
"$wav" stereo "$bounce_left" "$bounce_right" >"$work/bounce.wav"
"$wav" data "$work/bounce.wav" >"$work/bounce.raw"
if ! cmp -s "$work/render.raw" "$work/bounce.raw"; then
  fail "Ardour's bounce differs from kovalith render: $(cmp "$work/render.raw" "$work/bounce.raw" || true)"
fi
echo "VST3 real-host test: Ardour found, saved, reopened and bounced Kovalith.vst3 from $(basename "$deb");" \
     "$expected_parameters parameters listed, state ($(base64 -d <<<"$saved" | wc -c) bytes) and" \
     "$take_length-frame bounce identical to kovalith render (${settings[*]})"
