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
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
scanner=/usr/lib/ardour7/ardour-vst-scanner
for tool in ardour7-lua "$scanner" dpkg-deb dpkg-shlibdeps perl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: real-host test: $tool is not installed (scripts/deps.sh test installs it)"
    exit 0
  fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: real-host test: $*" >&2; exit 1; }

# 1. The package, unpacked.
packaged="$(cd "$build" && cpack -G DEB 2>&1)" || fail "cpack failed: $packaged"
deb="$(ls -t "$build"/kovalith_*_amd64.deb | head -n 1)"
dpkg-deb -x "$deb" "$work/root"
plugin="$work/root/usr/lib/vst/Kovalith.so"
host="$work/root/usr/bin/kovalith"
[ -f "$plugin" ] && [ -x "$host" ] || fail "$(basename "$deb") lacks /usr/lib/vst/Kovalith.so or /usr/bin/kovalith"
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q "libc6" <<<"$depends" || fail "$(basename "$deb") declares no library dependencies: '$depends'"

# Ardour keeps its configuration and scan cache under HOME, and finds Linux
# VST plug-ins through LXVST_PATH.
export HOME="$work/home" LXVST_PATH="$work/root/usr/lib/vst"
mkdir -p "$HOME"

# 2. The scan. Ardour trusts a cache entry only when it is strictly newer than
# the plug-in, in whole seconds; the unpacked file may be from this second.
touch -d "@$(($(date +%s) - 2))" "$plugin"
scan="$(LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -f "$plugin" 2>&1)" || fail "the scanner failed: $scan"
grep -q "Found Plugin: .* Kovalith" <<<"$scan" || fail "the scanner did not find Kovalith: $scan"
find "$HOME/.cache/ardour7/vst" -type f -exec touch {} +

# 3. Ardour. ardour7-lua may crash while shutting down after the script ended,
# so the script's last line, not the exit code, says whether it ran through.
ardour() {
  local log="$work/ardour-$1.log"
  timeout 300 ardour7-lua "$here/session.lua" "$1" "$work/session" kovalith >"$log" 2>&1 || true
  grep -qx "END OF SCRIPT" "$log" || { cat "$log" >&2; fail "ardour7-lua $1 did not finish"; }
  grep -E "^(take|bounce|param|reopened) " "$log"
}
created="$(ardour create)"
bounced="$(ardour bounce)"
read -r _ take_start take_length take_left take_right <<<"$(grep '^take ' <<<"$created")"
read -r _ _ bounce_length bounce_left bounce_right <<<"$(grep '^bounce ' <<<"$bounced")"
[ "$bounce_length" = "$take_length" ] || fail "the bounce has $bounce_length frames, the take $take_length"

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
wav="$here/wavdata.pl"
"$wav" stereo "$take_left" "$take_right" "$take_start" "$take_length" >"$work/take.wav"
settings=()
while read -r _ index value; do settings+=(--set "$index=$value"); done < <(grep '^param ' <<<"$created")
"$host" render "$work/take.wav" "$work/render.wav" --block 1024 "${settings[@]}" >/dev/null
"$wav" data "$work/render.wav" >"$work/render.raw"
"$wav" stereo "$bounce_left" "$bounce_right" >"$work/bounce.wav"
"$wav" data "$work/bounce.wav" >"$work/bounce.raw"
if ! cmp -s "$work/render.raw" "$work/bounce.raw"; then
  fail "Ardour's bounce differs from kovalith render: $(cmp "$work/render.raw" "$work/bounce.raw" || true)"
fi
echo "real-host test: Ardour found, saved, reopened and bounced Kovalith from $(basename "$deb");" \
     "chunk ($(base64 -d <<<"$saved" | wc -c) bytes) and $take_length-frame bounce identical to kovalith render"
