#!/usr/bin/env python3
"""forwarder.py: a TCP forwarder between a client and a server that can go
dark, delay and stall what it passes, and reset its connections.

Usage: forwarder.py LISTEN_PORT TARGET_PORT [--latency-ms N]
                    [--stall-every-s A --stall-s B]   (both ports on 127.0.0.1)

Every connection accepted on LISTEN_PORT is joined to a new connection to
TARGET_PORT and bytes are copied both ways; a close on one side closes the
other.

--latency-ms N: every byte is held N ms before it is passed on, in each
direction (a long path; reads go on meanwhile, up to 4 MiB held a direction).
--stall-every-s A --stall-s B: every A seconds from the start the path
passes nothing for B seconds (a congested or flapping link); what arrives
meanwhile waits. After a stall (or a hold) each direction catches up at one
and a half times the pace it lost, in order and keeping the spacing of what
it carries at two thirds: two packets the server sent a second apart never
reach the client in one read.

SIGUSR1: the path goes dark, as when a NAT drops its mappings or the server's
host loses power: every connection open now, and every one accepted while
dark, is frozen for good. Nothing is read from it, nothing is written to it
and it is never closed, so neither end sees a FIN or a RST; their kernels
still take bytes into the socket buffers.
SIGUSR2: the path is back for new connections; frozen ones stay frozen.
SIGHUP: every open connection is reset: both ends get a RST and what was
held for them is dropped; new connections are forwarded as before.
SIGWINCH: holds the server's next request: once the client's next listing
answer ("ANLST") has passed, nothing goes from the server to the client (it
waits) until the next SIGWINCH. The client has then answered exactly one
listing, whatever the timing.
Prints "forwarding LISTEN_PORT -> TARGET_PORT" once it listens, and one line
per connection and per change of state.
"""
import argparse
import collections
import selectors
import signal
import socket
import struct
import sys
import time

MAX_HELD = 4 << 20  # bytes held for one direction before its source is read no more
CATCH_UP = 1.5      # the pace at which a direction's clock catches up after a stall


