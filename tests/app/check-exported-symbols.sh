#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that a program's dynamic symbol table defines exactly the global symbols of a
# linker version script. Usage: check-exported-symbols.sh PROGRAM MAP
set -euo pipefail
program=$1
list=$2
expected=$(sed -n '/global:/,/local:/p' "$list" | grep -o '[A-Za-z_][A-Za-z0-9_]*;' | tr -d ';' | sort)
actual=$(nm -D --defined-only "$program" | awk '{print $NF}' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
    echo "exported symbols differ from $list:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "$(echo "$actual" | wc -l) exported symbols, as listed"
