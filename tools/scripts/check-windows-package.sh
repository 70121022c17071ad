#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Windows packages under Wine, in a Wine prefix of its own (a fresh Windows):
#   - the installer installs silently for the current user, with the Start-menu entry, the
#     uninstall entry and corvane-cli on the user's PATH, the files of the portable zip;
#   - the installed corvane-cli.exe tells its version, and updates an emulated adapter
#     byte-exact (the emulator's stand-in for hidapi's DLL put beside it for the while);
#   - the installed window program starts under Xvfb with the adapter attached, and a
#     screenshot of it is kept (build-windows/package/windows-main-connected.png);
#   - every DLL the packages ship is loaded by one of those runs, and none is missing;
#   - the uninstaller removes the program files and its entries and leaves the user's data.
#
#   tools/scripts/check-windows-package.sh SETUP.exe ZIP
set -euo pipefail
. "$(dirname "$0")/lib.sh"
cd "$corvane_root"

[ $# -eq 2 ] || { echo "usage: tools/scripts/check-windows-package.sh SETUP.exe ZIP" >&2; exit 2; }
setup=$(realpath "$1")
zip=$(realpath "$2")
build_dir=${CORVANE_WINDOWS_BUILD:-build-windows}
install_packages xvfb xauth x11-apps unzip

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
fail() {
    echo "check-windows-package: $*" >&2
    exit 1
}
# A Windows path of a file here (Wine's drive Z: is the root).
windows() { echo "Z:${1//\//\\}"; }

echo "== a fresh Windows =="
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
profile=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}
[ -d "$profile" ] || profile=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
programs="$profile/AppData/Local/Programs/Corvane X9 Firmware Tool"
data="$profile/AppData/Roaming/Corvane/Corvane X9 Firmware Tool"

echo "== silent install for the current user =="
"$wine" "$setup" /S /CURRENTUSER /PATH
"$wineserver" -w
[ -x "$programs/corvane-firmware-tool.exe" ] || fail "nothing installed in $programs"
unzip -qq "$zip" -d "$work/zip"
(cd "$work/zip"/* && find . -type f | sort) >"$work/zip.files"
(cd "$programs" && find . -type f ! -name uninstall.exe | sort) >"$work/installed.files"
diff -u "$work/zip.files" "$work/installed.files" || fail "the installer's files are not the zip's"
find "$profile" -name 'Corvane X9 Firmware Tool.lnk' | grep -q . || fail "no Start-menu entry"
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvaneX9FirmwareTool' \
    /v DisplayVersion 2>/dev/null | grep -q REG_SZ || fail "no uninstall entry"
"$wine" reg query 'HKCU\Environment' /v Path 2>/dev/null | grep -q 'Corvane X9 Firmware Tool' ||
    fail "corvane-cli is not on the user's PATH"

echo "== the installed corvane-cli =="
version=$(cached_value "$build_dir" CMAKE_PROJECT_VERSION)
loads=$work/loads.txt
: >"$loads"
# run_traced LOG PROGRAM ARGUMENTS...: runs a Windows program with Wine's DLL trace, which is
# added to LOG; its standard output and error are the program's own.
run_traced() {
    local log=$1
    shift
    WINEDEBUG=+loaddll timeout 300 "$wine" "$@" 2>"$work/trace" && status=0 || status=$?
    grep -a 'Loaded L' "$work/trace" >>"$log" || true
    grep -av 'trace:loaddll\|^[0-9a-f]*:trace:' "$work/trace" >&2 || true
    return $status
}
said=$(run_traced "$loads" "$programs/corvane-cli.exe" --version | tr -d '\r')
[ "$said" = "corvane-cli $version" ] || fail "corvane-cli --version said '$said'"

echo "== an update of an emulated adapter through the installed programs =="
cp "$programs/libhidapi.dll" "$work/libhidapi.dll"
cp "$build_dir/tools/emulator/hidapi-dll/libhidapi.dll" "$programs/libhidapi.dll"
export CORVANE_EMULATOR_STATE
CORVANE_EMULATOR_STATE=$(windows "$work/adapter.state")
WINEPATH=$(windows "$programs") "$wine" "$build_dir/tools/emulator/corvane-emulator.exe" \
    init --version 5.5.24 >/dev/null
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 7 + 3) % 256 for i in range(150000)))" \
    >"$work/payload"
tools/scripts/make-firmware.sh 5.6.3 "$work/payload" "$work/fw.rfw"
run_traced "$loads" "$programs/corvane-cli.exe" -q update "$(windows "$work/fw.rfw")" ||
    fail "the update of the emulated adapter failed"
run_traced "$loads" "$programs/corvane-cli.exe" -q verify "$(windows "$work/fw.rfw")" >/dev/null ||
    fail "the emulated adapter does not hold the image byte for byte"
[ -s "$data/history.jsonl" ] || fail "the update left no history in $data"
# https goes through Windows' own TLS: a catalogue at a closed port still loads its plugin.
run_traced "$loads" "$programs/corvane-cli.exe" -q catalogue --catalogue https://127.0.0.1:9 \
    >/dev/null 2>&1 && fail "a catalogue at a closed port was read"

echo "== the installed window, with the adapter attached =="
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 2
DISPLAY=$display WINEDEBUG=+loaddll "$wine" "$programs/corvane-firmware-tool.exe" \
    >/dev/null 2>"$work/window.trace" &
window_pid=$!
# The connected page shows once the adapter's information is read.
for _ in $(seq 60); do
    sleep 1
    grep -aq 'Device open! --\|DeviceFlash open' "$work/window.trace" && break
done
sleep 5
xwd -root -silent -display "$display" >"$work/screen.xwd"
python3 tools/scripts/xwd-to-png.py "$work/screen.xwd" "$build_dir/package/windows-main-connected.png" \
    --crop
kill "$window_pid" 2>/dev/null || true
"$wineserver" -k 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
grep -a 'Loaded L' "$work/window.trace" >>"$loads" || true
kill "$xvfb_pid" 2>/dev/null || true
xvfb_pid=
cp "$work/libhidapi.dll" "$programs/libhidapi.dll"

echo "== the DLLs the packages ship =="
missing=$(grep -ah 'err:module:import_dll\|err:module:.*not found' "$work/window.trace" "$work/trace" || true)
[ -z "$missing" ] || fail "a DLL is missing: $missing"
unused=
while read -r dll; do
    name=$(basename "$dll")
    grep -aqi "\\\\$name\"" "$loads" || unused="$unused $dll"
done < <(cd "$programs" && find . -name '*.dll' | sort)
[ -z "$unused" ] || fail "shipped but never loaded:$unused"
echo "every shipped DLL was loaded: $(cd "$programs" && find . -name '*.dll' | wc -l)"

echo "== silent uninstall =="
"$wine" "$programs/uninstall.exe" /S
"$wineserver" -w
for _ in $(seq 30); do
    [ -e "$programs" ] || break
    sleep 1
done
[ ! -e "$programs" ] || fail "the uninstaller left $(find "$programs" | head -n 3)"
! find "$profile" -name 'Corvane X9 Firmware Tool.lnk' | grep -q . || fail "the Start-menu entry stayed"
! "$wine" reg query 'HKCU\Environment' /v Path 2>/dev/null | grep -q 'Corvane X9 Firmware Tool' ||
    fail "the PATH entry stayed"
[ -s "$data/history.jsonl" ] || fail "the uninstaller took the user's data"
echo "the Windows packages passed their check"
