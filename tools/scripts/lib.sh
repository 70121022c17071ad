# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Shell functions the scripts share; sourced, never run:
#   . "$(dirname "$0")/lib.sh"

corvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Installs those of the given Debian packages that are missing (through sudo when not root).
install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    # Through env, as sudo drops the caller's environment.
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
}

# configure_build DIR [ARGS...] [-- KEEP_ARGS...]
# A new build folder DIR is configured with Ninja and ARGS and KEEP_ARGS; an existing one (a
# developer's own, or an earlier run's) keeps its settings and gets only KEEP_ARGS.
configure_build() {
    local dir=$1 fresh=() keep=()
    shift
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        fresh+=("$1")
        shift
    done
    [ $# -eq 0 ] || { shift; keep=("$@"); }
    if [ -f "$dir/CMakeCache.txt" ]; then
        [ ${#keep[@]} -eq 0 ] || cmake -S "$corvane_root" -B "$dir" "${keep[@]}" >/dev/null
    else
        cmake -S "$corvane_root" -B "$dir" -G Ninja "${fresh[@]}" "${keep[@]}" >/dev/null
    fi
}

# The value of a cache variable of the build folder DIR ("" when it is not set).
cached_value() {
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" 2>/dev/null
}

# start_catalogue_server DIR PORT PORT_FILE
# Serves DIR with tools/scripts/catalogue_server.py on loopback PORT (0: a free one), which it
# writes into PORT_FILE; sets catalogue_server_pid, whom the caller ends. Fails when the server
# is not up within 5 s.
start_catalogue_server() {
    local dir=$1 port=$2 portfile=$3
    python3 "$corvane_root/tools/scripts/catalogue_server.py" --root "$dir" --port "$port" \
        >"$portfile" &
    # shellcheck disable=SC2034 # for the caller
    catalogue_server_pid=$!
    for _ in $(seq 50); do
        [ -s "$portfile" ] && return 0
        sleep 0.1
    done
    echo "the catalogue server did not start on port $port" >&2
    return 1
}

# The catalogue server's port of the screenshots, built into the program they run.
screenshot_port=${CORVANE_SCREENSHOT_PORT:-8771}

# screenshot_build MAJOR TARGET...
# The one build folder of the screenshots on Qt MAJOR: build-screenshots (build-screenshots-qt6
# on Qt 6), or CORVANE_SCREENSHOT_BUILD. It uses the emulated adapter and the catalogue server
# on loopback port $screenshot_port and builds the screenshot program too; an existing folder
# keeps its other settings. Builds the TARGETs and prints the folder.
screenshot_build() {
    local major=$1 suffix="" build cached
    shift
    [ "$major" = 5 ] || suffix=-qt$major
    build=${CORVANE_SCREENSHOT_BUILD:-$corvane_root/build-screenshots$suffix}
    if [ -f "$build/CMakeCache.txt" ]; then
        [ "$(cached_value "$build" CORVANE_HID_BACKEND)" = emulator ] \
            || { echo "$build is not built with -DCORVANE_HID_BACKEND=emulator" >&2; return 2; }
        cached=$(cached_value "$build" CORVANE_QT_MAJOR)
        [ "${cached:-5}" = "$major" ] \
            || { echo "$build is built with Qt ${cached:-5}, not Qt $major" >&2; return 2; }
    fi
    configure_build "$build" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_HID_BACKEND=emulator \
        -DCORVANE_QT_MAJOR="$major" -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF \
        -- -DCORVANE_CATALOGUE_HOST="http://127.0.0.1:$screenshot_port" -DCORVANE_BUILD_SCREENSHOTS=ON
    cmake --build "$build" --target "$@" >&2
    echo "$build"
}
