#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, testing, packaging and the demo need.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

packages=(
    build-essential cmake ninja-build pkg-config git ccache
    qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev
    qt6-base-dev qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools qt6-svg-dev
    libhidapi-dev libudev-dev umockdev libumockdev-dev dbus-daemon
    qttranslations5-l10n qt6-translations-l10n
    python3 openssl librsvg2-bin
    clang libclang-rt-14-dev clang-format
    xvfb xauth
    scdoc bash-completion dpkg-dev file lintian appstream desktop-file-utils
    fonts-liberation fonts-dejavu-core fonts-droid-fallback fonts-ipafont-gothic
    fonts-roboto-slab fonts-font-awesome
)
install_packages "${packages[@]}"
