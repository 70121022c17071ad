#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tool's main job, on any Debian 12 machine without the hardware: builds the tool against
# the adapter emulator with the catalogue host pointed at a local HTTP server, serves a sample
# catalogue, attaches an emulated Corvane X9 (firmware 5.5.24) and opens the window. Without a
# display it runs the same update headless through corvane-cli and prints its progress.
#
#   tools/scripts/demo.sh            window when a display is available, else headless
#   tools/scripts/demo.sh --headless always headless
#   tools/scripts/demo.sh --windows  the same with the Windows build under Wine (built first
#                                    by tools/scripts/build-windows.sh; window or headless as
#                                    above, and --headless may follow)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
cd "$corvane_root"
root=$(pwd)

headless=0
windows=0
for argument in "$@"; do
    case "$argument" in
    --headless) headless=1 ;;
    --windows) windows=1 ;;
    *) echo "usage: tools/scripts/demo.sh [--windows] [--headless]" >&2; exit 2 ;;
    esac
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
fi

tools/scripts/install-deps.sh

port=${CORVANE_DEMO_PORT:-8765}
if [ $windows -eq 0 ]; then
    build=$root/build-demo
    configure_build "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF \
        -DCORVANE_BUILD_BENCHMARKS=OFF \
        -- -DCORVANE_HID_BACKEND=emulator -DCORVANE_CATALOGUE_HOST="http://127.0.0.1:$port"
    cmake --build "$build" --target corvane-firmware-tool corvane-cli corvane-emulator
    emulator=("$build/tools/emulator/corvane-emulator")
    cli=("$build/app/cli/corvane-cli")
    window=("$build/app/corvane-firmware-tool")
else
    build=$root/build-demo-windows
    CORVANE_WINDOWS_BUILD=$build CORVANE_WINDOWS_TARGETS="corvane-firmware-tool corvane-cli corvane-emulator" \
        CORVANE_WINDOWS_OPTIONS="-DCORVANE_BUILD_TESTS=OFF -DCORVANE_HID_BACKEND=emulator
            -DCORVANE_CATALOGUE_HOST=http://127.0.0.1:$port" tools/scripts/build-windows.sh
    # Wine with a prefix of the demo's own: the build's launcher finds the DLLs.
    export CORVANE_WINEPREFIX=$build/demo-prefix
    emulator=("$build/wine-run.sh" "$build/tools/emulator/corvane-emulator.exe")
    cli=("$build/wine-run.sh" "$build/app/cli/corvane-cli.exe")
    window=("$build/wine-run.sh" "$build/app/corvane-firmware-tool.exe")
fi

# Everything the demo writes stays under build-demo/demo: catalogue, adapter, settings, cache
# (and with --windows, the Wine prefix beside it).
demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"
tools/scripts/make-demo-catalogue.sh "$demo/www" "http://127.0.0.1:$port" >/dev/null
export XDG_DATA_HOME=$demo/data XDG_CONFIG_HOME=$demo/config XDG_CACHE_HOME=$demo/cache
export CORVANE_EMULATOR_STATE=$demo/adapter.state
if [ $windows -eq 1 ]; then
    CORVANE_EMULATOR_STATE=Z:${CORVANE_EMULATOR_STATE//\//\\}
    # Windows' user folders (settings, cache, backups) go below the demo's folder too.
    export CORVANE_TEST_WINDOWS_HOME=Z:${demo//\//\\}
fi
"${emulator[@]}" init --version 5.5.24 --boot-mode 0 >/dev/null
# Emulated USB timing: a few microseconds per report keeps the progress visible.
"${emulator[@]}" latency 150 >/dev/null

trap '[ -z "${catalogue_server_pid:-}" ] || kill "$catalogue_server_pid" 2>/dev/null || true' EXIT
start_catalogue_server "$demo/www" "$port" "$demo/server.port"

if [ $headless -eq 0 ]; then
    echo "Opening the window: an emulated Corvane X9 with firmware 5.5.24 is attached."
    "${window[@]}"
    exit 0
fi

echo "== adapter =="
"${cli[@]}" info
echo
echo "== catalogue =="
"${cli[@]}" catalogue
echo
echo "== update to 5.6.3 =="
"${cli[@]}" update --version 5.6.3
echo
echo "== adapter after the update =="
"${cli[@]}" info
