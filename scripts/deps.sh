#!/usr/bin/env bash
# Installs the Debian packages the build (and, with "test", the tests) need,
# but only those that are missing. Safe to run again.
set -euo pipefail

build_pkgs=(cmake g++ make pkg-config libcairo2-dev libx11-dev libxres-dev libxtst-dev libpng-dev zlib1g-dev
            libsndfile1-dev libgtest-dev libbenchmark-dev fonts-liberation fontconfig)
# The tests also need a real X server, and third-party Linux VST2 plug-ins to load.
test_pkgs=(xvfb xauth x11-utils dpf-plugins-vst)

# The extra CI jobs' tools: clang's fuzzer and sanitizer runtimes, a real host
# (Ardour) and dpkg-shlibdeps for the Debian package. A job whose tool is
# missing skips with a message, so these may fail to install (see the end).
extra_test_pkgs=(clang libclang-rt-14-dev dpkg-dev ardour)

want=("${build_pkgs[@]}")
[ "${1:-}" = "test" ] && want+=("${test_pkgs[@]}")
extra=()
[ "${1:-}" = "test" ] && extra=("${extra_test_pkgs[@]}")

# Prints those of the given packages that are not installed, one a line.
not_installed() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(not_installed "${want[@]}")
mapfile -t missing_extra < <(not_installed "${extra[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_extra[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]} ${missing_extra[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# A failing list (another architecture, a mirror in sync) must not stop the install.
$sudo apt-get update -qq || echo "apt-get update reported errors; installing from the lists it has" >&2
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for p in "${missing_extra[@]}"; do
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p" ||
    echo "Could not install $p; the CI jobs that need it will be skipped" >&2
done
