#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Starts the repository's own Linux scripts for a Windows test program under Wine.

Wine does not start Linux programs from CreateProcess, so the Windows tests ask this runner,
which wine-run.sh starts on loopback beside each test program and ends with it, to start them
(the catalogue test server, make-firmware.sh). A client connects and sends one JSON line:

  {"token": TOKEN, "program": PATH, "arguments": [...]}

PATH must name a script in the repository's tools/scripts/ (a .py runs under python3 -u, a
.sh under bash). Windows paths ("C:\\...", "Z:/...") in PATH and in the arguments become
the Unix paths that Wine maps them to. The runner answers with JSON lines: {"started": PID}
once the program runs, {"out": BASE64} for each piece of its standard output, then
{"exit": CODE} (negative: ended by that signal); or {"error": TEXT} alone when it refuses or
cannot start the program. Its standard
error goes to the runner's own. A further line from the client, or the end of its
connection, ends the program (SIGTERM, then SIGKILL).

  host-runner.py --root REPOSITORY --port-file FILE --token TOKEN
"""

import argparse
import base64
import json
import os
import re
import signal
import socket
import subprocess
import sys
import threading

DRIVE_PATH = re.compile(r"^([A-Za-z]):([\\/].*)?$")
# How long a program may take to end after SIGTERM before it is killed.
TERM_SECONDS = 3


def unix_path(text, prefix):
    """The Unix path of a Windows path under the Wine prefix; other text is returned as it is."""
    match = DRIVE_PATH.match(text)
    if not match:
        return text
    drive = os.path.join(prefix, "dosdevices", match.group(1).lower() + ":")
    if not os.path.exists(drive):
        return text
    rest = (match.group(2) or "").replace("\\", "/").lstrip("/")
    return os.path.join(os.path.realpath(drive), rest)


def command_line(request, scripts, prefix):
    """The argument vector for a request, or raises ValueError with the reason."""
    program = request.get("program")
    arguments = request.get("arguments", [])
    if not isinstance(program, str) or not isinstance(arguments, list) \
            or not all(isinstance(a, str) for a in arguments):
        raise ValueError("a request needs a program and a list of text arguments")
    path = os.path.realpath(unix_path(program, prefix))
    if os.path.dirname(path) != scripts or not os.path.isfile(path):
        raise ValueError("only the scripts of tools/scripts/ may be started: " + program)
    arguments = [unix_path(a, prefix) for a in arguments]
    if path.endswith(".py"):
        return [sys.executable, "-u", path] + arguments
    if path.endswith(".sh"):
        return ["bash", path] + arguments
    raise ValueError("not a .py or .sh script: " + program)


class Connection:
    def __init__(self, client, scripts, prefix, token):
        self.client = client
        self.scripts = scripts
        self.prefix = prefix
        self.token = token
        self.send_lock = threading.Lock()
        self.process = None

    def send(self, message):
        data = (json.dumps(message) + "\n").encode()
        with self.send_lock:
            try:
                self.client.sendall(data)
            except OSError:
                pass

    def read_request(self):
        data = b""
        while b"\n" not in data:
            piece = self.client.recv(4096)
            if not piece or len(data) > 1 << 20:
                return None
            data += piece
        return json.loads(data.split(b"\n", 1)[0])

    def run(self):
        try:
            try:
                request = self.read_request()
            except ValueError:
                request = None
            if not isinstance(request, dict) or request.get("token") != self.token:
                self.send({"error": "not a request of this test run"})
                return
            try:
                argv = command_line(request, self.scripts, self.prefix)
                self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                                                stdout=subprocess.PIPE, start_new_session=True)
            except (ValueError, OSError) as error:
                self.send({"error": str(error)})
                return
            self.send({"started": self.process.pid})
            relay = threading.Thread(target=self.relay, daemon=True)
            relay.start()
            # Any further line, or the end of the connection (or of the client's process),
            # ends the program; its exit still goes to a client that is there.
            piece = b""
            while b"\n" not in piece:
                piece = self.client.recv(4096)
                if not piece:
                    break
            self.end()
            relay.join()
        except OSError:
            pass
        finally:
            self.end()
            self.client.close()

    def relay(self):
        while True:
            piece = self.process.stdout.read1(65536)
            if not piece:
                break
            self.send({"out": base64.b64encode(piece).decode()})
        self.send({"exit": self.process.wait()})

    def end(self):
        if self.process is not None:
            end(self.process)


def end(process):
    """Ends a program and whatever it started in its session."""
    if process.poll() is not None:
        return
    for sig, wait in ((signal.SIGTERM, TERM_SECONDS), (signal.SIGKILL, None)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(wait)
            return
        except subprocess.TimeoutExpired:
            pass


def main():
    parser = argparse.ArgumentParser(description="Start tools/scripts programs for Windows tests.")
    parser.add_argument("--root", required=True, help="the repository")
    parser.add_argument("--port-file", required=True, help="where the chosen port is written")
    parser.add_argument("--token", required=True, help="what every request must carry")
    args = parser.parse_args()
    scripts = os.path.realpath(os.path.join(args.root, "tools", "scripts"))
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(args.port_file + ".new", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.replace(args.port_file + ".new", args.port_file)
    # Ended by wine-run.sh with SIGTERM: the programs of open connections end with it.
    connections = []
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        while True:
            client, _ = listener.accept()
            connection = Connection(client, scripts, prefix, args.token)
            connections.append(connection)
            threading.Thread(target=connection.run, daemon=True).start()
    finally:
        for connection in connections:
            connection.end()


if __name__ == "__main__":
    sys.exit(main())
