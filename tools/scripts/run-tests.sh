#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test four times: in a normal build, in the
# same build on Qt 6, in a build with AddressSanitizer and UndefinedBehaviorSanitizer, and in
# the Windows build under Wine. The normal build is also packaged and the package checked, and
# so are the Windows packages. Exits non-zero on any failure.
#
#   tools/scripts/run-tests.sh          the whole run, as CI does it
#   tools/scripts/run-tests.sh --quick  for day-to-day work: the normal build and its unit tests
#                                       (CTest label "unit"), nothing else
set -euo pipefail
. "$(dirname "$0")/lib.sh"
cd "$corvane_root"

quick=0
case "${1:-}" in
"") ;;
--quick) quick=1 ;;
*) echo "usage: tools/scripts/run-tests.sh [--quick]" >&2; exit 2 ;;
esac

tools/scripts/install-deps.sh

jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=$werror "$@"
    cmake --build "$dir" -j "$jobs"
}

if [ $quick -eq 0 ]; then
    echo "== formatting =="
    # The tree is kept formatted, so checking every source also checks the changed ones.
    tools/scripts/check-format.sh
fi

echo "== normal build =="
# Configured for /usr, so that the package below comes from this same build.
build build -DCMAKE_INSTALL_PREFIX=/usr
if [ $quick -eq 1 ]; then
    (cd build && ctest --output-on-failure -j "$jobs" -L '^unit$')
    exit 0
fi
(cd build && ctest --output-on-failure -j "$jobs")

echo "== Debian package of the normal build =="
tools/scripts/package.sh --check build

echo "== normal build on Qt 6 =="
# The same sources on the other toolkit; benchmarks and fuzz targets are built once, above
# and below, on Qt 5.
build build-qt6 -DCORVANE_QT_MAJOR=6 -DCORVANE_BUILD_BENCHMARKS=OFF -DCORVANE_FUZZ=OFF
(cd build-qt6 && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
build build-asan -DCORVANE_SANITIZE=ON -DCORVANE_BUILD_BENCHMARKS=OFF
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs")

echo "== fuzz targets (libFuzzer with clang, AddressSanitizer + UndefinedBehaviorSanitizer) =="
# A bounded run per target keeps the whole CI inside its time limit.
CORVANE_FUZZ_SECONDS=${CORVANE_FUZZ_SECONDS:-30} tools/scripts/run-fuzz.sh
unset ASAN_OPTIONS UBSAN_OPTIONS

echo "== Windows build (MinGW-w64; Qt and hidapi built once into a cache) and its tests under Wine =="
tools/scripts/build-windows.sh --test

echo "== Windows installer and portable zip, checked under Wine =="
tools/scripts/package-windows.sh --check
