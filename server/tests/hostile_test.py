#!/usr/bin/env python3
"""Process tests of kqsyncd against hostile clients. Each test starts the real
server on 127.0.0.1 (ctest runs every test in a network namespace of its own),
attacks it the way an attacker would, and then checks that the server is still
alive, stayed within a generous CPU and memory bound, and still serves a
legitimate client: a scripted client whose file must reach the store.

Usage: hostile_test.py KQSYNCD [unittest arguments]"""
import os
import resource
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

KQSYNCD = None
PORT = 24242
CONTRACT = "4242"
KEY = "HOSTILEKEY42"
INIT = b"KQFILESYNC1" + CONTRACT.encode() + KEY.encode()
EMPTY_CHANGE = (b'{"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07","time":"",'
                b'"mdate":"","mtime":"","size":"0","changetype":""}]}')
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def header(kind, rid, length):
    return kind.encode() + rid + struct.pack(">Q", length)


def change(path, changetype, newname=None, size="1"):
    text = '{"date":"2024-03-07","time":"","changes":[{"filepath":"' + path + '"'
    if newname is not None:
        text += ',"newname":"' + newname + '"'
    text += ',"date":"2024-03-07","time":"","mdate":"","mtime":"","size":"' + size + '","changetype":"'
    return (text + changetype + '"}]}').encode()


def listing(entries, mdate="2024-03-07"):
    """entries: (path, size) pairs; a size of None lists a folder."""
    parts = []
    for path, size in entries:
        if size is None:
            parts.append('"filepath":"%s","size":"0","mdate":"","mtime":""' % path)
        else:
            parts.append('"filepath":"%s","size":"%d","mdate":"%s","mtime":"14.05.09"' % (path, size, mdate))
    return ('{"content":[{' + ",".join(parts) + "}]}").encode()


