#!/usr/bin/env bash
# Installs the Debian packages the build (and, with "test", the tests) need,
# but only those that are missing. Safe to run again.
set -euo pipefail

build_pkgs=(cmake g++ make pkg-config libcairo2-dev libx11-dev libxres-dev libxtst-dev libpng-dev zlib1g-dev
            libsndfile1-dev libgtest-dev libbenchmark-dev fonts-liberation fontconfig)
# The tests also need a real X server, and third-party Linux VST2 plug-ins to load.
test_pkgs=(xvfb xauth x11-utils dpf-plugins-vst)

want=("${build_pkgs[@]}")
[ "${1:-}" = "test" ] && want+=("${test_pkgs[@]}")

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# A failing list (another architecture, a mirror in sync) must not stop the install.
$sudo apt-get update -qq || echo "apt-get update reported errors; installing from the lists it has" >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
