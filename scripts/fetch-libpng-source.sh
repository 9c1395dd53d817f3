#!/usr/bin/env bash
# Fetches and unpacks Debian's own libpng1.6 source package for the Windows
# cross builds, once: later runs reuse the unpacked tree in the cache.
#
#   scripts/fetch-libpng-source.sh CACHE_DIR
#
# Prints the source directory on stdout. Pinned to the upstream version Debian 12
# ships (1.6.39), with the newest Debian revision of it (security patches)
# that the archive offers. apt runs on private lists and a private sources
# list; the machine's apt configuration is not touched. Exits 77, with the
# reason on stderr, when the source cannot be fetched (no network, mirror).
set -euo pipefail

upstream_version=1.6.39
cache="$(mkdir -p "$1" && cd "$1" && pwd)"
unpacked="$cache/libpng1.6-$upstream_version"

if [ -f "$unpacked/png.h" ]; then
  echo "$unpacked"
  exit 0
fi

unavailable() {
  echo "libpng source unavailable: $*" >&2
  exit 77
}

apt_dir="$cache/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$cache/download"
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$apt_dir/sources.list" <<LIST
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename main
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main
LIST
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o Debug::NoLocking=1
             -o APT::Sandbox::User=root)
[ "$(id -u)" -ne 0 ] && apt_options+=(-o APT::Sandbox::User="$(id -un)")

# A failing list (one mirror in sync) leaves the others usable.
apt-get "${apt_options[@]}" -qq update >&2 || echo "apt-get update reported errors; going on" >&2
versions="$(apt-cache "${apt_options[@]}" showsrc libpng1.6 2>/dev/null |
            sed -n "s/^Version: \(${upstream_version//./\\.}-.*\)/\1/p" | sort -Vru)"
[ -n "$versions" ] || unavailable "no libpng1.6 $upstream_version source in the archive's lists"

cd "$cache/download"
for version in $versions; do
  rm -f ./*.dsc ./*.debian.tar.*
  if apt-get "${apt_options[@]}" -qq --download-only source "libpng1.6=$version" >&2 2>/dev/null; then
    rm -rf "$unpacked.tmp"
    # apt checked the files against the signed lists; the .dsc signature key is not installed.
    dpkg-source --no-check --no-copy -x "libpng1.6_${version#*:}.dsc" "$unpacked.tmp" >/dev/null
    mv "$unpacked.tmp" "$unpacked"
    echo "$version" >"$unpacked/.debian-version"
    echo "libpng1.6 $version unpacked in $unpacked" >&2
    echo "$unpacked"
    exit 0
  fi
  echo "libpng1.6 $version could not be downloaded; trying an older revision" >&2
done
unavailable "no revision of libpng1.6 $upstream_version could be downloaded"
