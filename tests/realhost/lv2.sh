#!/usr/bin/env bash
# The LV2 real-host test: Ardour finds, hosts, saves, reopens and bounces the
# LV2 bundle of a build.
#   tests/realhost/lv2.sh [BUILD_DIR]    (default: build, already built)
# 1. ardour7-lua (lv2-session.lua, Dummy backend) records a take on a stereo
#    track, inserts Kovalith from BUILD_DIR/Kovalith.lv2, selects a program
#    through its preset, sets a knob and menus, saves; then reopens and bounces.
# 2. The reopened session's plug-in state must equal the saved one, and its
#    automation controls must be the plug-in's parameters only.
# 3. The bounce must equal, bit for bit, `kovalith render` (the VST 2.4
#    plug-in) of the take with the same program and settings.
# Prints "SKIP: reason" and exits 0 when Ardour or perl is not installed.
set -euo pipefail
label="LV2 real-host test"
build="$(cd "${1:-build}" && pwd)"
source "$(dirname "$0")/common.sh"
require_tools ardour7-lua perl base64
bundle="$build/Kovalith.lv2"
host="$build/kovalith"
make_work
[ -f "$bundle/Kovalith.so" ] && [ -f "$bundle/manifest.ttl" ] && [ -x "$host" ] ||
  fail "$build lacks Kovalith.lv2 or kovalith: build it first"

# Ardour keeps its configuration under HOME and finds LV2 bundles through LV2_PATH.
export HOME="$work/home" LV2_PATH="$work/lv2"
mkdir -p "$HOME" "$LV2_PATH"
ln -s "$bundle" "$LV2_PATH/Kovalith.lv2"

created="$(run_ardour lv2-session.lua create "take|bounce|preset|param|automation|automation-count")"
bounced="$(run_ardour lv2-session.lua bounce "take|bounce|preset|param|automation|automation-count")"

# 2a. The state each snapshot refers to (Ardour writes a new state folder only
# when the state changed), and the port values it saved.
state() {
  local dir
  dir="$(perl -ne 'print $1 if /<lv2 [^>]*state-dir="([^"]*)"/' "$1")"
  [ -n "$dir" ] || return 0
  perl -0ne 'print $1 if /kovalith#state>\s*"""([^"]*)"""/s' "$work"/session/plugins/*/"$dir"/state.ttl | tr -d ' \n\t'
}
ports() { perl -ne 'print "$1=$2\n" if /<Port symbol="([^"]*)" value="([^"]*)"/' "$1"; }
saved="$(state "$work/session/kovalith.ardour")"
reopened="$(state "$work/session/reopened.ardour")"
[ -n "$saved" ] || fail "the saved session holds no state of Kovalith"
[ "$saved" = "$reopened" ] || fail "the reopened plug-in's state differs from the saved one"
[ "$(ports "$work/session/kovalith.ardour")" = "$(ports "$work/session/reopened.ardour")" ] ||
  fail "the reopened session's port values differ from the saved ones"

# 2b. The automation list: the parameter ports, nothing else.
count="$(sed -n 's/^automation-count //p' <<<"$bounced")"
[ "$count" = 54 ] || fail "Ardour lists $count automation controls for Kovalith, not its 54 parameters"

# 3. The bounce against the command-line host with the same settings.
compare_bounce "$host" "$created" "$bounced" --preset "$(sed -n 's/^preset //p' <<<"$created")"
echo "LV2 real-host test: Ardour saved, reopened and bounced Kovalith.lv2; state" \
     "($(base64 -d <<<"$saved" | wc -c) bytes) kept, $count automation controls, $take_length-frame bounce" \
     "identical to kovalith render ${settings[*]}"
