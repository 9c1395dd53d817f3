#!/usr/bin/env bash
# The README's parameter reference is `kovalith params --markdown`, between two
# marker comments. Without --update: exits 1 and shows the difference when they
# disagree. With --update: writes the command's output between the markers.
#   scripts/readme-params.sh [--update] [KOVALITH] [README]
set -euo pipefail
update=""
if [ "${1:-}" = "--update" ]; then update=yes; shift; fi
here="$(cd "$(dirname "$0")/.." && pwd)"
kovalith="${1:-$here/build/kovalith}"
readme="${2:-$here/README.md}"
begin='<!-- parameter reference: kovalith params --markdown -->'
end='<!-- end of parameter reference -->'

for marker in "$begin" "$end"; do
  if [ "$(grep -cxF -- "$marker" "$readme")" != 1 ]; then
    echo "$readme needs the line '$marker' exactly once" >&2
    exit 1
  fi
done
generated="$(mktemp)"
trap 'rm -f "$generated" "$generated.readme"' EXIT
# The table at the default sample rate, whatever the caller's environment.
"$kovalith" params --markdown >"$generated"

if [ -n "$update" ]; then
  awk -v begin="$begin" -v end="$end" -v file="$generated" '
    $0 == begin { print; while ((getline line < file) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }' "$readme" >"$generated.readme"
  cat "$generated.readme" >"$readme"
  echo "updated the parameter reference in $readme"
  exit 0
fi
if ! diff -u --label "README.md (parameter reference)" --label "kovalith params --markdown" \
     <(awk -v begin="$begin" -v end="$end" '$0 == end { inside = 0 } inside { print } $0 == begin { inside = 1 }' \
          "$readme") "$generated"; then
  echo "The README's parameter reference is out of date: run scripts/readme-params.sh --update" >&2
  exit 1
fi
echo "the README's parameter reference matches kovalith params --markdown"
