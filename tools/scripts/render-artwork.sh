#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the interface artwork from the SVG sources in resources/images/src/ into the PNG
# files next to them in resources/images/, each also at twice the size as NAME@2x.png (which
# Qt picks on screens scaled 2x), and builds the busy animation loading.gif from rendered
# spinner frames. Needs rsvg-convert (librsvg2-bin), ImageMagick's convert and python3.
# The rendered files are committed, so the build itself never runs this.
set -euo pipefail
cd "$(dirname "$0")/../.."

src=resources/images/src
out=resources/images

for tool in rsvg-convert convert; do
    command -v "$tool" >/dev/null || { echo "render-artwork: $tool is missing" >&2; exit 1; }
done

# Every SVG except the spinner template becomes the PNG of the same relative path, at its own
# size and at twice that size.
while IFS= read -r svg; do
    rel=${svg#"$src"/}
    base="$out/${rel%.svg}"
    mkdir -p "$(dirname "$base")"
    for zoom in 1 2; do
        png=$base.png
        [ "$zoom" -eq 1 ] || png=$base@${zoom}x.png
        rsvg-convert --format=png --zoom="$zoom" --output="$png" "$svg"
        # Drop metadata so re-rendering an unchanged source gives the same bytes.
        convert "$png" -strip -define png:exclude-chunks=date,time "$png"
        # Unfiltered rows: the window decodes its pictures at start in about half the time.
        python3 tools/scripts/png-unfilter.py "$png"
        echo "rendered $png"
    done
done < <(find "$src" -name '*.svg' ! -name 'loading-frame.svg' | sort)

# Busy spinner: an arc that turns once per cycle while it grows and shrinks.
frames=36      # frames per cycle
delay=3        # hundredths of a second per frame
matte='#EFEFEF' # window colour that the soft edges are blended towards
circumference=364.42 # 2 * pi * 58, the spinner's radius
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for ((i = 0; i < frames; i++)); do
    read -r arc angle < <(awk -v i="$i" -v n="$frames" -v c="$circumference" 'BEGIN {
        pi = atan2(0, -1); t = i / n
        len = 50 + 190 * (0.5 - 0.5 * cos(2 * pi * t))  # arc length in degrees
        start = 360 * t - len / 2 - 90                 # mid-point turns steadily
        printf "%.2f %.2f\n", len / 360 * c, start }')
    frame=$(printf '%s/frame-%02d' "$tmp" "$i")
    sed -e "s/@ARC@/$arc/" -e "s/@ANGLE@/$angle/" "$src/loading-frame.svg" > "$frame.svg"
    rsvg-convert --format=png --output="$frame-rgba.png" "$frame.svg"
    # GIF has one-bit transparency: blend edges onto the matte, keep pixels that are mostly
    # covered and make the rest transparent.
    convert "$frame-rgba.png" \
        \( +clone -background "$matte" -flatten \) \
        \( -clone 0 -alpha extract -threshold 30% \) \
        -delete 0 -alpha off -compose CopyOpacity -composite "$frame.png"
done
convert -delay "$delay" -loop 0 -dispose Background "$tmp"/frame-??.png "$out/loading.gif"
echo "rendered $out/loading.gif"
