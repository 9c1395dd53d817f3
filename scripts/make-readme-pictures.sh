#!/usr/bin/env bash
# Draws the README's pictures into docs/pictures/: a spoken phrase (espeak-ng)
# as a spectrogram before and after each factory preset (rendered by
# `kovalith render`, drawn by sox), and the editor window (`kovalith snapshot`).
#
#   scripts/make-readme-pictures.sh [BUILD_DIR]    (default: build)
#
# Installs espeak-ng and sox when they are missing (scripts/deps.sh docs) and
# builds the host and the plug-in when BUILD_DIR lacks them.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out=docs/pictures

scripts/deps.sh docs
if [ ! -x "$build/kovalith" ] || [ ! -f "$build/Kovalith.so" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kovalith Kovalith -j2
fi
kovalith="$build/kovalith"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The phrase, at 44.1 kHz; a second of silence lets the delays ring out.
espeak-ng -v en -s 150 -w "$work/spoken.wav" "Put on your rubber boots, the rain is coming back tonight."
sox -V1 "$work/spoken.wav" -r 44100 -c 1 "$work/voice.wav" pad 0.2 1.0 norm -3

# A spectrogram of the first channel: 0 to 11 kHz (the voice has little above), 80 dB.
spectrogram() {  # IN.wav OUT.png TITLE
  sox -V1 "$1" -n remix 1 rate 22050 spectrogram -x 560 -y 160 -z 80 -l -t "$3" -c "" -o "$2"
}
spectrogram "$work/voice.wav" "$out/voice-dry.png" "the phrase, dry"

presets=("Rubber Boots" "Intermittent" "Scratchy" "FBM" "Skaro Defence Force")
for n in "${!presets[@]}"; do
  name="${presets[$n]}"
  file="$(echo "$name" | tr 'A-Z ' 'a-z-')"
  "$kovalith" render "$work/voice.wav" "$work/$file.wav" --preset "$name" >/dev/null
  spectrogram "$work/$file.wav" "$out/voice-$file.png" "through \"$name\""
done
"$kovalith" snapshot "$out/editor.png" --preset "Rubber Boots" >/dev/null
echo "wrote the pictures in $out/"