class Server:
    """kqsyncd serving one contract on 127.0.0.1:PORT with a short cycle."""

    def __init__(self, root, args=(), nofile=None, data=None):
        self.root = root
        self.data = data or os.path.join(root, "data")
        self.store = os.path.join(self.data, "stores", CONTRACT)
        if not os.path.exists(os.path.join(self.data, "accounts.json")):
            subprocess.run([KQSYNCD, "--data", self.data, "account", "add", "--contract", CONTRACT, "--key", KEY],
                           check=True, stdout=subprocess.DEVNULL)
        self.log_path = os.path.join(root, "kqsyncd.log")
        self.log_file = open(self.log_path, "ab")

        def limits():
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))

        cmd = [KQSYNCD, "--data", self.data, "serve", "--listen", "127.0.0.1:%d" % PORT, "--cycle", "0.3",
               "--timeout", "3", "--init-timeout", "2"] + list(args)
        self.proc = subprocess.Popen(cmd, stdout=self.log_file, stderr=self.log_file, preexec_fn=limits)
        deadline = time.time() + 10
        while "listening on" not in self.log():
            if self.proc.poll() is not None or time.time() > deadline:
                raise AssertionError("kqsyncd did not start:\n" + self.log())
            time.sleep(0.05)

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def alive(self):
        return self.proc.poll() is None

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS

    def peak_rss_mb(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0

    def wait_log(self, text, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if text in self.log():
                return True
            time.sleep(0.05)
        return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log_file.close()


class Conversation:
    """The client end of one connection, read request by request."""

    def __init__(self, init=INIT, timeout=10, source=None):
        self.sock = socket.create_connection(("127.0.0.1", PORT), timeout=timeout,
                                             source_address=(source, 0) if source else None)
        if init:
            self.sock.sendall(init)

    def read_exact(self, n):
        data = b""
        while len(data) < n:
            part = self.sock.recv(min(n - len(data), 1 << 20))
            if not part:
                raise ConnectionError("closed by the server")
            data += part
        return data

    def request(self):
        """The next request: (type, request id, body)."""
        raw = self.read_exact(17)
        return raw[:5].decode(), raw[5:9], self.read_exact(struct.unpack(">Q", raw[9:])[0])

    def expect(self, kind):
        got, rid, body = self.request()
        if got != kind:
            raise AssertionError("expected %s, got %s %r" % (kind, got, body[:200]))
        return rid, body

    def answer(self, kind, rid, payload=b"", length=None):
        self.sock.sendall(header(kind, rid, len(payload) if length is None else length) + payload)

    def closed_by_server(self, timeout=5):
        self.sock.settimeout(timeout)
        try:
            while self.sock.recv(65536):
                pass
            return True
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False

    def until_cycle_end(self):
        """Answers what comes (change requests with the empty change) until RQFLS."""
        while True:
            kind, rid, _ = self.request()
            if kind == "RQFLS":
                return
            if kind != "RQCHG":
                raise AssertionError("expected RQCHG or RQFLS, got " + kind)
            self.answer("ANCHG", rid, EMPTY_CHANGE)

    def close(self):
        self.sock.close()


def legitimate_cycle(server, name, content=b"alive", timeout=20, mdate="2024-03-07", source=None):
    """A well-behaved client lists one file; true when the server fetched it
    into the store and closed the cycle."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            c = Conversation(timeout=5, source=source)
            try:
                while time.time() < deadline:
                    kind, rid, body = c.request()
                    if kind == "RQCHG":
                        c.answer("ANCHG", rid, EMPTY_CHANGE)
                    elif kind == "RQLST":
                        c.answer("ANLST", rid, listing([("/" + name, len(content))], mdate))
                    elif kind == "RQFIL":
                        c.answer("ANFIL", rid, content)
                    elif kind == "RQLOG":
                        c.answer("ANLOG", rid, b"log\r\n")
                    elif kind == "RQFLS":
                        path = os.path.join(server.store, name)
                        if os.path.exists(path):
                            with open(path, "rb") as f:
                                return f.read() == content
                    else:
                        c.answer("AN" + kind[2:], rid)
            finally:
                c.close()
        except (OSError, ConnectionError):
            time.sleep(0.5)
    return False


class HostileTest(unittest.TestCase):
    # Generous bounds: a loaded two-core machine stays far below them.
    cpu_limit_s = 8.0
    rss_limit_mb = 150

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kqsyncd-hostile-")
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop()
            sys.stderr.write(self.server.log()[-6000:])  # ctest shows it when the test fails
        shutil.rmtree(self.root, ignore_errors=True)

    def start(self, *args, nofile=None):
        self.server = Server(self.root, args, nofile=nofile)
        return self.server

    def assertStillServing(self, name="alive.txt"):
        s = self.server
        self.assertTrue(s.alive(), "kqsyncd ended:\n" + s.log()[-3000:])
        self.assertTrue(legitimate_cycle(s, name), "a legitimate client is not served")
        self.assertTrue(s.alive())
        self.assertLess(s.cpu_seconds(), self.cpu_limit_s)
        self.assertLess(s.peak_rss_mb(), self.rss_limit_mb)

    def lines(self):
        return self.server.log().split("\n")

    # -- paths beyond the limits ------------------------------------------------

    def test_paths_beyond_the_limits_are_refused_and_the_session_goes_on(self):
        s = self.start()
        deep = "/a" * 16000  # 32,000 bytes, 16,000 levels
        long_name = "/" + "n" * 256
        long_path = ("/" + "p" * 200) * 170  # 34,170 bytes, 170 levels
        c = Conversation()
        reports = [change(deep, "MODIFIED"), change("/x.txt", "RENAMED", newname="r" * 300),
                   change(long_path + "/f.txt", "DELETED"), change(long_name, "MODIFIED"), EMPTY_CHANGE]
        for report in reports:
            rid, _ = c.expect("RQCHG")
            c.answer("ANCHG", rid, report)
        rid, _ = c.expect("RQLST")
        c.answer("ANLST", rid, listing([(deep, 3), (long_name, None), ("/ok.txt", 2)]))
        rid, _ = c.expect("RQFIL")
        c.answer("ANFIL", rid, b"ok")
        c.until_cycle_end()
        c.close()
        with open(os.path.join(s.store, "ok.txt"), "rb") as f:
            self.assertEqual(f.read(), b"ok")
        refusals = [l for l in self.lines() if "refused, " in l]
        cut_deep = ("/a" * 256) + "..."
        self.assertEqual([l.split("] ", 1)[1] for l in refusals], [
            "change report refused, path too deep (16000 levels, at most 256): MODIFIED " + cut_deep,
            "change report refused, name too long (300 bytes, at most 255): RENAMED /x.txt -> " +
            "r" * 300 + "",
            "change report refused, path too long (34176 bytes, at most 4000): DELETED " +
            long_path[:512] + "...",
            "change report refused, name too long (256 bytes, at most 255): MODIFIED " + long_name,
            "listing entry refused, path too deep (16000 levels, at most 256): " + cut_deep,
        ])
        self.assertIn("listing: 2 entries with unusable paths left out", s.log())
        self.assertFalse(os.path.exists(os.path.join(s.store, "a")))
        self.assertStillServing()

    # -- trickles, floods of bytes and oversized answers ---------------------------

    def test_a_trickled_answer_ends_at_the_timeout_and_costs_nothing(self):
        s = self.start()
        c = Conversation()
        rid, _ = c.expect("RQCHG")
        c.answer("ANCHG", rid, EMPTY_CHANGE)
        rid, _ = c.expect("RQLST")
        c.answer("ANLST", rid, b"", length=60 << 20)  # announces 60 MiB, sends 50 bytes/s
        cpu_before = s.cpu_seconds()
        started = time.time()
        closed = False
        try:
            for _ in range(400):
                c.sock.sendall(b" ")
                time.sleep(0.02)
        except OSError:
            closed = True
        self.assertTrue(closed or c.closed_by_server(3), "the trickle was not ended")
        self.assertLess(time.time() - started, 7.5)
        self.assertLess(s.cpu_seconds() - cpu_before, 1.5)
        self.assertLess(s.peak_rss_mb(), 60)
        self.assertTrue(s.wait_log("connection closed: the client did not send its answer within the timeout"))
        # An init text trickled byte by byte ends at the init timeout.
        t = Conversation(init=b"")
        try:
            for byte in INIT:
                t.sock.sendall(bytes([byte]))
                time.sleep(0.2)
        except OSError:
            pass
        self.assertTrue(t.closed_by_server(3))
        self.assertIn("connection closed: the init text did not complete within 2 s", s.log())
        self.assertStillServing()

    def test_a_listing_over_the_limit_ends_the_cycle_and_keeps_the_connection(self):
        s = self.start("--max-listing", "1")
        c = Conversation()
        rid, _ = c.expect("RQCHG")
        c.answer("ANCHG", rid, EMPTY_CHANGE)
        rid, _ = c.expect("RQLST")
        body = listing([("/f%06d.txt" % i, 1) for i in range(30000)])
        self.assertGreater(len(body), 1 << 20)
        c.answer("ANLST", rid, body)
        c.expect("RQFLS")
        kind, rid, _ = c.request()
        if kind == "RQLOG":
            c.answer("ANLOG", rid, b"log\r\n")
            kind, rid, _ = c.request()
        self.assertEqual(kind, "RQCHG")  # the next cycle on the same connection
        c.close()
        self.assertIn("listing of %d bytes is over the limit of 1048576 bytes (--max-listing); "
                      "the cycle ends without reconciliation" % len(body), s.log())
        self.assertEqual([n for n in os.listdir(s.store) if not n.startswith(".kqsyncd")], [])
        self.assertStillServing()

    # -- connections and descriptors ------------------------------------------------

    def test_a_legitimate_client_is_served_under_1100_idle_connections(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
        s = self.start("--init-timeout", "10", nofile=1024)
        idle = []
        for _ in range(1100):
            sock = socket.socket()
            sock.setblocking(False)
            sock.connect_ex(("127.0.0.1", PORT))
            idle.append(sock)
        time.sleep(1)
        cpu_before = s.cpu_seconds()
        self.assertTrue(legitimate_cycle(s, "first.txt", timeout=15), "not served under the flood")
        time.sleep(2)
        self.assertLess(s.cpu_seconds() - cpu_before, 3.0)
        self.assertTrue(any("the longest waiting one makes room" in l for l in self.lines()))
        self.assertIn("the open-file limit of 1024 allows 494 connections (64 waiting for their init text)",
                      s.log())
        for sock in idle:
            sock.close()
        self.assertStillServing()

    def test_connection_counts_are_capped(self):
        s = self.start("--max-connections", "4", "--max-waiting", "2", "--timeout", "30")
        held = []
        for i in range(4):  # authenticated, never answering
            held.append(Conversation())
            deadline = time.time() + 5
            while s.log().count("client accepted") <= i and time.time() < deadline:
                time.sleep(0.05)
        extra = Conversation(init=b"")
        self.assertTrue(extra.closed_by_server(3), "a connection beyond the limit stayed open")
        self.assertTrue(s.wait_log("4 connections are open: 1 new connection(s) closed at once"))
        for h in held:
            h.close()
        time.sleep(0.5)
        waiting = [Conversation(init=b"") for _ in range(2)]
        time.sleep(0.3)
        third = Conversation(init=b"")
        self.assertTrue(waiting[0].closed_by_server(3), "the longest waiting connection was kept")
        self.assertFalse(third.closed_by_server(0.5))
        for w in waiting + [third, extra]:
            w.close()
        self.assertStillServing()

    def test_no_descriptor_left_backs_off_instead_of_spinning(self):
        s = self.start("--init-timeout", "10")
        resource.prlimit(s.proc.pid, resource.RLIMIT_NOFILE, (40, 40))
        idle = []
        for _ in range(80):
            sock = socket.socket()
            sock.setblocking(False)
            sock.connect_ex(("127.0.0.1", PORT))
            idle.append(sock)
        self.assertTrue(s.wait_log("cannot accept connections: Too many open files"))
        cpu_before = s.cpu_seconds()
        time.sleep(3)
        self.assertLess(s.cpu_seconds() - cpu_before, 1.5, "the accept loop spins")
        self.assertTrue(legitimate_cycle(s, "under_emfile.txt", timeout=20), "not served without descriptors")
        for sock in idle:
            sock.close()
        self.assertStillServing()

    # -- clients of one contract ------------------------------------------------------

    def test_a_slow_client_holds_the_other_clients_for_one_transfer_at_most(self):
        s = self.start("--timeout", "30")
        content = bytes(i * 7 % 251 for i in range(64 * 1024))
        with open(os.path.join(s.store, "big.bin"), "wb") as f:
            f.write(content)
        slow = Conversation(timeout=40)
        rid, _ = slow.expect("RQCHG")
        slow.answer("ANCHG", rid, EMPTY_CHANGE)
        rid, _ = slow.expect("RQLST")
        slow.answer("ANLST", rid, listing([]))
        rid, _ = slow.expect("RQCHG")  # the figures left to push
        slow.answer("ANCHG", rid, EMPTY_CHANGE)
        rid, body = slow.expect("RQPUT")
        self.assertIn(b"big.bin", body)
        slow.answer("ANPUT", rid)
        raw = slow.read_exact(17)
        self.assertEqual((raw[:5], struct.unpack(">Q", raw[9:])[0]), (b"RQFDA", len(content)))

        def read_slowly(n):  # 10 KB/s
            got = b""
            while len(got) < n:
                got += slow.read_exact(min(1000, n - len(got)))
                time.sleep(0.1)
            return got

        received = read_slowly(16 * 1024)
        # The slow client is now inside its push: it has part of the data and
        # has not answered it. The other clients of the contract go on meanwhile.
        served = {}
        others = [threading.Thread(target=lambda n=n: served.__setitem__(n, legitimate_cycle(s, n)))
                  for n in ("quick1.txt", "quick2.txt")]
        for t in others:
            t.start()
        for t in others:
            t.join(25)
        self.assertEqual(served, {"quick1.txt": True, "quick2.txt": True},
                         "the other clients waited for the slow client's transfer")
        self.assertEqual(s.log().count("pushed /big.bin (65536 bytes)"), 2)  # the quick clients' pushes only
        received += read_slowly(len(content) - len(received))
        self.assertEqual(received, content)
        slow.answer("ANFDA", raw[5:9])
        slow.until_cycle_end()
        slow.close()
        self.assertTrue(s.wait_log("pushed /big.bin (65536 bytes)", 5))
        self.assertEqual(s.log().count("pushed /big.bin (65536 bytes)"), 3)
        self.assertStillServing()

    def test_a_fetch_whose_file_another_client_changed_meanwhile_waits_for_the_next_cycle(self):
        s = self.start("--timeout", "30")
        slow = Conversation(timeout=40)
        rid, _ = slow.expect("RQCHG")
        slow.answer("ANCHG", rid, change("/same.txt", "MODIFIED", size="4"))
        rid, body = slow.expect("RQFIL")  # a report is acted on before the next is asked for
        self.assertIn(b"same.txt", body)
        slow.answer("ANFIL", rid, b"sl", length=4)  # half of the file; the rest waits
        self.assertTrue(legitimate_cycle(s, "same.txt", content=b"other"), "the other client waited")
        slow.sock.sendall(b"ow")
        rid, _ = slow.expect("RQCHG")  # the request after the data shows where it ended
        slow.answer("ANCHG", rid, EMPTY_CHANGE)
        rid, _ = slow.expect("RQCHG")  # the next report
        slow.answer("ANCHG", rid, EMPTY_CHANGE)
        slow.expect("RQLST")
        slow.close()
        self.assertIn("fetch of /same.txt dropped: the store changed meanwhile; the next cycle plans it again",
                      s.log())
        with open(os.path.join(s.store, "same.txt"), "rb") as f:
            self.assertEqual(f.read(), b"other")
        self.assertStillServing()

    # -- the log ---------------------------------------------------------------------

    def test_client_values_cannot_forge_log_lines(self):
        s = self.start()
        forged = "\n2026/01/01 00:00:00 [4242] store: deleted /everything\x1b[2J\x00"
        c = Conversation(init=b"KQFILESYNC1" + forged.encode() + CONTRACT.encode() + KEY.encode())
        rid, _ = c.expect("RQCHG")
        c.answer("ANCHG", rid, change("/x.txt", "RENAMED", newname="y\\u000astore: deleted everything\\u001b[31m"))
        rid, _ = c.expect("RQCHG")
        junk = b'{"changes":[{"filepath":"\n2026/01/01 00:00:00 store: deleted /all' + b"x" * (1000 * 1000)
        c.answer("ANCHG", rid, junk)
        rid, _ = c.expect("RQCHG")
        c.answer("ANCHG", rid, EMPTY_CHANGE)
        rid, _ = c.expect("RQLST")
        c.answer("ANLST", rid, listing([]))
        c.expect("RQFLS")
        c.close()
        log = s.log()
        for line in self.lines():
            self.assertRegex(line, r"^(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d |$)")
            self.assertNotIn("\x1b", line)
            self.assertNotIn("\x00", line)
        self.assertIn('client accepted, protocol version "1\\x0a2026/01/01 00:00:00 [4242] store: deleted '
                      '/everything\\x1b[2J\\x00"', log)
        self.assertIn("client reports RENAMED /x.txt -> y\\x0astore: deleted everything\\x1b[31m", log)
        self.assertIn("unusable change report of %d bytes skipped" % len(junk), log)
        self.assertLess(len(log), 64 * 1024)
        self.assertStillServing()

    # -- client log uploads ------------------------------------------------------------

    def test_client_log_uploads_are_bounded_and_leave_no_part_file(self):
        logs = os.path.join(self.root, "data", "logs", CONTRACT)
        os.makedirs(logs)
        left = os.path.join(logs, "Filesync.log.1234.part")
        with open(left, "wb") as f:
            f.write(b"cut off")
        s = self.start("--max-log", "1")
        self.assertFalse(os.path.exists(left))
        self.assertIn("left by a client log upload that did not complete", s.log())

        def upload(announced, sent, close_after):
            c = Conversation()
            while True:
                kind, rid, _ = c.request()
                if kind == "RQCHG":
                    c.answer("ANCHG", rid, EMPTY_CHANGE)
                elif kind == "RQLST":
                    c.answer("ANLST", rid, listing([]))
                elif kind == "RQLOG":
                    c.answer("ANLOG", rid, b"L" * sent, length=announced)
                    if close_after:
                        c.close()
                        return
                elif kind == "RQFLS" and not close_after and os.path.exists(os.path.join(logs, "Filesync.log")):
                    c.close()
                    return
                elif kind == "RQFLS" and "over the limit of 1048576 bytes (--max-log)" in s.log():
                    c.close()
                    return

        upload(3 << 20, 3 << 20, False)
        self.assertIn("client log of 3145728 bytes not kept: over the limit of 1048576 bytes (--max-log)", s.log())
        self.assertEqual(os.listdir(logs), [])
        upload(512 << 10, 100 << 10, True)  # cut off in the middle
        self.assertTrue(s.wait_log("connection closed: the client closed the connection"))
        time.sleep(0.5)
        self.assertEqual(os.listdir(logs), [])
        self.assertStillServing()

    # -- the data folder -----------------------------------------------------------------

    def test_a_second_server_on_the_same_data_folder_is_refused(self):
        s = self.start()
        second = subprocess.run([KQSYNCD, "--data", s.data, "serve", "--listen", "127.0.0.1:%d" % (PORT + 1)],
                                capture_output=True, timeout=20)
        self.assertEqual(second.returncode, 1)
        self.assertEqual(second.stderr.decode(), "kqsyncd: the data folder %s is in use by another kqsyncd "
                                                 "(pid %d); stop it first\n" % (s.data, s.proc.pid))
        self.assertStillServing()

    def test_a_full_disk_under_the_index_is_reported_as_such(self):
        # Needs a mount namespace of its own (ctest runs it under unshare -m).
        index = os.path.join(self.root, "data", "index")
        os.makedirs(index)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", index], check=True)
        try:
            s = self.start()
            filler = os.path.join(index, "filler")
            fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
            try:
                while os.write(fd, b"\0" * 4096) > 0:
                    pass
            except OSError:
                pass
            os.close(fd)
            legitimate_cycle(s, "full.txt", timeout=4)
            self.assertTrue(s.wait_log("database or disk is full"))
            self.assertNotIn("cannot rollback", s.log())
            os.remove(filler)
            self.assertStillServing("after_full.txt")
        finally:
            if self.server:
                self.server.stop()
                self.server = None
            subprocess.run(["umount", index], check=False)

    # -- key guessing ------------------------------------------------------------

    def test_key_guessing_is_slowed_and_another_address_is_served_at_once(self):
        s = self.start()
        stop = threading.Event()
        answered = []

        def guess(n):
            while not stop.is_set():
                try:
                    c = Conversation(init=b"KQFILESYNC1" + CONTRACT.encode() + b"WRONG%d" % n, timeout=1)
                except OSError:
                    continue
                try:
                    while not stop.is_set():
                        try:
                            if c.sock.recv(1) == b"":
                                answered.append(time.time())
                                break
                        except socket.timeout:
                            continue
                        except OSError:
                            break
                finally:
                    c.close()

        guessers = [threading.Thread(target=guess, args=(n,)) for n in range(4)]
        for g in guessers:
            g.start()
        try:
            deadline = time.time() + 10
            while len(answered) < 5 and time.time() < deadline:
                time.sleep(0.05)
            self.assertGreaterEqual(len(answered), 5, "wrong keys were not answered")
            started = time.time()
            # The guessers are held now; a client of another address is served meanwhile.
            self.assertTrue(legitimate_cycle(s, "other_address.txt", source="127.0.0.2", timeout=10))
            self.assertLess(time.time() - started, 8)
            time.sleep(4)
        finally:
            stop.set()
            for g in guessers:
                g.join()
        # Free guesses, then 0.5 + 1 + 2 + 4 + 8 s of delays at most in this time.
        self.assertLess(len(answered), 15, "guessing was not slowed")
        rejected = [l for l in self.lines() if "rejected:" in l]
        self.assertEqual(len(rejected), 1, rejected)
        self.assertTrue(s.alive())

    # -- the data folder is private --------------------------------------------

    def test_the_data_folder_is_private_under_umask_022(self):
        old = os.umask(0o022)
        try:
            s = self.start()
            self.assertTrue(legitimate_cycle(s, "kept.txt", b"first"))
            self.assertTrue(legitimate_cycle(s, "kept.txt", b"second version", mdate="2099-01-01"))
        finally:
            os.umask(old)
        versions = os.path.join(s.data, "versions", CONTRACT)
        self.assertTrue(any(files for _, _, files in os.walk(versions)), "no version was kept")
        open_to_others = []
        for folder, dirs, files in os.walk(s.data):
            for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                mode = os.lstat(name).st_mode & 0o777
                if mode & 0o077:
                    open_to_others.append("%s %o" % (name, mode))
        self.assertEqual(open_to_others, [])


if __name__ == "__main__":
    KQSYNCD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
