#!/usr/bin/env bash
# Writes a program's manual page (OUT.1, and OUT.1.gz as Debian installs it)
# from the program's own help texts, so the two never disagree:
#   scripts/make-manpage.sh PROGRAM OUT.1 "WHAT IT IS"
# The page takes its synopsis from the help's usage line, and gives each
# command the help lists under "Commands:" a section from `PROGRAM help COMMAND`.
set -euo pipefail
program="$1"
out="$2"
what="$3"
name="$(basename "$program")"
version="$("$program" --version)"

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

commands="$("$program" --help | awk '/^Commands:$/ { on = 1; next } on && /^$/ { exit } on && $1 != "help" { print $1 }')"
usage="$("$program" --help | sed -n '1s/^usage: [^ ]* *//p')"
{
  echo ".TH $(echo "$name" | tr 'a-z' 'A-Z') 1 \"\" \"$version\" \"User Commands\""
  echo ".SH NAME"
  echo "$name \\- $what"
  echo ".SH SYNOPSIS"
  echo ".B $name"
  echo "$usage" | sed 's/\[\([^]]*\)\]/[\\fI\1\\fR]/g; s/\(^\| \)\([A-Z][A-Z]*\)/\1\\fI\2\\fR/g; s/-/\\-/g'
  echo ".SH DESCRIPTION"
  "$program" --help | sed '1d;2{/^$/d}' | roff
  if [ -n "$commands" ]; then
    echo ".SH COMMANDS"
    for command in $commands; do
      echo ".SS $command"
      "$program" help "$command" | roff
    done
  fi
  echo ".SH SEE ALSO"
  echo "The README in /usr/share/doc/kovalith."
} >"$out"
gzip -9n <"$out" >"$out.gz"
