#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Screenshots of the real window program: per interface language (or only the language indexes
# 0-4 given) the connected page and the "Open Firmware" file dialog, then a firmware update in
# progress, its result and the unconnected page, saved as PNG files into ./screenshots/languages/.
# The program is built against the adapter emulator with its catalogue host pointed at a local
# catalogue server that serves the demo catalogue; everything runs under a virtual X server, so
# neither a display nor the hardware is needed.
#
#   tools/scripts/screenshots-languages.sh [--dpi DPI] [LANGUAGE_INDEX...]
#
# --dpi DPI  loads "Xft.dpi: DPI" (default 96) into the virtual X server's resources, as
#            desktops do (120, 144, 168 and 192 are screens scaled 125 %, 150 %, 175 % and
#            2x), on a screen large enough for it, and saves into ./screenshots/languages-DPIdpi/.
#
# The pictures are taken with a Qt 5 and a Qt 6 build of the program, each with its own build
# folder (build-screenshots, shared with screenshots.sh, and build-screenshots-qt6) and folder
# of pictures (screenshots/languages/, screenshots/languages-qt6/), so that the two can be
# compared. CORVANE_SCREENSHOT_QT lists the toolkits to take them with (default "5 6");
# CORVANE_SCREENSHOT_BUILD names the build folder when it is only one;
# CORVANE_SCREENSHOT_PORT the catalogue server's port (default 8771; it is built into the program).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

# Positions inside the fixed-size 520 x 708 window, in its own (unscaled) units.
update_x=260
update_y=618
close_x=486
close_y=30
open_file_x=452
open_file_y=505

if [ "${1:-}" = "--inside-x" ]; then
    # Runs under xvfb-run: the program, xdotool and import share the virtual display.
    shift
    work=$1 program=$2 emulator=$3 out=$4 dpi=$5
    shift 5
    codes=(en zh ja ru fr)
    # Set at 96 too, as desktops do: without it Qt 5 would scale by the virtual screen's
    # nominal physical resolution (100 dpi for Xvfb).
    printf 'Xft.dpi: %s\n' "$dpi" | xrdb -nocpp -merge
    echo "Xft.dpi: $(xrdb -query | sed -n 's/^Xft.dpi:[[:space:]]*//p')"

    windows_of() {
        xdotool search --onlyvisible --pid "$1" 2>/dev/null || true
    }

    window_of() {
        local pid=$1 wid=""
        # Up to 30 s: a first start on a busy machine can take a while.
        for _ in $(seq 300); do
            kill -0 "$pid" 2>/dev/null || return 1
            wid=$(windows_of "$pid" | head -n 1)
            [ -n "$wid" ] && break
            sleep 0.1
        done
        [ -n "$wid" ] && echo "$wid"
    }

    # A second window of the program (a dialog) over the main window, once it is shown.
    other_window_of() {
        local pid=$1 main=$2 wid=""
        for _ in $(seq 100); do
            wid=$(windows_of "$pid" | grep -vx "$main" | head -n 1 || true)
            [ -n "$wid" ] && break
            sleep 0.1
        done
        [ -n "$wid" ] && echo "$wid"
    }

    capture() {
        local wid=$1 file=$2
        eval "$(xdotool getwindowgeometry --shell "$wid")"
        import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
        echo "  $file (${WIDTH}x${HEIGHT})"
    }

    # Clicks a point given in the window's own units; a scaled window is larger on screen.
    click_at() {
        local wid=$1 x=$2 y=$3
        eval "$(xdotool getwindowgeometry --shell "$wid")"
        xdotool mousemove --window "$wid" $((x * WIDTH / 520)) $((y * WIDTH / 520)) click 1 \
            >/dev/null 2>&1 || true
    }

    # Closes through the window's own close button, so the program ends normally (after a
    # running write, which the button waits for).
    finish() {
        local pid=$1 wid=$2
        click_at "$wid" "$close_x" "$close_y"
        for _ in $(seq 600); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "the program did not close; ended" >&2
            kill "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    }

    # One run of the program with its own home and data folder, language and emulated adapter
    # (pulled out when a third argument says "detached"); its download folder holds a firmware
    # file for the file dialog to show.
    start() {
        local name=$1 language=$2 plugged=${3:-attached}
        local data=$work/$name
        mkdir -p "$data/Corvane/Corvane X9 Firmware Tool" "$data/Downloads"
        printf '[General]\nCurrentLanguage=%s\n' "$language" \
            > "$data/Corvane/Corvane X9 Firmware Tool/corvaneflashtool.ini"
        cp "$work/www/download/corvane-x9/"*.rfw "$data/Downloads/"
        export HOME=$data XDG_DATA_HOME=$data XDG_CONFIG_HOME=$data/config XDG_CACHE_HOME=$data/cache
        export CORVANE_EMULATOR_STATE=$work/$name.state
        "$emulator" init --version 5.5.24 --boot-mode 0 >/dev/null
        [ "$plugged" = attached ] || "$emulator" detach >/dev/null
        # The pointer waits in the screen's far corner, off every button's hover picture.
        read -r screen_w screen_h < <(xdotool getdisplaygeometry)
        xdotool mousemove $((screen_w - 1)) $((screen_h - 1)) >/dev/null 2>&1 || true
        "$program" >"$work/$name.log" 2>&1 &
        started_pid=$!
    }

    started_window() {
        window_of "$1" || { echo "the program did not show its window (see $work/$2.log)" >&2; exit 1; }
    }

    for index in "$@"; do
        start "lang-$index" "$index"
        pid=$started_pid
        wid=$(started_window "$pid" "lang-$index")
        # Catalogue fetched, adapter read, busy animation gone.
        sleep 2.5
        capture "$wid" "$out/${index}-${codes[$index]}.png"
        # The "Open Firmware" dialog, then cancelled.
        click_at "$wid" "$open_file_x" "$open_file_y"
        if dialog=$(other_window_of "$pid" "$wid"); then
            sleep 1
            capture "$dialog" "$out/${index}-${codes[$index]}-open-firmware.png"
            # Typed, not sent: the toolkit takes keys from the window that has the focus.
            xdotool windowfocus --sync "$dialog" key Escape >/dev/null 2>&1 || true
            sleep 0.5
        else
            echo "the file dialog did not open" >&2
        fi
        finish "$pid" "$wid"
    done

    # An update in progress: a slow adapter keeps the write on screen for a few seconds.
    start "updating" 0
    pid=$started_pid
    "$emulator" latency 400 >/dev/null
    wid=$(started_window "$pid" updating)
    sleep 2.5
    click_at "$wid" "$update_x" "$update_y"
    sleep 2.5
    capture "$wid" "$out/5-en-updating.png"
    # The result message opens as a second window over the main one.
    for _ in $(seq 600); do
        [ "$(windows_of "$pid" | wc -l)" -ge 2 ] && break
        sleep 0.1
    done
    sleep 0.5
    capture "$wid" "$out/6-en-updated.png"
    # The message is modal: acknowledge it before closing.
    if message=$(other_window_of "$pid" "$wid"); then
        xdotool windowfocus --sync "$message" key Escape >/dev/null 2>&1 || true
        sleep 0.5
    fi
    finish "$pid" "$wid"

    # No adapter: the page that asks for one.
    start "unconnected" 0 detached
    pid=$started_pid
    wid=$(started_window "$pid" unconnected)
    sleep 2.5
    capture "$wid" "$out/7-en-unconnected.png"
    finish "$pid" "$wid"
    exit 0
fi

dpi=96
while [ $# -gt 0 ]; do
    case $1 in
    --dpi)
        [[ ${2:-} =~ ^[0-9]+$ ]] && [ "$2" -ge 48 ] && [ "$2" -le 480 ] \
            || { echo "--dpi needs a number from 48 to 480" >&2; exit 2; }
        dpi=$2
        shift 2
        ;;
    *) break ;;
    esac
