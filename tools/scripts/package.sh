#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package corvane-firmware-tool_<version>_<arch>.deb and copies it into the
# current directory. Without BUILD_DIR it makes a Release build for /usr in build-package/;
# a given BUILD_DIR is used as configured (it must be configured for /usr against Debian's
# hidapi; run-tests.sh packages its normal build this way). With --check, the package is then
# checked: lintian, appstreamcli, desktop-file-validate, and the programs run from the package
# unpacked into a throw-away root.
#
#   tools/scripts/package.sh [--check] [BUILD_DIR]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$corvane_root
out=$PWD
check=0
if [ "${1:-}" = "--check" ]; then
    check=1
    shift
fi
build=${1:-$root/build-package}
app_id=io.github.corvane.FirmwareTool

"$root/tools/scripts/install-deps.sh"
configure_build "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/corvane-firmware-tool_*.deb
(cd "$build" && cpack -G DEB)
built=("$build"/corvane-firmware-tool_*.deb)
deb=$out/$(basename "${built[0]}")
[ "${built[0]}" -ef "$deb" ] || cp "${built[0]}" "$deb"
echo "package: $deb"
[ $check -eq 1 ] || exit 0

echo "== package checks =="
fail() {
    echo "package check failed: $*" >&2
    exit 1
}
lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg -x "$deb" "$unpacked/root"
appstreamcli validate --no-net --strict "$unpacked/root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "appstreamcli validate"
# lintian looks for the hardware match only beside udev rules in /lib, not in /usr/lib.
rule=$unpacked/root/usr/lib/udev/rules.d/70-corvane-x9.rules
[ -f "$rule" ] || fail "no udev rule in /usr/lib/udev/rules.d"
# The user gets the adapter's hidraw node and nothing else.
extra=$(grep -v -e '^#' -e '^$' -e '^SUBSYSTEM=="hidraw",' "$rule" || true)
[ -z "$extra" ] || fail "the udev rule gives access to more than the adapter's hidraw node: $extra"
grep -q '<modalias>usb:v0E3ApB471\*</modalias>' "$unpacked/root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "the AppStream metadata does not provide the adapter's modalias"
desktop_report=$(desktop-file-validate "$unpacked/root/usr/share/applications/$app_id.desktop" 2>&1) \
    || fail "desktop-file-validate: $desktop_report"
[ -z "$desktop_report" ] || fail "desktop-file-validate: $desktop_report"

# The programs from the package, run without a display and without an adapter.
version=$(dpkg-deb -f "$deb" Version)
mkdir -p "$unpacked/home"
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$unpacked/home" \
        XDG_DATA_HOME="$unpacked/home/data" XDG_CONFIG_HOME="$unpacked/home/config" "$@"
}
for program in corvane-cli corvane-firmware-tool; do
    printed=$(run "$unpacked/root/usr/bin/$program" --version) || fail "$program --version exits non-zero"
    [ "$printed" = "$program $version" ] || fail "$program --version prints '$printed'"
done
status=0
run "$unpacked/root/usr/bin/corvane-cli" info >/dev/null 2>&1 || status=$?
[ $status -eq 3 ] || fail "corvane-cli info without an adapter exits $status, not 3"
echo "package checks passed: $deb"
