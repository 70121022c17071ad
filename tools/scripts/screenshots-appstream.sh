#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the English screenshots of the real window program (screenshots-languages.sh) and
# stores the three that the AppStream metadata and the README show, palette-reduced, under
# docs/screenshots/: main-connected.png, update-in-progress.png, main-unconnected.png; and the
# connected window on a screen scaled 150 % (Xft.dpi 144), which the README shows:
# main-connected-144dpi.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
root=$corvane_root

install_packages pngquant

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The pictures that users see come from the default (Qt 5) build.
(cd "$work" && CORVANE_SCREENSHOT_QT=5 "$here/screenshots-languages.sh" 0)
(cd "$work" && CORVANE_SCREENSHOT_QT=5 "$here/screenshots-languages.sh" --dpi 144 0)
shots=$work/screenshots/languages
out=$root/docs/screenshots
mkdir -p "$out"
for pair in 0-en:main-connected 5-en-updating:update-in-progress 7-en-unconnected:main-unconnected \
    -144dpi/0-en:main-connected-144dpi; do
    picture=$shots/${pair%%:*}.png
    [[ $pair == -* ]] && picture=$shots${pair%%:*}.png
    pngquant --force --strip --speed 1 --output "$out/${pair#*:}.png" 64 "$picture"
    echo "$out/${pair#*:}.png"
done
