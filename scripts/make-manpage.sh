#!/usr/bin/env bash
# Writes the manual page kovalith.1 (and kovalith.1.gz, as Debian installs
# it) from the host's own help texts, so the two never disagree:
#   scripts/make-manpage.sh KOVALITH OUT.1
set -euo pipefail
kovalith="$1"
out="$2"
version="$("$kovalith" --version)"

# Help text to roff: paragraphs, "Heading:" lines in bold, option and command
# lists as tagged paragraphs, examples as unfilled lines.
roff() {
  awk '
    function esc(s) {
      gsub(/\\/, "\\e", s)
      gsub(/--/, "\\-\\-", s)
      gsub(/ -/, " \\-", s); gsub(/\[-/, "[\\-", s); sub(/^-/, "\\-", s)
      if (s ~ /^[.'"'"']/) s = "\\&" s
      return s
    }
    function trim(s) { sub(/^ +/, "", s); return s }
    function endExamples() { if (examples) { print ".fi"; print ".RE"; examples = 0 } }
    /^$/ { endExamples(); print ".PP"; heading = ""; next }
    /^usage: / { print ".B " esc(substr($0, 8)); next }
    /^[A-Z][^:]*:$/ { endExamples(); heading = $0; print "\\fB" esc($0) "\\fR"; next }
    heading == "Examples:" && /^  / {
      if (!examples) { print ".RS"; print ".nf"; examples = 1 }
      print esc(trim($0)); next
    }
    /^     / { print esc(trim($0)); next }
    /^  [^ ]/ {
      line = trim($0)
      if (match(line, /   */)) {
        print ".TP"; print ".B " esc(substr(line, 1, RSTART - 1)); print esc(substr(line, RSTART + RLENGTH))
      } else { print ".TP"; print ".B " esc(line) }
      next
    }
    { print esc($0) }
    END { endExamples() }'
}

commands="$("$kovalith" --help | awk '/^Commands:$/ { on = 1; next } on && /^$/ { exit } on && $1 != "help" { print $1 }')"
{
  echo ".TH KOVALITH 1 \"\" \"$version\" \"User Commands\""
  echo ".SH NAME"
  echo "kovalith \\- command-line host for the Kovalith audio effect and other VST 2.4 effects"
  echo ".SH SYNOPSIS"
  echo ".B kovalith"
  echo "[\\fIoptions\\fR] \\fICOMMAND\\fR [\\fIarguments\\fR]"
  echo ".SH DESCRIPTION"
  "$kovalith" --help | sed '1,2d' | roff
  echo ".SH COMMANDS"
  for command in $commands; do
    echo ".SS $command"
    "$kovalith" help "$command" | roff
  done
  echo ".SH SEE ALSO"
  echo "The README in /usr/share/doc/kovalith, and \\fBkovalith params\\fR for the parameter reference."
} >"$out"
gzip -9n <"$out" >"$out.gz"
