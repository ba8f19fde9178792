#!/usr/bin/env bash
# Pictures of the user interface for people to look at, as PNG in BUILD_DIR/screenshots/:
# the notifier at each edge of the screen, with a status text and with progress, on
# code pages 936 and 1252, and the skinned button in each of its states; the notifier at
# 150 % and 200 % and the buttons at 200 % display scaling. Taken on the
# user's display (a virtual one if there is none) with the build tree's Wine prefix.
# Usage: screenshots.sh [BUILD_DIR]   (default: build/x86_64, built first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The runs, on a display: called again by this script with --inside.
if [ "${1:-}" = --inside ]; then
  . scripts/wine-env.sh "$build"
  wine_prefix_ready
  wine_start
  trap wine_stop EXIT
  cd "$shots"
  wine "$build/bin/screenshots.exe"
  LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$build/bin/screenshots.exe" code_page
  # Wine reads the scale at each program's start; the prefix is left at 100 %.
  trap 'wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null; wine_stop' EXIT
  for dpi in 144 192; do
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null
    wine "$build/bin/screenshots.exe" scaled
  done
  exit
fi

if [ $# -gt 0 ]; then
  build=$(cd "$1" && pwd)
else
  bash scripts/build.sh x86_64
  build=$root/build/x86_64
fi
shots=$build/screenshots
rm -rf "$shots"
mkdir -p "$shots"
export build shots
if [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  bash "$0" --inside
else
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inside
fi
python3 scripts/bmp2png.py "$shots"/*.bmp && rm -f "$shots"/*.bmp
echo "screenshots: $(ls "$shots" | tr '\n' ' ')in $shots"
