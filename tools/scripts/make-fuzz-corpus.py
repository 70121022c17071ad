#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

Each seed is a small input that reaches a different path of its target: valid firmware
images and damaged ones, backups of both layouts, catalogue replies, device names,
single-instance handshakes and adapter answer scripts. Needs the openssl command line
(AES-128-ECB for the firmware images). Run from anywhere; existing seeds are replaced.
"""
import base64
import hashlib
import json
import shutil
import struct
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT / "tests" / "fuzz" / "corpus"

FIRMWARE_KEY = b"Hw4@Kp8&Zr1%Ty6!"
TAG = b"Corvane_X9"
SERIAL = b"00112233445566778899aabb"
INSTANCE_KEY = b"kYBu86bQRLfbkl6SffilStlL5aW5AOfFElYdlh3b2lc="


def pattern(length, seed=0):
    return bytes((i * 29 + seed) & 0xFF for i in range(length))


def aes_ecb(plain, key=FIRMWARE_KEY):
    """AES-128-ECB with PKCS#7 padding through the openssl command line."""
    result = subprocess.run(
        ["openssl", "enc", "-aes-128-ecb", "-nosalt", "-K", key.hex()],
        input=plain, stdout=subprocess.PIPE, check=True)
    return result.stdout


def image(version=(5, 7, 2), payload=b"", tag=TAG, key=FIRMWARE_KEY, wrap=0, plaintext=None):
    if plaintext is None:
        body = tag + bytes(version) + payload
        plaintext = body + hashlib.md5(body).digest()
    text = base64.b64encode(aes_ecb(plaintext, key))
    if wrap:
        text = b"".join(text[i:i + wrap] + b"\n" for i in range(0, len(text), wrap))
    return text


def le16(value):
    return struct.pack("<H", value & 0xFFFF)


def length_block(length, seed):
    block = bytearray(pattern(length, seed))
    block[0:2] = le16(length)
    block[-2:] = b"\xaa\x55"
    return bytes(block)


def macro_record(length, layout, seed):
    record = bytearray(pattern(length, seed))
    record[0:2] = le16(length)
    record[2:4] = b"\0\0"
    record[4] = layout
    record[5:11] = b"Macro\0"
    return bytes(record)


