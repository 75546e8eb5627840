"""TCP port 22 of a newer clock: accepts a connection and closes it.

A clock of the old model has no listener, so the connection is refused.
"""

import socket


class ProbeListener:
    def __init__(self, sim, clock, port: int):
        self.sim, self.clock = sim, clock
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((clock.ip, port))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        sim.loop.add_reader(self.sock, self.on_connection)

    def on_connection(self, sock) -> None:
        try:
            connection, source = sock.accept()
        except OSError:
            return
        connection.close()
        self.sim.recorder.write({"proto": "tcp", "src": source[0], "sport": source[1], "dst": self.clock.ip,
                                 "dport": self.port, "clock": self.clock.ip, "result": "accepted"})

    def close(self) -> None:
        self.sim.loop.remove_reader(self.sock)
        self.sock.close()