class Forwarder:
    def __init__(self, listen_port, target_port, latency_s=0.0, stall_every_s=0.0, stall_s=0.0):
        self.target_port = target_port
        self.latency_s = latency_s
        self.stall_every_s = stall_every_s
        self.stall_s = stall_s
        self.started = time.monotonic()
        self.selector = selectors.DefaultSelector()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", listen_port))
        self.listener.listen(64)
        self.selector.register(self.listener, selectors.EVENT_READ, None)
        self.peer = {}       # socket -> the socket its bytes go to
        self.held = {}       # socket -> deque of (due time, bytes) read from it, not yet passed on
        self.held_bytes = {}
        self.clock = {}      # socket -> (the direction's clock, the real time it was last moved)
        self.reading = {}    # socket -> whether it is registered for reading
        self.frozen = []     # sockets kept open and untouched for good
        self.dark = False
        self.pending_signal = None
        self.was_stalled = False
        self.client_side = set()  # the accepted sockets
        self.hold_armed = False   # hold once a listing answer passed
        self.holding = False      # the server's bytes wait

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
        elif number == signal.SIGWINCH:
            if self.holding:
                self.holding = False
                self.say("released: the server's requests go on")
            else:
                self.hold_armed = True
                self.say("armed: holding after the next listing answer")
        elif number == signal.SIGHUP:
            pairs = 0
            for sock in list(self.peer):
                if sock in self.peer:
                    pairs += 1
                    self.close_pair(sock, reset=True, quiet=True)
            self.say("reset: %d connection(s)" % pairs)

    def forget(self, sock):
        if self.reading.pop(sock, False):
            self.selector.unregister(sock)
        self.held.pop(sock, None)
        self.held_bytes.pop(sock, None)
        self.clock.pop(sock, None)

    def freeze(self, sock):
        if sock in self.peer:
            self.forget(sock)
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
            self.reading[sock] = True
            self.held[sock] = collections.deque()
            self.held_bytes[sock] = 0
            self.clock[sock] = (time.monotonic(), time.monotonic())
        self.peer[client] = server
        self.peer[server] = client
        self.client_side.add(client)
        self.say("connection forwarded")

    def close_pair(self, sock, reset=False, quiet=False):
        other = self.peer.pop(sock, None)
        for s in (sock, other):
            if s is None:
                continue
            self.forget(s)
            self.peer.pop(s, None)
            self.client_side.discard(s)
            if reset:  # a zero linger time makes close() send a RST
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.close()
        if not quiet:
            self.say("connection closed")

    def stalled(self, now):
        if self.stall_every_s <= 0 or self.stall_s <= 0:
            return False
        return (now - self.started) % self.stall_every_s >= self.stall_every_s - self.stall_s

    def read(self, sock):
        try:
            data = sock.recv(65536)
        except OSError:
            data = b""
        if not data:
            # What was read before the close still goes, then the close.
            self.held[sock].append((time.monotonic() + self.latency_s, None))
            self.selector.unregister(sock)
            self.reading[sock] = False
            return
        self.held[sock].append((time.monotonic() + self.latency_s, data))
        self.held_bytes[sock] += len(data)
        if self.held_bytes[sock] >= MAX_HELD:
            self.selector.unregister(sock)
            self.reading[sock] = False

    def direction_clock(self, sock, now, stopped):
        """Moves the clock of the direction read from sock: still while stopped,
        faster than real time while behind it, with it otherwise."""
        clock, last = self.clock[sock]
        if not stopped:
            clock = min(now, clock + (now - last) * (CATCH_UP if clock < now else 1.0))
        self.clock[sock] = (clock, now)
        return clock

    def pass_on(self, now):
        """Passes on what is due; returns the time of the next due item, if any."""
        stalled = self.stalled(now)
        if stalled and not self.was_stalled:
            self.say("stall")
        self.was_stalled = stalled
        next_due = None
        for sock in list(self.held):
            if sock not in self.clock:
                continue  # closed with its pair in this round
            queue = self.held.get(sock)
            held_back = stalled or (self.holding and sock not in self.client_side)
            clock = self.direction_clock(sock, now, held_back)
            while queue and queue[0][0] <= clock:
                _, data = queue.popleft()
                if data is None:
                    self.close_pair(sock)
                    break
                self.held_bytes[sock] -= len(data)
                try:
                    self.peer[sock].sendall(data)
                except OSError:
                    self.close_pair(sock)
                    break
                if self.hold_armed and sock in self.client_side and b"ANLST" in data:
                    self.hold_armed = False
                    self.holding = True
                    self.say("holding: a listing answer passed")
            queue = self.held.get(sock)
            if sock not in self.peer:
                continue
            if not self.reading[sock] and self.held_bytes[sock] < MAX_HELD and \
                    not (queue and queue[-1][1] is None):
                self.selector.register(sock, selectors.EVENT_READ, None)
                self.reading[sock] = True
            if queue:
                # behind real time or held back: look again soon
                due = queue[0][0] if clock >= now and not held_back else now + 0.02
                next_due = due if next_due is None else min(next_due, due)
        return next_due

    def run(self):
        for number in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGHUP, signal.SIGWINCH):
            signal.signal(number, self.on_signal)
        self.say("forwarding %d -> %d" % (self.listener.getsockname()[1], self.target_port))
        while True:
            if self.pending_signal is not None:
                self.apply_signal()
            now = time.monotonic()
            next_due = self.pass_on(now)
            timeout = 0.2 if next_due is None else max(0.0, min(0.2, next_due - now))
            for key, _ in self.selector.select(timeout=timeout):
                if self.pending_signal is not None:
                    break  # act on the signal before another byte crosses
                if key.fileobj is self.listener:
                    self.accept()
                elif key.fileobj in self.peer and self.reading.get(key.fileobj):
                    self.read(key.fileobj)


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_port", type=int)
    parser.add_argument("--latency-ms", type=float, default=0.0)
    parser.add_argument("--stall-every-s", type=float, default=0.0)
    parser.add_argument("--stall-s", type=float, default=0.0)
    args = parser.parse_args()
    if args.stall_s and args.stall_s >= args.stall_every_s:
        parser.error("--stall-s must be shorter than --stall-every-s")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    Forwarder(args.listen_port, args.target_port, args.latency_ms / 1000.0, args.stall_every_s, args.stall_s).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
