#!/bin/sh
# `kovalith edit --scale S` on a private Xvfb, driven with xdotool as a user would:
# the host's window and the editor in it take the scaled size; a right click on the panel's background
# and a click on "200 %" resize it; the choice is in the settings file and wins over
# the host's factor in the next session. Exits 77 (skip) when a tool is missing.
#   edit-scale.sh KOVALITH_EXE SCRATCH_DIR
set -u
host="$1"
scratch="$2/edit-scale"
for tool in Xvfb xdotool xwininfo; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

rm -rf "$scratch"
mkdir -p "$scratch/config"
# Settings of this test's own, never the user's.
export XDG_CONFIG_HOME="$scratch/config"
# The sanitizer build checks the host for leaks at exit; fontconfig's caches are excused.
printf 'leak:libfontconfig.so\n' >"$scratch/lsan"
export LSAN_OPTIONS="suppressions=$scratch/lsan"

Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1600x1200x24 3>"$scratch/display" >/dev/null 2>&1 &
xvfb=$!
edit=""
finish() {
  [ -n "$edit" ] && kill "$edit" 2>/dev/null && wait "$edit" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap finish EXIT
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "SKIP: Xvfb did not start"; exit 77; }
export DISPLAY=":$(head -n1 "$scratch/display")"

fail() { echo "FAIL: $*"; cat "$scratch/err" 2>/dev/null; exit 1; }

# Starts `kovalith edit --scale $1` and sets $window to its window.
start_edit() {
  "$host" edit --scale "$1" --seconds 60 >"$scratch/out" 2>"$scratch/err" &
  edit=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Kovalith$' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no editor window for --scale $1"
}
stop_edit() {
  kill "$edit"
  wait "$edit" || fail "edit ended with $?"
  edit=""
}
size_of() { xdotool getwindowgeometry --shell "$1" | awk -F= '/^WIDTH/{w=$2} /^HEIGHT/{h=$2} END{print w "x" h}'; }
# The editor's own window inside the host's.
editor_size_of() { xwininfo -children -id "$1" | grep -o ' [0-9]*x[0-9]*+' | head -n1 | tr -d ' +'; }
# Waits up to five seconds for $window, and the editor in it, to be $1 (WIDTHxHEIGHT).
expect_size() {
  for _ in $(seq 50); do
    [ "$(size_of "$window")" = "$1" ] && [ "$(editor_size_of "$window")" = "$1" ] && return 0
    sleep 0.1
  done
  fail "window is $(size_of "$window") and the editor $(editor_size_of "$window"), not $1 ($2)"
}

# 150 %: 659 x 479 times 1.5, rounded.
start_edit 1.5
expect_size 989x719 "the host's factor"

# The newest unnamed window on the root: an open pop-up list.
open_list() { xwininfo -root -children | awk '/\(has no name\)/ && / [0-9]+x[0-9]+\+/ {g=$0} END{print g}'; }

# A right click on a control (the "Mix" knob) keeps to the control: no menu.
xdotool mousemove --window "$window" 907 90 click 3
sleep 0.5
[ -z "$(open_list)" ] || fail "a right click on a knob opened a menu"

# A right click in the panel's left margin, where no control is, opens the scale menu, a
# list of six entries of one height.
xdotool mousemove --window "$window" 12 450 click 3
list=""
for _ in $(seq 50); do
  list=$(open_list)
  [ -n "$list" ] && break
  sleep 0.1
done
[ -n "$list" ] || fail "no scale menu after the right click"
geometry=$(printf '%s\n' "$list" | grep -o '[0-9]*x[0-9]*+-*[0-9]*+-*[0-9]*' | head -n1)
width=${geometry%%x*}; rest=${geometry#*x}
height=${rest%%+*}; rest=${rest#*+}
left=${rest%%+*}; top=${rest#*+}
entry=$((height / 6))
# The fifth entry: "200 %".
xdotool mousemove $((left + width / 2)) $((top + entry * 4 + entry / 2))
sleep 0.1
xdotool click 1
expect_size 1318x958 "after choosing 200 % in the menu"
stop_edit
grep -q '^scale=200$' "$XDG_CONFIG_HOME/kovalith/editor.conf" || fail "the choice is not in the settings file"

# The next session: the user's choice wins over the host's 125 %.
start_edit 1.25
expect_size 1318x958 "the remembered choice"
stop_edit
echo "PASS"
