#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows packages, from the Windows build (tools/scripts/build-windows.sh, run first):
#   corvane-firmware-tool-<version>-windows-x64.zip        a portable folder
#   corvane-firmware-tool-<version>-windows-x64-setup.exe  the installer (NSIS)
# both in the build folder's package/, with their SHA-256 sums.
#
#   tools/scripts/package-windows.sh          build both
#   tools/scripts/package-windows.sh --check  and check them under Wine
#                                             (tools/scripts/check-windows-package.sh)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
cd "$corvane_root"

check=0
case "${1:-}" in
"") ;;
--check) check=1 ;;
*) echo "usage: tools/scripts/package-windows.sh [--check]" >&2; exit 2 ;;
esac

build_dir=${CORVANE_WINDOWS_BUILD:-build-windows}
tools/scripts/build-windows.sh >/dev/null
mapfile -t prefixes < <(tools/scripts/build-windows.sh --prefixes)
qt_prefix=${prefixes[0]}
hidapi_prefix=${prefixes[1]}
version=$(cached_value "$build_dir" CMAKE_PROJECT_VERSION)
compiler=x86_64-w64-mingw32-g++-posix
name=corvane-firmware-tool-$version-windows-x64
out=$build_dir/package
stage=$out/$name
rm -rf "$stage" "$out/$name.zip" "$out/$name-setup.exe"
mkdir -p "$stage"

runtime_dll() { "$compiler" -print-file-name="$1"; }

# What the programs load, and why. tools/scripts/check-windows-package.sh fails on a DLL
# that is missing here or that no run of the programs loads.
files=(
    # The programs.
    "$build_dir/app/corvane-firmware-tool.exe:."
    "$build_dir/app/cli/corvane-cli.exe:."
    # Qt: both programs (Core, Network), the window (Gui, Widgets).
    "$qt_prefix/bin/Qt6Core.dll:."
    "$qt_prefix/bin/Qt6Network.dll:."
    "$qt_prefix/bin/Qt6Gui.dll:."
    "$qt_prefix/bin/Qt6Widgets.dll:."
    # The MinGW runtime: the C++ library, its exception unwinding and POSIX threads.
    "$(runtime_dll libstdc++-6.dll):."
    "$(runtime_dll libgcc_s_seh-1.dll):."
    "$(runtime_dll libwinpthread-1.dll):."
    # hidapi: the adapter's HID reports.
    "$hidapi_prefix/bin/libhidapi.dll:."
    # The window on Windows' own windows, drawn in Windows' own style.
    "$qt_prefix/plugins/platforms/qwindows.dll:plugins/platforms"
    "$qt_prefix/plugins/styles/qwindowsvistastyle.dll:plugins/styles"
    # The busy animation is a GIF.
    "$qt_prefix/plugins/imageformats/qgif.dll:plugins/imageformats"
    # https (the catalogue and the downloads) through Windows' own TLS, no TLS library.
    "$qt_prefix/plugins/tls/qschannelbackend.dll:plugins/tls"
)
for entry in "${files[@]}"; do
    source=${entry%:*}
    mkdir -p "$stage/${entry##*:}"
    cp "$source" "$stage/${entry##*:}/"
done
# The programs' own catalogues are built in; Qt's turn its file dialog and standard buttons
# into the chosen language (Debian's qt6-translations-l10n, built for this Qt release).
mkdir -p "$stage/translations"
for language in zh_CN ja ru fr; do
    cp "/usr/share/qt6/translations/qtbase_$language.qm" "$stage/translations/"
done
# Qt finds its plugins and catalogues beside the programs.
printf '[Paths]\nPrefix = .\nPlugins = plugins\nTranslations = translations\n' >"$stage/qt.conf"
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/plugins/*/*.dll

# Licences: the tool's, then what each shipped part carries.
licences=$stage/licences
mkdir -p "$licences/qt" "$licences/hidapi" "$licences/fonts" "$licences/mingw-w64"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
cp -r "$qt_prefix/licences/." "$licences/qt/"
cp -r "$hidapi_prefix/licences/." "$licences/hidapi/"
cp resources/fonts/README.md "$licences/fonts/README.md"
for package in fonts-liberation fonts-droid-fallback fonts-ipafont-gothic fonts-dejavu-core \
    fonts-roboto-slab fonts-font-awesome; do
    cp "/usr/share/doc/$package/copyright" "$licences/fonts/$package.txt"
done
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$licences/mingw-w64/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$licences/mingw-w64/mingw-w64.txt"
sed "s/@VERSION@/$version/g; s/\$/\r/" packaging/windows/README.txt.in >"$stage/README.txt"

# The portable folder as a zip, and the installer's file lists.
(cd "$out" && rm -f "$name.zip" && zip -qr9 "$name.zip" "$name")
: >"$stage/files.nsh"
: >"$stage/unfiles.nsh"
(cd "$stage" && find . -type f ! -name files.nsh ! -name unfiles.nsh | sort) | while read -r file; do
    relative=${file#./}
    folder=$(dirname "$relative")
    windows=${relative//\//\\}
    if [ "$folder" = . ]; then
        echo "SetOutPath \"\$INSTDIR\"" >>"$stage/files.nsh"
    else
        echo "SetOutPath \"\$INSTDIR\\${folder//\//\\}\"" >>"$stage/files.nsh"
    fi
    echo "File \"$PWD/$stage/$relative\"" >>"$stage/files.nsh"
    echo "Delete \"\$INSTDIR\\$windows\"" >>"$stage/unfiles.nsh"
done
(cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r folder; do
    windows=${folder#./}
    echo "RMDir \"\$INSTDIR\\${windows//\//\\}\"" >>"$stage/unfiles.nsh"
done
echo "SetOutPath \"\$INSTDIR\"" >>"$stage/files.nsh"
makensis -WX -V2 -DVERSION="$version" -DSTAGE="$PWD/$stage" \
    -DOUTFILE="$PWD/$out/$name-setup.exe" \
    -DICON="$PWD/$build_dir/generated/corvane-firmware-tool.ico" packaging/windows/installer.nsi
rm "$stage/files.nsh" "$stage/unfiles.nsh"
(cd "$out" && sha256sum "$name.zip" "$name-setup.exe" >"$name.sha256")
ls -l "$out/$name.zip" "$out/$name-setup.exe"

if [ $check -eq 1 ]; then
    tools/scripts/check-windows-package.sh "$out/$name-setup.exe" "$out/$name.zip"
fi
