#!/usr/bin/env bash
# Cross-builds the plug-in for Windows from the same sources:
#   build-win32/Kovalith.dll  32-bit Windows (i686)
#   build-win64/Kovalith.dll  64-bit Windows (x86-64)
#   build-win32/Kovalith.clap, build-win64/Kovalith.clap  the CLAP plug-in, same two
#   build-windows/Kovalith.vst3  the VST3 bundle with both (Contents/x86-win, Contents/x86_64-win)
# with Debian's mingw-w64 compilers, libpng built from Debian's source package.
#
#   scripts/build-windows.sh [--tests] [--werror]
#
# --tests also builds the Windows test program (run by ctest under Wine; see
# scripts/test-windows.sh), --werror treats warnings as errors.
# Exits 77 when its packages cannot be installed or the libpng source cannot
# be fetched (no network on a first build, a mirror's fault).
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
for arg in "$@"; do
  case "$arg" in
    --tests) extra+=(-DKOVALITH_WINDOWS_TESTS=ON) ;;
    --werror) extra+=(-DKOVALITH_WERROR=ON) ;;
    *) echo "usage: $0 [--tests] [--werror]" >&2; exit 2 ;;
  esac
done

scripts/deps.sh windows
libpng_source="$(scripts/fetch-libpng-source.sh build-win-deps/libpng)"
jobs="$(nproc)"
[ "$jobs" -gt 2 ] && jobs=2

for arch in win32:i686 win64:x86_64; do
  dir="build-${arch%%:*}"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-${arch#*:}.cmake" \
        -DKOVALITH_LIBPNG_SOURCE_DIR="$libpng_source" \
        -DKOVALITH_BUILD_TESTS=OFF -DKOVALITH_BUILD_BENCH=OFF "${extra[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "built $dir/Kovalith.dll" >&2
  if [ -f "$dir/Kovalith.clap" ]; then echo "built $dir/Kovalith.clap" >&2; fi
done
# One VST3 bundle with both architectures' modules; each host loads its own.
# (Without dpf-source the builds have none: vst3/CMakeLists.txt said why.)
bundle=build-windows/Kovalith.vst3
rm -rf "$bundle"
if [ -d build-win32/Kovalith.vst3/Contents/x86-win ] && [ -d build-win64/Kovalith.vst3/Contents/x86_64-win ]; then
  mkdir -p "$bundle/Contents"
  cp -r build-win32/Kovalith.vst3/Contents/x86-win build-win64/Kovalith.vst3/Contents/x86_64-win "$bundle/Contents/"
  echo "built $bundle" >&2
fi
