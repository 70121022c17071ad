#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the tool for 64-bit Windows on Debian 12 with MinGW-w64: installs the cross
# compilers, Wine and NSIS, builds Qt 6 and hidapi for Windows from Debian's own source
# packages once into a cache outside the checkout (reused while the version and options stay
# the same), then the tool, corvane-cli, the emulator and the tests in build-windows/.
#
#   tools/scripts/build-windows.sh            build (Qt and hidapi only when not cached)
#   tools/scripts/build-windows.sh --test     and run the Windows test suite under Wine
#   tools/scripts/build-windows.sh --prefixes print the Qt and hidapi folders (after a build)
#
# CORVANE_WINDOWS_CACHE sets the cache folder (default ~/.cache/corvane-windows);
# CORVANE_WINDOWS_BUILD the build folder (default build-windows), and CORVANE_WINDOWS_OPTIONS
# further CMake options for it (the demo's emulated adapter and local catalogue, say).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
cd "$corvane_root"

mode=build
case "${1:-}" in
"") ;;
--test) mode=test ;;
--prefixes) mode=prefixes ;;
*) echo "usage: tools/scripts/build-windows.sh [--test | --prefixes]" >&2; exit 2 ;;
esac

cache=${CORVANE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvane-windows}
build_dir=${CORVANE_WINDOWS_BUILD:-build-windows}
toolchain=$corvane_root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)

# Qt for Windows: what the tool uses and nothing more. OpenGL stays on because the Windows
# platform plugin of Qt 6.4 does not build without it (it loads opengl32 only when asked);
# https goes through Windows' own TLS (Schannel), so no TLS library is shipped.
qt_options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_opengl=ON -DINPUT_opengl=desktop -DFEATURE_vulkan=OFF
    -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF -DFEATURE_jpeg=OFF
    -DFEATURE_schannel=ON -DFEATURE_openssl=OFF -DINPUT_openssl=no
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF
)
hidapi_options=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DHIDAPI_WITH_TESTS=OFF
    -DHIDAPI_BUILD_HIDTEST=OFF)

# A deb-src entry beside the machine's own deb entry, for `apt-get source`: the same archive
# and suites. Added once; nothing is fetched from anywhere else.
ensure_deb_src() {
    local sources=/etc/apt/sources.list.d/debian.sources target=/etc/apt/sources.list.d/corvane-deb-src.sources
    grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && return 0
    grep -qs '^deb-src ' /etc/apt/sources.list && return 0
    [ -f "$sources" ] || { echo "no $sources to copy a deb-src entry from" >&2; return 1; }
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    sed 's/^Types:.*/Types: deb-src/' "$sources" | "${sudo_cmd[@]}" tee "$target" >/dev/null
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
}

# fetch_source PACKAGE: downloads Debian's source package into $cache/src once; prints the
# path of its upstream tarball.
fetch_source() {
    local package=$1 orig
    mkdir -p "$cache/src"
    orig=$(find "$cache/src" -maxdepth 1 -name "${package}_*.orig.tar.*" | sort | tail -n 1)
    if [ -z "$orig" ]; then
        ensure_deb_src
        (cd "$cache/src" && apt-get source --download-only -qq "$package" >&2)
        orig=$(find "$cache/src" -maxdepth 1 -name "${package}_*.orig.tar.*" | sort | tail -n 1)
    fi
    [ -n "$orig" ] || { echo "apt-get source $package gave no upstream tarball" >&2; return 1; }
    echo "$orig"
}

# The cache key of a build: the source tarball, the options and the toolchain file.
cache_key() {
    local orig=$1
    shift
    { basename "$orig"; printf '%s\n' "$@"; cat "$toolchain"; } | sha256sum | cut -c1-12
}

# copy_licences SOURCE DESTINATION: the licence texts of a source tree and of the libraries
# it bundles, which the Windows packages ship beside the DLLs built from it.
copy_licences() {
    local source=$1 destination=$2 file
    mkdir -p "$destination"
    find "$source" -maxdepth 1 -type f \( -iname 'LICENSE*' -o -iname 'COPYING*' \) \
        -exec cp {} "$destination/" \;
    [ -d "$source/LICENSES" ] && cp -r "$source/LICENSES" "$destination/"
    if [ -d "$source/src/3rdparty" ]; then
        find "$source/src/3rdparty" -maxdepth 3 -type f \( -iname 'LICENSE*' -o -iname 'COPYING*' \
            -o -iname 'README.LICENSE*' -o -name 'qt_attribution.json' \) | while read -r file; do
            local relative=${file#"$source/src/3rdparty/"}
            mkdir -p "$destination/3rdparty/$(dirname "$relative")"
            cp "$file" "$destination/3rdparty/$relative"
        done
    fi
}

# build_cached NAME PACKAGE: configures, builds and installs PACKAGE's upstream source with
# the options in the array named NAME_options into $cache/NAME-KEY unless that is complete.
# Sets prefix to the folder.
build_cached() {
    local name=$1 package=$2 orig key options_var
    options_var="${name}_options[@]"
    orig=$(fetch_source "$package")
    key=$(cache_key "$orig" "${!options_var}")
    prefix=$cache/$name-$key
    [ -f "$prefix/.complete" ] && return 0
    echo "== $name for Windows (cache: $prefix) =="
    local work=$cache/work-$name-$key
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    tar -xf "$orig" -C "$work"
    local source
    source=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    local extra=()
    [ "$name" = qt ] && extra=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
    cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$prefix" "${extra[@]}" "${!options_var}" >"$work/configure.log"
    cmake --build "$work/build" -j "$jobs"
    cmake --install "$work/build" >/dev/null
    copy_licences "$source" "$prefix/licences"
    touch "$prefix/.complete"
    rm -rf "$work"
}

install_packages g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools \
    wine wine64 nsis dpkg-dev zip

build_cached qt qt6-base
qt_prefix=$prefix
build_cached hidapi hidapi
hidapi_prefix=$prefix

if [ $mode = prefixes ]; then
    echo "$qt_prefix"
    echo "$hidapi_prefix"
    exit 0
fi

echo "== the tool for Windows =="
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
configure_build "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCORVANE_QT_MAJOR=6 -DCORVANE_BUILD_BENCHMARKS=OFF \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -- "-DCORVANE_WINDOWS_PREFIXES=$qt_prefix;$hidapi_prefix" -DCORVANE_WERROR=$werror \
    ${CORVANE_WINDOWS_OPTIONS:-}
cmake --build "$build_dir" -j "$jobs" ${CORVANE_WINDOWS_TARGETS:+--target $CORVANE_WINDOWS_TARGETS}

if [ $mode = test ]; then
    echo "== the Windows tests under Wine =="
    (cd "$build_dir" && ctest --output-on-failure -j "$jobs")
fi
