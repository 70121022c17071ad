#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a Corvane X9 firmware image file with the openssl command line:
#   plaintext = tag + version bytes + payload + MD5(tag + version bytes + payload)
#   file      = Base64(AES-128-ECB(plaintext) with PKCS#7 padding)
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: make-firmware.sh [OPTIONS] VERSION PAYLOAD_FILE OUTPUT_FILE

Writes OUTPUT_FILE, a firmware image of version VERSION (MAJOR.MINOR.PATCH, each 0-255)
carrying the bytes of PAYLOAD_FILE (/dev/null for an empty payload).

Options:
  --key-hex HEX          cipher key as 32 hex digits (default: the tool's key)
  --tag TEXT             type tag (default: Corvane_X9)
  --wrap N               break the Base64 text into lines of N characters, each ending in
                         a line feed (default: 0, one line without a line feed)
  --allow-short-version  accept a VERSION of fewer than three parts ("", "1", "1.2"), which
                         makes a deliberately malformed image without room for a payload
  -h, --help             show this help
EOF
}

key_text='Hw4@Kp8&Zr1%Ty6!'
key_hex=$(printf '%s' "$key_text" | od -An -tx1 | tr -d ' \n')
tag='Corvane_X9'
wrap=0
allow_short=0

while [ $# -gt 0 ]; do
    case "$1" in
        --key-hex) key_hex=${2:?--key-hex needs a value}; shift 2 ;;
        --tag) tag=${2?--tag needs a value}; shift 2 ;;
        --wrap) wrap=${2:?--wrap needs a value}; shift 2 ;;
        --allow-short-version) allow_short=1; shift ;;
        -h|--help) usage; exit 0 ;;
        --) shift; break ;;
        -*) echo "make-firmware.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
        *) break ;;
    esac
done

if [ $# -ne 3 ]; then
    usage >&2
    exit 2
fi
version=$1
payload=$2
output=$3

if ! [[ "$key_hex" =~ ^[0-9a-fA-F]{32}$ ]]; then
    echo "make-firmware.sh: the key must be 32 hex digits" >&2
    exit 2
fi
if ! [[ "$wrap" =~ ^[0-9]+$ ]]; then
    echo "make-firmware.sh: --wrap needs a number" >&2
    exit 2
fi
if [ ! -r "$payload" ]; then
    echo "make-firmware.sh: cannot read $payload" >&2
    exit 1
fi

parts=()
if [ -n "$version" ]; then
    IFS=. read -r -a parts <<<"$version"
fi
if [ ${#parts[@]} -ne 3 ] && { [ $allow_short -eq 0 ] || [ ${#parts[@]} -gt 3 ]; }; then
    echo "make-firmware.sh: the version must be MAJOR.MINOR.PATCH" >&2
    exit 2
fi
for part in "${parts[@]}"; do
    if ! [[ "$part" =~ ^[0-9]+$ ]] || [ "$part" -gt 255 ]; then
        echo "make-firmware.sh: version part '$part' is not a number from 0 to 255" >&2
        exit 2
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%s' "$tag" >"$work/plain"
for part in "${parts[@]}"; do
    # shellcheck disable=SC2059
    printf "\\$(printf '%03o' "$part")" >>"$work/plain"
done
cat "$payload" >>"$work/plain"
openssl dgst -md5 -binary "$work/plain" >"$work/digest"
cat "$work/digest" >>"$work/plain"

openssl enc -e -aes-128-ecb -K "$key_hex" -a -A -in "$work/plain" | tr -d '\n' >"$work/text"

if [ "$wrap" -gt 0 ]; then
    { fold -w "$wrap" "$work/text"; echo; } >"$output"
else
    cat "$work/text" >"$output"
fi
