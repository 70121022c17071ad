#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that C++ sources follow .clang-format. With a revision, only the files changed since
# it are checked; without one, every tracked source. --fix rewrites them instead.
# Usage: check-format.sh [--fix] [REVISION]
set -euo pipefail
cd "$(dirname "$0")/../.."

fix=false
if [ "${1:-}" = "--fix" ]; then
    fix=true
    shift
fi
formatter=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$formatter" ]; then
    echo "check-format.sh: clang-format is not installed" >&2
    exit 2
fi

if [ $# -gt 0 ]; then
    mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$1" -- '*.cpp' '*.h')
else
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
fi
[ ${#files[@]} -eq 0 ] && exit 0

if $fix; then
    "$formatter" -i "${files[@]}"
    exit 0
fi
bad=()
for file in "${files[@]}"; do
    "$formatter" --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "not formatted with .clang-format (fix: tools/scripts/check-format.sh --fix):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "${#files[@]} sources formatted"
