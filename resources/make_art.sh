#!/bin/sh
# Regenerates the launcher's art in this folder: background.jpg, button.png, button_hover.png
# and kmlauncher.ico. The pictures are painted by art/paint_art.cpp from seeded noise, so a run
# reproduces the committed files; ImageMagick 6 (/usr/bin/convert) only encodes them.
# The build uses the committed files and needs neither this script nor ImageMagick.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
convert=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

g++ -O2 -std=c++17 -Wall -Wextra -o "$work/paint_art" "$here/art/paint_art.cpp"
"$work/paint_art" "$work"

# -strip and no date chunks keep the encoded files identical from run to run.
png_opts="-strip -define png:exclude-chunks=date,time"
$convert "$work/background.ppm" -strip -sampling-factor 2x2 -quality 85 -interlace none \
  "$here/background.jpg"
$convert "$work/button.pam" $png_opts "png32:$here/button.png"
$convert "$work/button_hover.pam" $png_opts "png32:$here/button_hover.png"

icons=""
for size in 16 24 32 48 64 256; do
  $convert "$work/icon$size.pam" $png_opts "png32:$work/icon$size.png"
  icons="$icons $work/icon$size.png"
done
# shellcheck disable=SC2086 # the list is our own file names, without blanks
"$work/paint_art" --ico "$here/kmlauncher.ico" $icons
echo "art written to $here"