done
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(0 1 2 3 4)
for index in "${languages[@]}"; do
    case $index in
    [0-4]) ;;
    *) echo "language index must be 0 to 4: $index" >&2; exit 2 ;;
    esac
done

# Tools this script needs besides the build dependencies (tools/scripts/install-deps.sh).
install_packages xvfb xauth imagemagick xdotool x11-xserver-utils

read -r -a majors <<<"${CORVANE_SCREENSHOT_QT:-5 6}"
for major in "${majors[@]}"; do
    case $major in
    5 | 6) ;;
    *) echo "CORVANE_SCREENSHOT_QT lists 5, 6 or both: $major" >&2; exit 2 ;;
    esac
done
if [ -n "${CORVANE_SCREENSHOT_BUILD:-}" ] && [ ${#majors[@]} -ne 1 ]; then
    echo "CORVANE_SCREENSHOT_BUILD needs one toolkit in CORVANE_SCREENSHOT_QT" >&2
    exit 2
fi

work=$(mktemp -d)
cleanup() {
    [ -z "${catalogue_server_pid:-}" ] || kill "$catalogue_server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$here/make-demo-catalogue.sh" "$work/www" "http://127.0.0.1:$screenshot_port" >/dev/null
start_catalogue_server "$work/www" "$screenshot_port" "$work/server.port"

# The screen grows with the resolution, so that the scaled window and its dialogs fit. Without
# -noreset the server would drop the loaded resources when xrdb, its first client, disconnects.
screen="$((1280 * dpi / 96))x$((1024 * dpi / 96))x24"
for major in "${majors[@]}"; do
    build=$(screenshot_build "$major" corvane-firmware-tool corvane-emulator)
    out=$PWD/screenshots/languages
    [ "$major" = 5 ] || out=$out-qt$major
    [ "$dpi" -eq 96 ] || out=$out-${dpi}dpi
    mkdir -p "$out" "$work/qt$major"
    # Each toolkit's runs keep their own folders but share the catalogue's files.
    ln -sfn "$work/www" "$work/qt$major/www"
    xvfb-run --auto-servernum --server-args="-screen 0 $screen -noreset" \
        env QT_QPA_PLATFORM=xcb "$0" --inside-x "$work/qt$major" "$build/app/corvane-firmware-tool" \
        "$build/tools/emulator/corvane-emulator" "$out" "$dpi" "${languages[@]}"
    echo "screenshots (Qt $major) in $out"
done

# With both toolkits: how many pixels of each picture differ (look at the pictures themselves
# for what does; text placement may move by a pixel between the two).
if [ ${#majors[@]} -eq 2 ]; then
    suffix=""
    [ "$dpi" -eq 96 ] || suffix=-${dpi}dpi
    for picture in "$PWD"/screenshots/languages$suffix/*.png; do
        other=$PWD/screenshots/languages-qt6$suffix/${picture##*/}
        [ -f "$other" ] || continue
        pixels=$(compare -metric AE "$picture" "$other" null: 2>&1 || true)
        echo "  ${picture##*/}: $pixels pixels differ between Qt 5 and Qt 6"
    done
fi
