#!/usr/bin/env python3
"""Process test of kq_balancer, the cluster tests' TCP load balancer: round
robin over the back ends, a refusing back end skipped, bytes intact both ways
with half closes passed on, a side that does not read holding the other back,
the command line. Runs in a network namespace of its own (see CMakeLists.txt).

Usage: balancer_test.py PATH_TO_KQ_BALANCER
"""
import os
import re
import selectors
import signal
import socket
import subprocess
import sys
import threading
import unittest

BALANCER = None


def listener():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    return s


def closed_port():
    """A port nothing listens on (bound once, then released)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def receive_all(sock):
    chunks = []
    while True:
        data = sock.recv(1 << 16)
        if not data:
            return b"".join(chunks)
        chunks.append(data)


class Balancer:
    """kq_balancer on an ephemeral port with the given back-end ports."""

    def __init__(self, ports):
        self.proc = subprocess.Popen(
            [BALANCER, "127.0.0.1:0"] + ["127.0.0.1:%d" % p for p in ports],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        match = re.match(r"balancing 127\.0\.0\.1:(\d+) -> (.*)$", first.rstrip("\n"))
        if not match:
            raise AssertionError("unexpected first line %r (stderr %r)" % (first, self.proc.stderr.read()))
        self.port = int(match.group(1))
        self.backends_line = match.group(2)
        self.lines = []
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()

    def wait_line(self, pattern, timeout=30):
        """The first line matching the regular expression PATTERN (waits for it)."""
        with self.cond:
            found = self.cond.wait_for(lambda: any(re.search(pattern, l) for l in self.lines), timeout)
            if not found:
                raise AssertionError("no line matching %r in %r" % (pattern, self.lines))
            return next(l for l in self.lines if re.search(pattern, l))

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=30)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=30)
        self.reader.join(30)
        self.proc.stdout.close()
        self.proc.stderr.close()
        return status


class BalancerTest(unittest.TestCase):
    def setUp(self):
        self.to_close = []
        self.balancer = None

    def tearDown(self):
        if self.balancer:
            self.balancer.stop()
        for s in self.to_close:
            s.close()

    def start(self, ports):
        self.balancer = Balancer(ports)
        return self.balancer

    def backends(self, n):
        ls = [listener() for _ in range(n)]
        self.to_close += ls
        return ls

    def accepted_by(self, listeners, timeout=30):
        """(index of the listener that accepted, the accepted socket)."""
        sel = selectors.DefaultSelector()
        for i, l in enumerate(listeners):
            sel.register(l, selectors.EVENT_READ, i)
        events = sel.select(timeout)
        sel.close()
        self.assertEqual(len(events), 1, "exactly one back end is offered the connection")
        key = events[0][0]
        sock, _ = key.fileobj.accept()
        self.to_close.append(sock)
        return key.data, sock

    def test_connections_go_to_the_back_ends_in_turn_skipping_those_that_refuse(self):
        # back ends as (listening?) in the order given; the order connections must take
        cases = [
            ("three accepting", [True, True, True], [0, 1, 2, 0, 1, 2]),
            ("the middle one refuses", [True, False, True], [0, 2, 0, 2]),
            ("the first one refuses", [False, True, True], [1, 2, 1, 2]),
            ("only one accepts", [False, False, True], [2, 2, 2]),
        ]
        for name, listening, expected in cases:
            with self.subTest(name):
                listeners = {i: l for i, l in zip([i for i, up in enumerate(listening) if up],
                                                  self.backends(sum(listening)))}
                ports = [listeners[i].getsockname()[1] if up else closed_port() for i, up in enumerate(listening)]
                b = self.start(ports)
                order = []
                for n in range(len(expected)):
                    client = b.connect()
                    self.to_close.append(client)
                    index, sock = self.accepted_by(list(listeners.values()))
                    order.append(list(listeners.keys())[index])
                    # the pair is joined: a byte crosses each way
                    client.sendall(b"u")
                    self.assertEqual(sock.recv(1), b"u")
                    sock.sendall(b"d")
                    self.assertEqual(client.recv(1), b"d")
                    b.wait_line(r"^connection %d from 127\.0\.0\.1:\d+ -> 127\.0\.0\.1:%d$" % (n + 1, ports[order[-1]]))
                self.assertEqual(order, expected)
                for i, up in enumerate(listening):
                    if not up:
                        b.wait_line(r"^connection \d+: back end 127\.0\.0\.1:%d refused \(Connection refused\)$" % ports[i])
                self.assertEqual(b.stop(), 0)
                self.assertEqual(b.lines[-1], "stopped")

    def test_a_connection_no_back_end_accepts_is_closed(self):
        b = self.start([closed_port(), closed_port()])
        client = b.connect()
        self.to_close.append(client)
        self.assertEqual(receive_all(client), b"")
        b.wait_line(r"^connection 1 from 127\.0\.0\.1:\d+: no back end accepts it; closed$")
        # it keeps serving: a back end that comes up later is used
        (up,) = self.backends(1)
        b2 = Balancer([closed_port(), up.getsockname()[1]])
        try:
            client = b2.connect()
            self.to_close.append(client)
            _, sock = self.accepted_by([up])
            sock.sendall(b"x")
            self.assertEqual(client.recv(1), b"x")
        finally:
            b2.stop()

    def test_bytes_cross_intact_both_ways_and_half_closes_are_passed_on(self):
        (up,) = self.backends(1)
        b = self.start([up.getsockname()[1]])
        client = b.connect()
        self.to_close.append(client)
        _, server = self.accepted_by([up])
        to_server = os.urandom(3 * 1024 * 1024 + 17)
        to_client = os.urandom(5 * 1024 * 1024 + 3)
        got = {}

        def server_side():
            # reads everything up to the client's half close, then answers and closes
            sender = threading.Thread(target=server.sendall, args=(to_client,))
            sender.start()
            got["server"] = receive_all(server)
            sender.join()
            server.sendall(b"after your end")
            server.close()

        t = threading.Thread(target=server_side)
        t.start()
        client.sendall(to_server)
        client.shutdown(socket.SHUT_WR)
        got["client"] = receive_all(client)
        t.join(60)
        self.assertEqual(got["server"], to_server)
        self.assertEqual(got["client"], to_client + b"after your end")
        b.wait_line(r"^connection 1 closed \(%d bytes to 127\.0\.0\.1:%d, %d back\)$"
                    % (len(to_server), up.getsockname()[1], len(to_client) + len(b"after your end")))

    def test_a_back_end_that_goes_away_ends_its_connections_and_is_skipped_later(self):
        a, other = self.backends(2)
        b = self.start([a.getsockname()[1], other.getsockname()[1]])
        client = b.connect()
        self.to_close.append(client)
        _, server = self.accepted_by([a])
        server.sendall(b"last words")
        server.close()
        a.close()
        self.assertEqual(receive_all(client), b"last words")
        # the next two connections: the next in turn, then the dead one skipped
        for _ in range(2):
            c = b.connect()
            self.to_close.append(c)
            index, _ = self.accepted_by([other])
            self.assertEqual(index, 0)

    def test_a_side_that_does_not_read_holds_the_other_back(self):
        (up,) = self.backends(1)
        b = self.start([up.getsockname()[1]])
        client = b.connect()
        self.to_close.append(client)
        _, server = self.accepted_by([up])
        server.setblocking(False)
        payload = os.urandom(1 << 20)
        sent = 0
        # the client reads nothing: the balancer must stop taking bytes once
        # the buffers on the way are full, not read everything into memory
        stalls = 0
        while sent < 256 << 20 and stalls < 50:
            try:
                sent += server.send(payload[sent % len(payload):])
                stalls = 0
            except BlockingIOError:
                stalls += 1
                selectors.DefaultSelector().select(0.02)
        self.assertLess(sent, 128 << 20, "the balancer kept reading from a back end whose client does not read")
        server.setblocking(True)
        server.shutdown(socket.SHUT_WR)
        received = receive_all(client)
        self.assertEqual(len(received), sent)
        self.assertEqual(received[:1024], payload[:1024])

    def test_the_command_line(self):
        taken = listener()
        self.to_close.append(taken)
        cases = [
            ("no back end", ["127.0.0.1:0"], 2, "usage: kq_balancer LISTEN_HOST:PORT BACKEND_HOST:PORT..."),
            ("no port", ["127.0.0.1", "127.0.0.1:1"], 2, "kq_balancer: not HOST:PORT: 127.0.0.1"),
            ("a name, not an address", ["localhost:1", "127.0.0.1:1"], 2, "kq_balancer: not an IPv4 address: localhost"),
            ("a port out of range", ["127.0.0.1:0", "127.0.0.1:70000"], 2, "kq_balancer: not a port number: 70000"),
            ("the port is taken", ["127.0.0.1:%d" % taken.getsockname()[1], "127.0.0.1:1"], 1,
             "kq_balancer: cannot listen on 127.0.0.1:%d: Address already in use" % taken.getsockname()[1]),
        ]
        for name, args, status, first_line in cases:
            with self.subTest(name):
                run = subprocess.run([BALANCER] + args, capture_output=True, text=True, timeout=30)
                self.assertEqual(run.returncode, status)
                self.assertEqual(run.stderr.splitlines()[0], first_line)
                self.assertEqual(run.stdout, "")


if __name__ == "__main__":
    BALANCER = sys.argv.pop(1)
    unittest.main()
