#!/usr/bin/env bash
# Qtractor finds the CLAP plug-in: `cmake --install --component clap` puts Kovalith.clap into
# a temporary prefix's lib/clap (where hosts look), and Qtractor's own plug-in
# scanner, the helper its scan runs for every file, describes it from there.
#   tests/clap/qtractor-scan.sh [BUILD_DIR]    (default: build, already built)
# The scanner answers "CLAP|name|audio in:out|midi in:out|params in:out|flags|file|index|id".
# Prints "SKIP: reason" and exits 0 when Qtractor is not installed.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
scanner="$(ls /usr/lib/*/qtractor/qtractor_plugin_scan 2>/dev/null | head -n 1 || true)"
if [ -z "$scanner" ]; then
  echo "SKIP: Qtractor scan: qtractor is not installed (scripts/deps.sh test installs it)"
  exit 0
fi
[ -f "$build/Kovalith.clap" ] || { echo "FAIL: Qtractor scan: $build/Kovalith.clap is not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: Qtractor scan: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" --component clap >/dev/null
plugin="$work/usr/lib/clap/Kovalith.clap"
[ -f "$plugin" ] || fail "cmake --install put no lib/clap/Kovalith.clap"

# Qt wants a runtime directory of its own; the scanner needs no display.
export XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
answer="$(echo "CLAP:$plugin" | timeout 60 "$scanner" 2>"$work/scan.err")" || fail "the scanner failed: $(cat "$work/scan.err")"
echo "$answer"
line="$(grep '^CLAP|' <<<"$answer" | head -n 1)"
[ -n "$line" ] || fail "the scanner found no CLAP plug-in in $plugin: $(cat "$work/scan.err")"
IFS='|' read -r type name audio midi params flags file index id <<<"$line"
[ "$name" = "Kovalith" ] || fail "name '$name'"
[ "$audio" = "2:2" ] || fail "audio ports '$audio', want stereo in and out"
[ "$midi" = "1:0" ] || fail "MIDI ports '$midi', want one input"
[ "${params%%:*}" -gt 40 ] || fail "parameters '$params'"
grep -qw GUI <<<"${flags//,/ }" || fail "no editor in flags '$flags'"
[ "$file" = "$plugin" ] || fail "file '$file'"
echo "PASS: Qtractor's scanner finds Kovalith.clap ($params parameters, flags $flags)"
