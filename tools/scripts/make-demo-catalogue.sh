#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a sample firmware catalogue with a few versions into DIR, laid out as the
# catalogue server expects: DIR/download/corvane-x9/corvane-x9.json and the images beside it.
#   make-demo-catalogue.sh DIR BASE_URL
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
base=${2%/}
out="$dir/download/corvane-x9"
mkdir -p "$out"

versions=(5.6.3 5.6.0 5.5.24)
infos=(
    "Faster reconnection after sleep;Fixes stick drift calibration on some pads;Lower input latency in SWITCH mode"
    "New macro recording format;Boot mode can be chosen without a controller attached"
    "First release with boot modes;Stability fixes"
)
sizes=(393216 262144 200000)

entries=""
for i in "${!versions[@]}"; do
    v=${versions[$i]}
    payload=$(mktemp)
    # Deterministic sample payload: the same version always gives the same image.
    python3 -c "import hashlib,sys
n=int(sys.argv[1]); seed=sys.argv[2].encode(); out=bytearray()
c=0
while len(out)<n:
    out+=hashlib.sha256(seed+c.to_bytes(4,'little')).digest(); c+=1
sys.stdout.buffer.write(out[:n])" "${sizes[$i]}" "$v" > "$payload"
    "$here/make-firmware.sh" --wrap 76 "$v" "$payload" "$out/corvane-x9-$v.rfw"
    rm -f "$payload"
    [ -n "$entries" ] && entries+=","
    entries+=$(printf '\n      {"version": "%s", "download": "%s/download/corvane-x9/corvane-x9-%s.rfw", "info": "%s"}' \
        "$v" "$base" "$v" "${infos[$i]}")
done

cat > "$out/corvane-x9.json" <<JSON
{
  "download": {
    "flashTool": {
      "version": "1.9.0",
      "info": "Corvane X9 Firmware Tool for Linux",
      "windowsURL": "$base/download/corvane-x9/"
    },
    "firmware": [$entries
    ]
  }
}
JSON
echo "$out/corvane-x9.json"
