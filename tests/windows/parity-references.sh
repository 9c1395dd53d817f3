#!/usr/bin/env bash
# The Linux side of the Windows parity test: renders every case of CASES
# from DIR/input.wav with the Linux library's command-line host into
# DIR/<case>.wav, and writes its `info` answers to DIR/info.txt.
#
#   parity-references.sh KOVALITH_EXE CASES DIR
#
# Without a Linux build it writes DIR/no-references.txt with the reason, and
# the parity tests skip; without the input (Wine could not run) it skips too.
set -euo pipefail
exe="$1" cases="$2" dir="$3"
rm -f "$dir/no-references.txt"
if [ ! -f "$dir/input.wav" ]; then
  echo "SKIPPED: no $dir/input.wav (the Windows side did not write it)"
  exit 77
fi
if [ ! -x "$exe" ]; then
  echo "no Linux build at $exe: build it first (./run.sh or ./test.sh)" | tee "$dir/no-references.txt"
  exit 0
fi
"$exe" info >"$dir/info.txt"
while IFS=$'\t' read -r -a fields; do
  [ ${#fields[@]} -eq 0 ] || [ "${fields[0]:0:1}" = "#" ] && continue
  "$exe" render "$dir/input.wav" "$dir/${fields[0]}.wav" --block 512 --tail 1 "${fields[@]:1}" >/dev/null
done <"$cases"
echo "rendered the Linux references into $dir"
