# What the real-host test drivers share, sourced by run.sh, vst3.sh and lv2.sh
# once they have set `label` (their name in SKIP and FAIL lines) and `build`.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

fail() { echo "FAIL: $label: $*" >&2; exit 1; }

# Exits, saying why, with "SKIP: ..." (status 0) unless every tool given is installed.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $label: $tool is not installed (scripts/deps.sh test installs it)"
      exit 0
    fi
  done
}

# The scratch folder `work`, removed on exit.
make_work() {
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
}

# The .deb cpack builds in $build, unpacked into $work/root as a user who
# installed it would have it; sets `deb`.
unpack_package() {
  local packaged
  packaged="$(cd "$build" && cpack -G DEB 2>&1)" || fail "cpack failed: $packaged"
  deb="$(ls -t "$build"/kovalith_*_amd64.deb | head -n 1)"
  dpkg-deb -x "$deb" "$work/root"
}

# Ardour's SCANNER on TARGET (whose binary is MODULE) must report a line
# matching FOUND. Ardour trusts a cache entry only when it is strictly newer
# than the plug-in, in whole seconds; the unpacked file may be from this second.
scan_plugin() {
  local scanner="$1" target="$2" module="$3" found="$4" scan
  touch -d "@$(($(date +%s) - 2))" "$module"
  scan="$(LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -f "$target" 2>&1)" || fail "the scanner failed: $scan"
  grep -q "$found" <<<"$scan" || fail "the scanner did not find Kovalith: $scan"
  find "$HOME/.cache/ardour7/vst" -type f -exec touch {} +
}

# ardour7-lua runs SCRIPT MODE on $work/session; prints the lines of its log
# whose first word is one of WORDS (as in "take|bounce"). ardour7-lua may crash
# while shutting down after the script ended, so the script's last line, not
# the exit code, says whether it ran through.
run_ardour() {
  local script="$1" mode="$2" words="$3" log="$work/ardour-$2.log"
  timeout 300 ardour7-lua "$here/$script" "$mode" "$work/session" kovalith >"$log" 2>&1 || true
  grep -qx "END OF SCRIPT" "$log" || { cat "$log" >&2; fail "ardour7-lua $mode did not finish"; }
  grep -E "^($words) " "$log"
}

# Ardour's bounce (the "bounce" line of BOUNCED) must equal, bit for bit, HOST's
# `kovalith render` of the take (the "take" line of CREATED) with the settings
# Ardour was given: the further arguments, then a --set for each "param" line
# of CREATED. Sets `take_length` and `settings`.
compare_bounce() {
  local host="$1" created="$2" bounced="$3" take_start take_left take_right bounce_length bounce_left bounce_right
  shift 3
  read -r _ take_start take_length take_left take_right <<<"$(grep '^take ' <<<"$created")"
  read -r _ _ bounce_length bounce_left bounce_right <<<"$(grep '^bounce ' <<<"$bounced")"
  [ "$bounce_length" = "$take_length" ] || fail "the bounce has $bounce_length frames, the take $take_length"
  local wav="$here/wavdata.pl"
  "$wav" stereo "$take_left" "$take_right" "$take_start" "$take_length" >"$work/take.wav"
  settings=("$@")
  local index value
  while read -r _ index value; do settings+=(--set "$index=$value"); done < <(grep '^param ' <<<"$created")
  "$host" render "$work/take.wav" "$work/render.wav" --block 1024 "${settings[@]}" >/dev/null
  "$wav" data "$work/render.wav" >"$work/render.raw"
  "$wav" stereo "$bounce_left" "$bounce_right" >"$work/bounce.wav"
  "$wav" data "$work/bounce.wav" >"$work/bounce.raw"
  if ! cmp -s "$work/render.raw" "$work/bounce.raw"; then
    fail "Ardour's bounce differs from kovalith render ${settings[*]}: $(cmp "$work/render.raw" "$work/bounce.raw" || true)"
  fi
}
