#!/usr/bin/env bash
# Installs the Debian packages the build (and, with "test", the tests; with
# "windows", the Windows cross builds and their tests under Wine; with "docs",
# the README's pictures) need, but only those that are missing. Safe to run
# again. In "windows" mode it exits 77 when those packages cannot be
# installed, so that the caller can skip.
set -euo pipefail

build_pkgs=(cmake g++ make pkg-config libcairo2-dev libx11-dev libxres-dev libxtst-dev libpng-dev zlib1g-dev
            libsndfile1-dev libgtest-dev libbenchmark-dev fonts-liberation fontconfig)
# The CLAP 1.1 headers (in /usr/share/dpf/distrho/src/clap) and the C description
# of the VST3 interface (in .../travesty).
build_pkgs+=(dpf-source)
# The tests also need a real X server, and third-party Linux VST2 plug-ins to load.
test_pkgs=(xvfb xauth x11-utils dpf-plugins-vst)
# xdotool drives the editor's menus as a user would (tests/editor/edit-scale.sh).
test_pkgs+=(xdotool)
# kovalith-jack's test runs a real JACK server (jackd with its dummy driver).
test_pkgs+=(jackd2)
# Cross compilers with the posix thread model (std::thread, std::mutex), zlib
# for them, dpkg-dev to unpack libpng's source package, GoogleTest's sources,
# and Wine with a private X server to run the DLLs.
windows_pkgs=(cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev
              googletest wine wine64 xvfb xauth)
windows_pkgs+=(dpf-source)  # the CLAP headers for the Windows .clap

# The extra CI jobs' tools: clang's fuzzer and sanitizer runtimes, a real host
# (Ardour) and dpkg-shlibdeps for the Debian package. A job whose tool is
# missing skips with a message, so these may fail to install.
extra_test_pkgs=(clang libclang-rt-14-dev dpkg-dev ardour)
# Qtractor's plug-in scanner looks at the installed .clap.
extra_test_pkgs+=(qtractor)
# The LV2 plug-in builds against lv2-dev; its tests load it through lilv, check
# its TTL (sord_validate) and run it in jalv (a JACK host: jackd2 above; suil embeds X11 UIs).
build_pkgs+=(lv2-dev)
test_pkgs+=(liblilv-dev lilv-utils sordi)
extra_test_pkgs+=(jalv libsuil-0-0)

# The README's pictures (scripts/make-readme-pictures.sh): a spoken phrase and
# its spectrograms. Not needed by the build or the tests.
docs_pkgs=(espeak-ng sox)

extra=()
case "${1:-}" in
  test) want=("${build_pkgs[@]}" "${test_pkgs[@]}"); extra=("${extra_test_pkgs[@]}") ;;
  windows) want=("${windows_pkgs[@]}") ;;
  docs) want=("${build_pkgs[@]}" "${docs_pkgs[@]}") ;;
  *) want=("${build_pkgs[@]}") ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# A list that fails to download (a mirror in sync) must not stop the others.
updated=""
apt_update() {
  [ -n "$updated" ] && return 0
  updated=yes
  $sudo apt-get update -qq || echo "apt-get update reported errors; going on with the lists it has" >&2
}
apt_install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"; }

missing=()
for p in "${want[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}" >&2
  apt_update
  if ! apt_install "${missing[@]}"; then
    # The Windows part is optional for CI: a mirror's fault skips it (77) with the reason.
    [ "${1:-}" = "windows" ] && { echo "the Windows build's packages could not be installed" >&2; exit 77; }
    exit 1
  fi
fi

for p in "${extra[@]}"; do
  installed "$p" && continue
  apt_update
  apt_install "$p" || echo "Could not install $p; the CI jobs that need it will be skipped" >&2
done

# 32-bit Wine runs the 32-bit DLL's tests. It needs the i386 architecture and
# lists that match the amd64 ones; when the archive cannot give it, the 32-bit
# run-time tests skip with the reason, and nothing here fails.
if [ "${1:-}" = "windows" ] && ! installed wine32:i386; then
  echo "Installing wine32:i386 for the 32-bit tests" >&2
  added_i386=""
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    added_i386=yes
    updated=""
  fi
  apt_update
  if ! log="$(apt_install wine32:i386 2>&1)"; then
    echo "wine32:i386 could not be installed; the 32-bit DLL's run-time tests will skip:" >&2
    echo "$log" | tail -n 5 >&2
    # Leave apt as it was rather than with an architecture nothing uses.
    [ -n "$added_i386" ] && $sudo dpkg --remove-architecture i386 || true
  fi
fi
exit 0
