#!/usr/bin/env python3
"""forwarder.py: a TCP forwarder between a client and a server that can go dark.

Usage: forwarder.py LISTEN_PORT TARGET_PORT   (both on 127.0.0.1)

Every connection accepted on LISTEN_PORT is joined to a new connection to
TARGET_PORT and bytes are copied both ways; a close on one side closes the
other.

SIGUSR1: the path goes dark, as when a NAT drops its mappings or the server's
host loses power: every connection open now, and every one accepted while
dark, is frozen for good. Nothing is read from it, nothing is written to it
and it is never closed, so neither end sees a FIN or a RST; their kernels
still take bytes into the socket buffers.
SIGUSR2: the path is back for new connections; frozen ones stay frozen.
Prints "forwarding LISTEN_PORT -> TARGET_PORT" once it listens, and one line
per connection and per change of state.
"""
import selectors
import signal
import socket
import sys


class Forwarder:
    def __init__(self, listen_port, target_port):
        self.target_port = target_port
        self.selector = selectors.DefaultSelector()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", listen_port))
        self.listener.listen(64)
        self.selector.register(self.listener, selectors.EVENT_READ, None)
        self.peer = {}       # socket -> the socket its bytes go to
        self.frozen = []     # sockets kept open and untouched for good
        self.dark = False
        self.pending_signal = None

    def say(self, text):
        print(text, flush=True)

    def on_signal(self, number, _frame):
        self.pending_signal = number

    def apply_signal(self):
        number, self.pending_signal = self.pending_signal, None
        if number == signal.SIGUSR1 and not self.dark:
            self.dark = True
            for sock in list(self.peer):
                self.freeze(sock)
            self.say("dark: %d socket(s) frozen" % len(self.frozen))
        elif number == signal.SIGUSR2 and self.dark:
            self.dark = False
            self.say("light: new connections are forwarded")

    def freeze(self, sock):
        if sock in self.peer:
            self.selector.unregister(sock)
            del self.peer[sock]
            self.frozen.append(sock)

    def accept(self):
        client, _ = self.listener.accept()
        if self.dark:
            self.frozen.append(client)
            self.say("accepted while dark: frozen")
            return
        try:
            server = socket.create_connection(("127.0.0.1", self.target_port))
        except OSError as error:
            self.say("cannot reach the server: %s" % error)
            client.close()
            return
        for sock in (client, server):
            sock.setblocking(True)
            self.selector.register(sock, selectors.EVENT_READ, None)
        self.peer[client] = server
        self.peer[server] = client
        self.say("connection forwarded")

    def close_pair(self, sock):
        other = self.peer.pop(sock, None)
        self.selector.unregister(sock)
        sock.close()
        if other is not None and other in self.peer:
            del self.peer[other]
            self.selector.unregister(other)
            other.close()
        self.say("connection closed")

    def copy(self, sock):
        try:
            data = sock.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.close_pair(sock)
            return
        try:
            self.peer[sock].sendall(data)
        except OSError:
            self.close_pair(sock)

    def run(self):
        signal.signal(signal.SIGUSR1, self.on_signal)
        signal.signal(signal.SIGUSR2, self.on_signal)
        self.say("forwarding %d -> %d" % (self.listener.getsockname()[1], self.target_port))
        while True:
            if self.pending_signal is not None:
                self.apply_signal()
            for key, _ in self.selector.select(timeout=0.2):
                if self.pending_signal is not None:
                    break  # go dark before another byte crosses
                if key.fileobj is self.listener:
                    self.accept()
                elif key.fileobj in self.peer:
                    self.copy(key.fileobj)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    Forwarder(int(sys.argv[1]), int(sys.argv[2])).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