def crc16_x25(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


assert crc16_x25(b"123456789") == 0x906E


def handshake(key, kind, number, corrupt=False):
    body = struct.pack(">I", len(key)) + key + struct.pack(">bI", kind, number)
    checksum = crc16_x25(body) ^ (1 if corrupt else 0)
    body += struct.pack(">H", checksum)
    return struct.pack(">q", len(body)) + body


def piece(data):
    return le16(len(data)) + data


def firmware_seeds():
    yield "valid-empty-payload", image(payload=b"")
    yield "valid-small", image(payload=pattern(100, 1))
    yield "valid-wrapped", image(payload=pattern(300, 2), wrap=76)
    yield "other-tag", image(payload=pattern(40, 3), tag=b"Corvane_X8")
    yield "other-key", image(payload=pattern(40, 4), key=b"0123456789abcdef")
    yield "truncated", image(payload=pattern(200, 5))[:120]
    short = TAG + b"\x05\x06"
    yield "too-short", image(plaintext=short + hashlib.md5(short).digest())
    yield "not-base64", b"<html>not a firmware image</html>\r\n"
    # Plaintexts the target enciphers itself ('!', flags: 1 append the digest, 2 also with
    # the tag in front).
    yield "plain-image", b"!\x01" + TAG + bytes([5, 7, 2]) + pattern(60, 8)
    yield "plain-short", b"!\x03" + bytes([5, 6])
    yield "plain-no-digest", b"!\x02" + pattern(40, 9)


def backup_seeds():
    data = bytearray(pattern(300, 6))
    data[0:4] = b"\x55\x05\x06\x03"
    yield "plain-5.6.3", bytes([5, 6, 9]) + bytes(data)
    yield "plain-newer", bytes([5, 4, 0]) + bytes(data)
    # A whole scrambled file, as the window writes it.
    body = bytes(data)
    file = bytearray(body + hashlib.md5(body).digest())
    key = hashlib.md5(SERIAL).digest()
    for i in range(len(file)):
        file[i] ^= key[i % 16]
    yield "scrambled-file", bytes([5, 6, 9]) + bytes(file)


def config_restore_seeds():
    macro_empty = bytearray(66)
    macro_empty[0:2] = le16(66)
    macro_empty[64:66] = b"\xaa\x55"
    header = bytes(0x42 - 0x20) + pattern(0xE3 - 0x42 + 1, 7)  # piece 0 starts at 0x120
    yield "layout2-keep", bytes([2]) + piece(header) + piece(length_block(66, 1)) \
        + piece(length_block(66, 2)) + piece(bytes(macro_empty))
    records = macro_record(100, 2, 1) + macro_record(90, 0, 2)
    macro = bytearray(64) + records
    macro[0:2] = le16(64 + len(records) + 2)
    macro[2] = 2
    macro[3:5] = le16(len(records))
    macro += b"\xaa\x55"
    yield "layout2-convert", bytes([0]) + piece(header) + piece(length_block(66, 1)) \
        + piece(length_block(80, 2)) + piece(bytes(macro))
    yield "layout2-cut", bytes([4]) + piece(header) + piece(length_block(66, 1)) \
        + piece(length_block(66, 2)) + piece(bytes(macro)) + struct.pack("<I", 0x1C000 + 40)
    # Layout 1: count at 0x124, total at 0x125, records from 0x164 (piece 0 starts at 0x120).
    first = bytearray(0x44) + macro_record(100, 2, 3) + macro_record(120, 3, 4)
    first[4] = 2
    yield "layout1-convert", bytes([1]) + piece(bytes(first)) + piece(length_block(66, 5)) \
        + piece(length_block(70, 6)) + piece(b"")
    yield "layout1-keep", bytes([3]) + piece(bytes(first)) + piece(length_block(66, 5)) \
        + piece(length_block(70, 6)) + piece(b"")
    none = bytearray(0x44)
    yield "layout1-no-macros", bytes([1]) + piece(bytes(none)) + piece(length_block(66, 5)) \
        + piece(length_block(66, 6)) + piece(b"")


def catalogue_seeds():
    entry = {"version": "5.7.2", "download": "http://127.0.0.1:9/fw/5.7.2.rfw", "info": "fixes"}
    root = {"download": {"flashTool": {"version": "1.9.1", "info": "new tool",
                                       "windowsURL": "http://127.0.0.1:9/tool"},
                         "firmware": [entry, {"version": "5.6.0", "download": "", "info": ""}]}}
    yield "valid", json.dumps(root, indent=2).encode()
    yield "no-firmware", json.dumps({"download": {"flashTool": {}}}).encode()
    yield "odd-entries", json.dumps({"download": {"firmware": [
        {"info": "no version"}, {"version": "../../etc/passwd"}, {"version": "5.\u00e9.\u4e00"},
        {"version": 5}, "not an object", {"version": "a/b\\c\u0001"}]}}).encode()
    yield "array", b"[1, 2, 3]"
    yield "empty-object", b"{}"
    yield "html", b"<html><body>404</body></html>"


def device_name_seeds():
    yield "usb-adapter", (b"\\\\?\\HID#VID_0E3A&PID_B471#7&1a2b3c4d&0&0000#"
                          b"{4d1e55b2-f16f-11cf-88cb-001111000030}")
    yield "usb-other", b"\\\\?\\USB#VID_1234&PID_B471#5&abc#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
    yield "disk", (b"\\\\?\\USBSTOR#Disk&Ven_0E3A&Prod_B471&Rev_1.00#7&2c3b&0#"
                   b"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}")
    yield "one-field", b"VID_0E3A&PID_B471"
    yield "few-parts", b"x#VID_0E3A#y"
    yield "not-hex", b"x#VID_zzzz&PID_-1#y"
    yield "wide", "\\\\?\\HID#VID_0E3A&PID_B471#7&0#{x}".encode("utf-16-le")


def handshake_seeds():
    yield "duplicate", handshake(INSTANCE_KEY, 1, 0)
    yield "secondary", handshake(INSTANCE_KEY, 2, 3)
    yield "message", handshake(INSTANCE_KEY, 3, 7) + b"hello primary"
    yield "bad-checksum", handshake(INSTANCE_KEY, 3, 7, corrupt=True)
    yield "other-key", handshake(b"another program's key", 2, 1)
    yield "huge-length", struct.pack(">q", 1 << 40) + b"\0" * 16


def adapter_answer_seeds():
    # plan, read address choice and offset, read length, region count, per region offset and
    # length, seed, progress kind, then one script byte per exchange.
    params = bytes([7, 2, 0]) + le16(300) + bytes([2]) + bytes([0]) + le16(120) \
        + bytes([4]) + le16(60) + bytes([9, 0])
    yield "all-right", params
    yield "each-fault", params + bytes([0, 0x81, 0, 2, 5, 0, 3, 51, 0, 4, 20, 0, 5, 7, 1, 0, 7])
    yield "late-faults", params + bytes([0] * 8) + bytes([1, 0x58, 0, 0, 0]) + bytes([0] * 3) \
        + bytes([6])
    yield "short-and-long", bytes([5, 0, 0]) + le16(64) + bytes([1, 0]) + le16(52) \
        + bytes([1, 1]) + bytes([4, 64, 4, 11, 0, 0x91, 0])


GENERATORS = {
    "fuzz_firmwareimage": firmware_seeds,
    "fuzz_backupfile": backup_seeds,
    "fuzz_configrestore": config_restore_seeds,
    "fuzz_catalogue": catalogue_seeds,
    "fuzz_devicename": device_name_seeds,
    "fuzz_handshake": handshake_seeds,
    "fuzz_adapteranswers": adapter_answer_seeds,
}


def main():
    for target, generate in GENERATORS.items():
        directory = CORPUS / target
        if directory.exists():
            shutil.rmtree(directory)
        directory.mkdir(parents=True)
        count = 0
        for name, data in generate():
            (directory / name).write_bytes(data)
            count += 1
        print(f"{target}: {count} seeds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
