#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the certificates of the HTTPS tests in tests/support/tls: a test certificate
# authority, a server certificate for 127.0.0.1 that it signs, and a self-signed one.
# They are kept in the repository (valid for a century); run this only to replace them.
set -eu
out=$(cd "$(dirname "$0")/../../tests/support/tls" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
days=36500
san="subjectAltName=IP:127.0.0.1,DNS:localhost"

openssl req -x509 -newkey rsa:2048 -nodes -days $days -subj "/CN=Corvane test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout "$work/ca.key" -out "$out/ca.pem"
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$out/server.key" \
    -out "$work/server.csr"
printf '%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$san" >"$work/ext"
openssl x509 -req -in "$work/server.csr" -CA "$out/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -CAserial "$work/ca.srl" -days $days -extfile "$work/ext" -out "$out/server.pem"
openssl req -x509 -newkey rsa:2048 -nodes -days $days -subj "/CN=127.0.0.1" -addext "$san" \
    -keyout "$out/selfsigned.key" -out "$out/selfsigned.pem"
