#!/usr/bin/env bash
# Checks Windows DLLs as a host sees them: exactly the exports VSTPluginMain
# and main, and imports from system DLLs only (no mingw runtime, libstdc++,
# winpthread, zlib or libpng DLL beside it).
#
#   [OBJDUMP=...] [EXPORTS="name..."] scripts/check-windows-exports.sh DLL...
#
# EXPORTS, when set, is the list of exports to expect instead, sorted (the .clap: EXPORTS=clap_entry).
set -euo pipefail
system_dlls='^(KERNEL32|USER32|GDI32|msvcrt|ole32|OLEAUT32|ADVAPI32|COMCTL32|comdlg32|SHELL32|msimg32|UxTheme)\.dll$'
failed=0
want="${EXPORTS:-VSTPluginMain main} "
for dll in "$@"; do
  dump="$("${OBJDUMP:-objdump}" -p "$dll")"
  exports="$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[ *[0-9]*\] //p' | LC_ALL=C sort | tr '\n' ' ')"
  imports="$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
  echo "$dll: exports ${exports:-none}; imports ${imports:-none}"
  if [ "$exports" != "$want" ]; then
    echo "  wrong exports: want exactly $want" >&2
    failed=1
  fi
  for name in $imports; do
    if ! grep -qiE "$system_dlls" <<<"$name"; then
      echo "  imports $name, which is not a system DLL" >&2
      failed=1
    fi
  done
done
exit "$failed"
