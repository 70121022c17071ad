#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Small HTTP server for the firmware catalogue and images, for tests and demos.

Serves a directory on 127.0.0.1 and prints the chosen port on its first stdout line. Ends
when the process that started it ends.

  catalogue_server.py --root DIR [--port N] [--tls CERT KEY]

With --tls it speaks HTTPS with the certificate chain in CERT and its key in KEY.

Besides plain files under DIR it answers these control paths:
  /_control/status/CODE/...      answers CODE with a short text body
  /_control/drop/FILE            announces FILE's full length, sends half of it, closes
  /_control/slow/FILE            sends FILE in 16 KiB pieces, 20 ms apart
  /_control/chunked/FILE         sends FILE with chunked encoding (no length announced)
  /_control/redirect/PATH        302 to /PATH on this server
  /_control/reason/TEXT/...      answers 500 with TEXT as the status line's reason phrase
  /_control/silent/...           reads the request and never answers
  /_control/stall/FILE           announces FILE's full length, sends half of it, then waits
  /_control/trickle/SECONDS/...  announces 266712 bytes of body, sends one every SECONDS
                                 (the rest once the client has waited HOLD_SECONDS)
  /_control/gzip/SIZE/...        gzip-encoded body (sent unasked) that unpacks to SIZE spaces
  /_control/big/SIZE/...         SIZE zero bytes with their length announced, sent only if the
                                 client is still there REFUSE_SECONDS after the headers
  /_control/bigchunked/SIZE/...  SIZE zero bytes, chunked (no length announced)
  /_control/headers/SIZE/...     about SIZE bytes of header lines before a short body; with
                                 SIZE 0, header lines without end until the client goes away
  /_control/log                  the paths requested so far (JSON list), control paths excluded
  /_control/sent                 bytes of body sent for each big/bigchunked path (JSON object),
                                 recorded when the transfer ends or the client goes away
  /_control/clearlog             empties that list
