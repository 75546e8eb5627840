"""Run-time control: one JSON request per connection on a Unix stream socket.

A path-based Unix socket can be reached from every network namespace of the
machine, so a test in the tool's namespace can drive clocks in theirs.
"""

import json
import os
import socket

MAX_REQUEST = 1 << 20
CLIENT_TIMEOUT = 1.0


class ControlError(ValueError):
    pass


class ControlServer:
    def __init__(self, sim, path: str):
        self.sim, self.path = sim, path
        if os.path.exists(path):
            os.unlink(path)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(path)
        self.sock.listen(8)
        sim.loop.add_reader(self.sock, self.on_connection)

    def close(self) -> None:
        self.sim.loop.remove_reader(self.sock)
        self.sock.close()
        if os.path.exists(self.path):
            os.unlink(self.path)

    def on_connection(self, sock) -> None:
        try:
            connection, _ = sock.accept()
        except OSError:
            return
        with connection:
            connection.settimeout(CLIENT_TIMEOUT)
            try:
                request = json.loads(read_request(connection))
            except (OSError, ValueError):
                return
            try:
                reply = self.sim.control(request)
            except (ControlError, ValueError, KeyError, TypeError, AttributeError, OSError) as error:
                reply = {"ok": False, "error": str(error)}
            try:
                connection.sendall(json.dumps(reply).encode("utf-8") + b"\n")
            except OSError:
                pass


def read_request(connection) -> bytes:
    request = b""
    while not request.endswith(b"\n") and len(request) < MAX_REQUEST:
        chunk = connection.recv(65536)
        if not chunk:
            break
        request += chunk
    return request


def send_request(path: str, request: dict, timeout: float = 5.0) -> dict:
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as client:
        client.settimeout(timeout)
        client.connect(path)
        client.sendall(json.dumps(request).encode("utf-8") + b"\n")
        client.shutdown(socket.SHUT_WR)
        return json.loads(read_request(client))