A waiting route holds the connection until the client goes away, at most HOLD_SECONDS.
A malformed control path gets a 400.
Requests sent through it as a proxy (absolute address in the request line) are served the
same way, by their path.
"""

import argparse
import http.server
import json
import os
import select
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import zlib

PIECE = 16 * 1024
HOLD_SECONDS = 120
# How long an announced big body waits for a client that refuses it at the headers; the count
# of bytes sent then does not depend on how much the socket buffers take.
REFUSE_SECONDS = 5
TRICKLE_SIZE = 266712
MIB = 1 << 20


def gzip_of_spaces(size):
    """A gzip stream of size spaces (whole MiB), built from one compressed MiB repeated."""
    block = b" " * MIB
    count = max(1, size // MIB)
    comp = zlib.compressobj(9, zlib.DEFLATED, 31)
    # After a full flush the compressor starts afresh, so every further MiB compresses alike.
    head = comp.compress(block) + comp.flush(zlib.Z_FULL_FLUSH)
    piece = comp.compress(block) + comp.flush(zlib.Z_FULL_FLUSH)
    last_block = comp.flush()[:-8]  # its trailer counted two MiB only
    crc = 0
    for _ in range(count):
        crc = zlib.crc32(block, crc)
    trailer = struct.pack("<II", crc, (count * MIB) & 0xFFFFFFFF)
    return head + piece * (count - 1) + last_block + trailer


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "CatalogueServer/1"

    def log_message(self, format, *args):  # keep stdout for the port line only
        pass

    def do_GET(self):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if path not in ("/_control/log", "/_control/clearlog", "/_control/sent"):
            with self.server.lock:
                self.server.requests.append(path)
        try:
            self.route(path)
        except ValueError:
            self.send_body(400, b"malformed control path\n")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def hold(self, seconds=HOLD_SECONDS):
        """Keeps the connection open, sending nothing, until the client goes away or seconds
        pass; True when the client went away."""
        self.wfile.flush()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 0.5)
            if readable and not self.connection.recv(4096):
                self.close_connection = True
                return True
        self.close_connection = True
        return False

    def trickle(self, interval):
        """Sends one byte of the announced body every interval seconds until the client goes
        away; a client still there after HOLD_SECONDS gets the rest at once."""
        if not interval > 0:
            raise ValueError(interval)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(TRICKLE_SIZE))
        self.end_headers()
        self.wfile.flush()
        deadline = time.monotonic() + HOLD_SECONDS
        sent = 0
        while sent < TRICKLE_SIZE and time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], interval)
            if readable:
                if not self.connection.recv(4096):
                    self.close_connection = True
                    return
                continue
            self.wfile.write(b" ")
            self.wfile.flush()
            sent += 1
        self.wfile.write(b" " * (TRICKLE_SIZE - sent))

    def route(self, path):
        if not path.startswith("/_control/"):
            return self.send_file(path)
        parts = path[len("/_control/"):].split("/", 1)
        action, rest = parts[0], (parts[1] if len(parts) > 1 else "")
        if action == "log":
            with self.server.lock:
                body = json.dumps(self.server.requests).encode()
            return self.send_body(200, body, "application/json")
        if action == "sent":
            with self.server.lock:
                body = json.dumps(self.server.sent).encode()
            return self.send_body(200, body, "application/json")
        if action == "clearlog":
            with self.server.lock:
                self.server.requests.clear()
            return self.send_body(200, b"ok")
        if action == "status":
            code = int(rest.split("/", 1)[0] or "500")
            return self.send_body(code, ("status %d\n" % code).encode())
        if action == "redirect":
            body = b"moved\n"  # a body that must not end up in front of the target's
            self.send_response(302)
            # Quoted and rooted here: "//host" or a line break cannot come through.
            self.send_header("Location", urllib.parse.quote("/" + rest.lstrip("/\\")))
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return None
        if action == "reason":
            text = rest.split("/", 1)[0]
            body = b"reason\n"
            self.send_response_only(500, text)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return None
        if action == "silent":
            return self.hold()
        if action == "trickle":
            return self.trickle(float(rest.split("/", 1)[0]))
        if action == "gzip":
            body = gzip_of_spaces(int(rest.split("/", 1)[0]))
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return None
        if action == "headers":
            return self.send_headers(int(rest.split("/", 1)[0]))
        if action in ("big", "bigchunked"):
            size = int(rest.split("/", 1)[0])
            return self.send_generated(path, size, chunked=(action == "bigchunked"))
        data = self.read_file("/" + rest)
        if data is None:
            return self.send_body(404, b"not found\n")
        if action in ("drop", "stall"):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            if action == "stall":
                return self.hold()
            self.close_connection = True
            return None
        if action == "slow":
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            for start in range(0, len(data), PIECE):
                self.wfile.write(data[start:start + PIECE])
                self.wfile.flush()
                time.sleep(0.02)
            return None
        if action == "chunked":
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for start in range(0, len(data), PIECE):
                self.write_chunk(data[start:start + PIECE])
            self.write_chunk(b"")
            return None
        return self.send_body(404, b"unknown control\n")

    def read_file(self, path):
        root = self.server.root
        target = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if target != root and not target.startswith(root + os.sep):
            return None
        if not os.path.isfile(target):
            return None
        with open(target, "rb") as f:
            return f.read()

    def send_file(self, path):
        data = self.read_file(path)
        if data is None:
            return self.send_body(404, b"not found\n")
        kind = "application/json" if path.endswith(".json") else "application/octet-stream"
        return self.send_body(200, data, kind)

    def send_body(self, code, body, kind="text/plain"):
        self.send_response(code)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def write_chunk(self, data):
        self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")

    def send_headers(self, size):
        if size < 0:
            raise ValueError(size)
        self.send_response_only(200)
        self.flush_headers()
        line = b"X-Fill: " + b"a" * 1014 + b"\r\n"
        sent = 0
        deadline = time.monotonic() + HOLD_SECONDS
        self.close_connection = True
        while (size == 0 and time.monotonic() < deadline) or sent < size:
            self.wfile.write(line * 16)
            sent += 16 * len(line)
        body = b"ok\n"
        self.wfile.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def send_generated(self, path, size, chunked):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(size))
        self.end_headers()
        block = bytes(256 * 1024)
        sent = 0
        try:
            if not chunked and self.hold(REFUSE_SECONDS):
                return
            while sent < size:
                piece = block[: min(size - sent, len(block))]
                if chunked:
                    self.write_chunk(piece)
                else:
                    self.wfile.write(piece)
                sent += len(piece)
            if chunked:
                self.write_chunk(b"")
        finally:
            with self.server.lock:
                self.server.sent[path] = sent


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, root):
        super().__init__(address, Handler)
        self.root = os.path.realpath(root)
        self.requests = []
        self.sent = {}
        self.lock = threading.Lock()


def exit_with_parent():
    """Ends the server once the process that started it is gone. A test program that crashes
    leaves it behind otherwise, holding the test runner's output open until its time-out."""
    parent = os.getppid()

    def watch():
        while os.getppid() == parent:
            time.sleep(0.5)
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description="Serve a firmware catalogue directory on loopback.")
    parser.add_argument("--root", default=".", help="directory to serve (default: current)")
    parser.add_argument("--port", type=int, default=0, help="port (default: a free one)")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="serve HTTPS")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), args.root)
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    exit_with_parent()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
