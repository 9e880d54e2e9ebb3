#!/usr/bin/env python3
"""Process tests of kqfilesync with zrservice: the real programs on loopback,
a real sync folder, and a scripted sync server in this file that sends exact
request bytes and checks the exact answers.

The client keeps its product timings (first server attempt 10 s after start,
first watcher attempt after 5 s), so the scripted server listens before the
client starts and the checks are grouped into few client runs."""
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

KQFILESYNC = None
ZRSERVICE = None
CONTRACT_KEY = b"abcdefghijklmnopqrstuvwx"


def native(path):
    """A real path as the client's log shows it (UTF-8)."""
    return path.encode()


def local(path):
    return b"Z:" + path.replace("/", "\\").encode("cp1252")


def header(kind, request_id, length):
    return kind.encode() + request_id + length.to_bytes(8, "big")


def free_server_port():
    """A free port 2NNNN, so that the installer's port "2" + contract reaches it."""
    for contract in range(4100, 9999, 37):
        port = 20000 + contract
        s = socket.socket()
        try:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", port))
            s.listen(4)
            return s, "%04d" % contract
        except OSError:
            s.close()
    raise AssertionError("no free port")


class ServerConnection:
    def __init__(self, sock):
        self.sock = sock
        self.sock.settimeout(10)

    def recv_exactly(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise AssertionError("connection closed after %r" % data)
            data += chunk
        return data

    def send(self, data):
        self.sock.sendall(data)

    def read_packet(self):
        head = self.recv_exactly(17)
        return head[:5].decode(), head[5:9], self.recv_exactly(int.from_bytes(head[9:], "big"))

    def close(self):
        self.sock.close()


class Installation:
    """A program folder with kqfilesync, written by its own install command."""

    def __init__(self, tmp, folder):
        self.prog = os.path.join(tmp, "prog")
        os.makedirs(self.prog)
        self.exe = os.path.join(self.prog, "kqfilesync")
        shutil.copy(KQFILESYNC, self.exe)
        self.listener, self.contract = free_server_port()
        r = subprocess.run([self.exe, "install", "--host", "127.0.0.1", "--contract", self.contract,
                            "--key", CONTRACT_KEY.decode(), "--folder", folder],
                           capture_output=True, timeout=10)
        assert r.returncode == 0, r.stderr

    def start(self):
        return subprocess.Popen([self.exe], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def accept(self, timeout):
        self.listener.settimeout(timeout)
        sock, _ = self.listener.accept()
        return ServerConnection(sock)

    def init_text(self):
        return b"KQFILESYNC" + b"00003" + self.contract.encode() + CONTRACT_KEY


class ClientFixture(unittest.TestCase):
    RQCHG = b'{"date":"2024-03-07","time":"10:00:00"}'
    EMPTY_CHANGE = (b'{"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07",'
                    b'"time":"","mdate":"","mtime":"","size":"0","changetype":""}]}')

    def connect(self):
        conn = self.inst.accept(timeout=25)
        init = self.inst.init_text()
        self.assertEqual(conn.recv_exactly(len(init)), init)
        return conn

    def ask(self, conn, kind, body, rid):
        conn.send(header(kind, rid, len(body)) + body)
        return conn.read_packet()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-client-")
        self.sync = os.path.join(self.tmp, "home", "Sync")  # created by the installer
        self.inst = Installation(self.tmp, self.sync)
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
            p.wait(10)
            p.stderr.close()
        self.inst.listener.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def log_text(self):
        try:
            with open(os.path.join(self.sync, "_log", "Filesync.log"), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def wait_log(self, text, timeout=15):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if text in self.log_text():
                return
            time.sleep(0.05)
        self.fail("log never showed %r; log:\n%s" % (text, self.log_text().decode(errors="replace")))

    def start_watcher(self):
        zr = subprocess.Popen([ZRSERVICE, "--folder", self.sync], stderr=subprocess.PIPE)
        self.procs.append(zr)
        deadline = time.time() + 5
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", 11111), timeout=0.2).close()
                return zr
            except OSError:
                time.sleep(0.05)
        self.fail("zrservice does not listen")


class ClientTest(ClientFixture):
    def test_connects_sends_init_text_reports_a_local_edit_and_reconnects(self):
        self.start_watcher()
        started = time.time()
        client = self.inst.start()
        self.procs.append(client)

        conn = self.inst.accept(timeout=20)
        waited = time.time() - started
        self.assertGreater(waited, 9, "the first attempt comes with the first Reconnect tick")
        init = self.inst.init_text()
        self.assertEqual(conn.recv_exactly(len(init)), init)
        self.wait_log(b" : Working path: " + native(self.sync))
        log = self.log_text()
        for line in [b"Auto connecting to Korvalinq Server...", b"Connecting to Korvalinq Server...",
                     b"Sending init packet...", b"Working path: " + native(self.sync),
                     b"Connected to service!", b"Connecting to service..."]:
            self.assertIn(line, log)

        # A local edit reaches the server through the watcher and RQCHG. The
        # file is written beside the sync folder and moved in, so that the
        # watcher reports it once (a write in place may bring a second report
        # of the same file after the first RQCHG took the first).
        staged = os.path.join(os.path.dirname(self.sync), "report.txt.staged")
        with open(staged, "wb") as f:
            f.write(b"hello")
        os.rename(staged, os.path.join(self.sync, "report.txt"))
        self.wait_log(b"Saving to queue (modification handling): " + native(os.path.join(self.sync, "report.txt")))
        body = b'{"date":"2024-03-07","time":"10:00:00","filesleft":"12","mbytesleft":"3"}'
        conn.send(header("RQCHG", b"\x01\x02\x03\x04", len(body)) + body)
        kind, rid, payload = conn.read_packet()
        self.assertEqual((kind, rid), ("ANCHG", b"\x01\x02\x03\x04"))
        self.assertEqual(payload, b'{"date":"2024-03-07","time":"","changes":[{"filepath":"/report.txt",'
                                  b'"date":"2024-03-07","time":"","mdate":"","mtime":"","size":"5",'
                                  b'"changetype":"MODIFIED"}]}')
        # Nothing more is pending: the next report is the empty change.
        conn.send(header("RQCHG", b"\x05\x06\x07\x08", len(body)) + body)
        kind, rid, payload = conn.read_packet()
        self.assertEqual((kind, rid), ("ANCHG", b"\x05\x06\x07\x08"))
        self.assertEqual(payload, b'{"date":"2024-03-07","time":"","changes":[{"filepath":"",'
                                  b'"date":"2024-03-07","time":"","mdate":"","mtime":"","size":"0",'
                                  b'"changetype":""}]}')

        # The server closes: the client notices and connects again within 10 s.
        conn.close()
        self.wait_log(b" : Disconnected")
        closed = time.time()
        conn = self.inst.accept(timeout=15)
        self.assertLess(time.time() - closed, 11.5)
        self.assertEqual(conn.recv_exactly(len(init)), init)
        conn.close()

        # SIGTERM ends the client cleanly.
        client.terminate()
        self.assertEqual(client.wait(10), 0)

    def test_pushed_file_lands_on_disk_and_a_deletion_goes_to_trash_without_echoes(self):
        # An earlier run left a temporary file; an older copy waits to be replaced.
        os.makedirs(os.path.join(self.sync, "docs"), exist_ok=True)
        leftover = os.path.join(self.sync, "docs", "left.bin.kqpart")
        with open(leftover, "wb") as f:
            f.write(b"half")
        with open(os.path.join(self.sync, "docs", "pushed.txt"), "wb") as f:
            f.write(b"older copy")
        self.start_watcher()
        client = self.inst.start()
        self.procs.append(client)
        conn = self.inst.accept(timeout=20)
        init = self.inst.init_text()
        self.assertEqual(conn.recv_exactly(len(init)), init)
        self.wait_log(b" : Working path: " + native(self.sync))
        self.wait_log(b"Connected to service!")
        self.wait_log(b"Removed the temporary file of an unfinished transfer: " + native(leftover))
        self.assertFalse(os.path.exists(leftover))

        body = b'{"filepath":"\\/docs\\/pushed.txt"}'
        conn.send(header("RQPUT", b"\x11\x12\x13\x14", len(body)) + body)
        self.assertEqual(conn.recv_exactly(17), header("ANPUT", b"\x11\x12\x13\x14", 0))
        data = b"server data"
        conn.send(header("RQFDA", b"\x21\x22\x23\x24", len(data)) + data)
        self.assertEqual(conn.recv_exactly(17), header("ANFDA", b"\x21\x22\x23\x24", 0))
        pushed = os.path.join(self.sync, "docs", "pushed.txt")
        with open(pushed, "rb") as f:
            self.assertEqual(f.read(), data, self.log_text().decode(errors="replace"))

        time.sleep(0.5)  # the watcher's reports of the server's own write arrive
        empty = (b'{"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07",'
                 b'"time":"","mdate":"","mtime":"","size":"0","changetype":""}]}')
        rqchg = b'{"date":"2024-03-07","time":"10:00:00"}'
        conn.send(header("RQCHG", b"\x31\x32\x33\x34", len(rqchg)) + rqchg)
        self.assertEqual(conn.read_packet(), ("ANCHG", b"\x31\x32\x33\x34", empty),
                         "the server's own write is not reported back")

        body = b'{"filepath":"\\/docs\\/pushed.txt"}'
        conn.send(header("RQDEL", b"\x41\x42\x43\x44", len(body)) + body)
        self.assertEqual(conn.recv_exactly(17), header("ANDEL", b"\x41\x42\x43\x44", 0))
        self.assertFalse(os.path.exists(pushed))
        with open(os.path.join(self.sync, "_trash", "docs", "pushed.txt"), "rb") as f:
            self.assertEqual(f.read(), data)
        time.sleep(0.5)
        conn.send(header("RQCHG", b"\x51\x52\x53\x54", len(rqchg)) + rqchg)
        self.assertEqual(conn.read_packet(), ("ANCHG", b"\x51\x52\x53\x54", empty),
                         "the server's own deletion is not reported back")
        conn.close()

    def test_without_a_server_it_logs_refused_attempts_with_the_windows_code(self):
        self.inst.listener.close()  # nothing listens on the configured port
        client = self.inst.start()
        self.procs.append(client)
        self.wait_log(b"Client socket error! Code: 10061", timeout=20)
        log = self.log_text()
        self.assertIn(b"Auto connecting to Korvalinq Server...", log)
        self.assertIn(b"Connecting to service...", log)
        client.send_signal(2)  # SIGINT ends it like Exit
        self.assertEqual(client.wait(10), 0)


class SyncFolderAwayClientTest(ClientFixture):
    """A sync folder that goes away is not an empty folder: the client does not
    make it anew (its log waits), gives no listing for it, reports no deletions,
    stays away from the server and carries on when the folder is back."""

    def test_folder_moved_away_is_not_made_anew_and_nothing_is_deleted(self):
        files = {os.path.join(self.sync, "a.txt"): b"alpha", os.path.join(self.sync, "docs", "b.txt"): b"beta"}
        os.makedirs(os.path.join(self.sync, "docs"))
        for path, data in files.items():
            with open(path, "wb") as f:
                f.write(data)
        self.start_watcher()
        client = self.inst.start()
        self.procs.append(client)
        conn = self.connect()
        self.wait_log(b"Connected to service!")
        while self.ask(conn, "RQCHG", self.RQCHG, b"\x01\x00\x00\x00")[2] != self.EMPTY_CHANGE:
            pass  # the files written before the start may be reported first

        away = self.sync + ".away"
        os.rename(self.sync, away)
        # Asked at once, before the client has noticed by itself: no listing at all.
        self.assertEqual(self.ask(conn, "RQLST", b'{"filepath":""}', b"\x02\x00\x00\x00"),
                         ("ANLST", b"\x02\x00\x00\x00", b""))
        self.assertEqual(self.ask(conn, "RQCHG", self.RQCHG, b"\x03\x00\x00\x00")[2], self.EMPTY_CHANGE)
        # Within a change-timer tick the client leaves the server ...
        conn.sock.settimeout(8)
        self.assertEqual(conn.sock.recv(100), b"")
        conn.close()
        # ... and does not come back while the folder is missing, nor make it anew.
        with self.assertRaises(socket.timeout):
            self.inst.accept(timeout=12)
        self.assertFalse(os.path.exists(self.sync))
        self.assertIsNone(client.poll())

        os.rename(away, self.sync)
        conn = self.connect()
        kind, rid, listing = self.ask(conn, "RQLST", b'{"filepath":""}', b"\x04\x00\x00\x00")
        self.assertEqual(kind, "ANLST")
        for name in [b"/a.txt", b"/docs", b"/docs/b.txt"]:
            self.assertIn(b'"filepath":"' + name + b'"', listing)
        self.assertEqual(self.ask(conn, "RQCHG", self.RQCHG, b"\x05\x00\x00\x00")[2], self.EMPTY_CHANGE)
        for path, data in files.items():
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data)
        self.wait_log(b" : Sync folder not found: " + native(self.sync))
        self.wait_log(b" : Sync folder found again: " + native(self.sync))
        self.assertNotIn(b"Saving to delete queue", self.log_text())
        conn.close()


class UserChangesAfterAPushTest(ClientFixture):
    """What the user does to a file right after the server wrote it is the
    user's change, not an echo of the server's write."""

    def push(self, conn, name, data, rid):
        body = b'{"filepath":"\\/' + name + b'"}'
        self.assertEqual(self.ask(conn, "RQPUT", body, rid)[0], "ANPUT")
        conn.send(header("RQFDA", rid, len(data)) + data)
        self.assertEqual(conn.recv_exactly(17), header("ANFDA", rid, 0))

    def change(self, conn, rid):
        return self.ask(conn, "RQCHG", self.RQCHG, rid)[2]

    def test_a_deletion_and_a_same_size_edit_right_after_a_push_are_reported(self):
        self.start_watcher()
        client = self.inst.start()
        self.procs.append(client)
        conn = self.connect()
        self.wait_log(b"Connected to service!")
        self.push(conn, b"gone.txt", b"server data", b"\x10\x00\x00\x00")
        self.push(conn, b"edited.txt", b"12345", b"\x11\x00\x00\x00")
        with open(os.path.join(self.sync, "edited.txt"), "wb") as f:
            f.write(b"abcde")  # the same size, within the same second
        time.sleep(1)
        os.remove(os.path.join(self.sync, "gone.txt"))
        self.wait_log(b"Saving to delete queue: " + native(os.path.join(self.sync, "gone.txt")))
        self.wait_log(b"Saving to queue (modification handling): " + native(os.path.join(self.sync, "edited.txt")))
        modified = self.change(conn, b"\x12\x00\x00\x00")
        self.assertIn(b'"filepath":"/edited.txt"', modified)
        self.assertIn(b'"changetype":"MODIFIED"', modified)
        deleted = self.change(conn, b"\x13\x00\x00\x00")
        self.assertIn(b'"filepath":"/gone.txt"', deleted)
        self.assertIn(b'"changetype":"DELETED"', deleted)
        self.assertEqual(self.change(conn, b"\x14\x00\x00\x00"), self.EMPTY_CHANGE)
        conn.close()


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-cli-")
        self.exe = os.path.join(self.tmp, "kqfilesync")
        shutil.copy(KQFILESYNC, self.exe)
        # No configuration of the user running the tests is found.
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_exe(self, args, stdin=b""):
        return subprocess.run([self.exe] + args, input=stdin, capture_output=True, timeout=10,
                              cwd=self.tmp, env=self.env)

    def test_without_configuration_it_ends_with_a_hint(self):
        r = self.run_exe([])
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(r.stderr.count(b"\n"), 1)
        self.assertIn(b"kqfilesync install", r.stderr)

    def test_install_refuses_missing_values_with_the_installer_messages(self):
        hint = b" (try kqfilesync install --help)\n"
        cases = [
            (["--host", "ab", "--contract", "1234", "--key", "k", "--folder", "S"], 1, b"Host name expected!\n"),
            (["--host", "abc", "--contract", "", "--key", "k", "--folder", "S"], 1, b"Contract name expected!\n"),
            (["--host", "abc", "--contract", "1234", "--key", "", "--folder", "S"], 1, b"API key expected!\n"),
            (["--host", "abc", "--contract", "1234", "--key", "k", "--folder", ""], 1,
             b"Korvalinq Drive destination path expected!\n"),
            # An option left out is a command line that cannot be run: one line, exit 2.
            (["--host", "abc", "--key", "k", "--folder", "S"], 2, b"kqfilesync install: --contract is needed" + hint),
            (["--host", "abc", "--contract", "1234", "--folder", "S"], 2, b"kqfilesync install: --key is needed" + hint),
            (["--host", "abc", "--contract", "1234", "--key", "k"], 2, b"kqfilesync install: --folder is needed" + hint),
        ]
        for args, code, message in cases:
            r = self.run_exe(["install"] + args)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (code, b"", message), args)
            self.assertFalse(os.path.exists(os.path.join(self.tmp, "filesync.cfg")))
            self.assertFalse(os.path.exists(os.path.join(self.tmp, "S")))

    def test_install_asks_again_for_an_answer_that_cannot_work_and_gives_up_after_three(self):
        folder = os.path.join(self.tmp, "asked")
        answers = [b"a b", b"sync.example.com", b"12345", b"x1", b"1234", b"two words", b"short", b"n",
                   b"abcdefghijklmnopqrstuvwx", folder.encode()]
        r = self.run_exe(["install"], stdin=b"\n".join(answers) + b"\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr.decode().splitlines(), [
            "Host must be a host name or an address: a b",
            "Contract number must be 1 to 4 digits: 12345",
            "Contract number must be 1 to 4 digits: x1",
            "API key must not hold blanks or control characters",
            "Type the key again."])
        self.assertIn(b"The API key has 5 characters; the keys of Korvalinq Drive are 24 letters and digits. The "
                      b"server refuses a connection with a wrong key.\nGo on with this key? [y/N] ", r.stdout)
        self.assertNotIn(b"abcdefghijklmnopqrstuvwx", r.stdout)
        with open(os.path.join(self.tmp, "filesync.cfg"), "rb") as f:
            self.assertIn(b'"contract":"1234","API-key":"abcdefghijklmnopqrstuvwx"', f.read())
        os.remove(os.path.join(self.tmp, "filesync.cfg"))
        r = self.run_exe(["install"], stdin=b"localhost\nabc\n-1\n99999\n")
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stderr.endswith(b"Nothing was installed.\n"), r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "filesync.cfg")))

    def test_install_reads_the_key_without_echo_on_a_terminal(self):
        import pty
        master, slave = pty.openpty()
        p = subprocess.Popen([self.exe, "install"], stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                             cwd=self.tmp, env=self.env)
        os.close(slave)
        shown = bytearray()

        def until(prompt):
            deadline = time.time() + 10
            while prompt not in shown and time.time() < deadline:
                if select.select([master], [], [], 0.2)[0]:
                    shown.extend(os.read(master, 4096))
            self.assertIn(prompt, bytes(shown))

        folder = os.path.join(self.tmp, "typed")
        for prompt, answer in [(b"Server host: ", b"localhost"), (b"Contract number (4 digits): ", b"1234"),
                               (b"not shown): ", b"abcdefghijklmnopqrstuvwx"), (b"Sync folder [", folder.encode())]:
            until(prompt)
            os.write(master, answer + b"\n")
        until(b"Korvalinq Drive is now installed.")
        self.assertEqual(p.wait(10), 0, p.stderr.read())
        p.stderr.close()
        os.close(master)
        self.assertIn(b"localhost", shown)  # the other answers are echoed as typed
        self.assertNotIn(b"abcdefghijklmnopqrstuvwx", shown)

    def test_install_writes_the_configuration_next_to_the_executable(self):
        r = self.run_exe(["INSTALL", "--host", "sync.example.com", "--contract", "0042",
                          "--key", "KEY", "--folder", "my sync/"])
        self.assertEqual(r.returncode, 0, r.stderr)
        folder = os.path.join(self.tmp, "my sync")
        self.assertTrue(os.path.isdir(folder))
        with open(os.path.join(self.tmp, "filesync.cfg"), "rb") as f:
            cfg = f.read()
        kqdir = native(folder)
        self.assertEqual(cfg, b'{"KQFilsyncConfig":[{"Host":"sync.example.com","port":"20042",'
                              b'"protocol":"00003","contract":"0042","API-key":"KEY","KQDir":"' + kqdir +
                              b'","Reconnect":"1","Watcher":"11111"}]}')

    def test_install_asks_on_the_terminal_without_options(self):
        folder = os.path.join(self.tmp, "asked")
        r = self.run_exe(["install"], stdin=b"localhost\n1234\nsecret\ny\n" + folder.encode() + b"\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        for prompt in [b"Server host: ", b"Contract number", b"API key", b"Sync folder ["]:
            self.assertIn(prompt, r.stdout)
        with open(os.path.join(self.tmp, "filesync.cfg"), "rb") as f:
            cfg = f.read()
        self.assertIn(b'"Host":"localhost","port":"21234"', cfg)
        self.assertIn(b'"KQDir":"' + native(folder) + b'"', cfg)

        # Configured now: the client runs until SIGTERM.
        client = subprocess.Popen([self.exe], stdin=subprocess.DEVNULL, env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        time.sleep(0.5)
        self.assertIsNone(client.poll())
        client.terminate()
        self.assertEqual(client.wait(10), 0)
        self.assertNotIn(b"expected!", client.stderr.read())
        client.stderr.close()


def in_own_namespaces():
    """Runs this file again in its own network namespace (the watcher's port
    11111 is then this test's alone); False where that cannot be."""
    if os.environ.get("KQ_IN_NAMESPACES") == "1" or shutil.which("unshare") is None:
        return False
    if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
        return False
    env = dict(os.environ, KQ_IN_NAMESPACES="1")
    r = subprocess.run(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh", sys.executable] +
                       sys.argv, env=env)
    sys.exit(r.returncode)


if __name__ == "__main__":
    in_own_namespaces()
    # No configuration of the user running the tests is found, and the
    # clients' state stays out of the user's home.
    os.environ["XDG_CONFIG_HOME"] = "/nonexistent/kq-tests-config"
    state_home = tempfile.mkdtemp(prefix="kq-client-state-")
    os.environ["XDG_STATE_HOME"] = state_home
    KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    ZRSERVICE = os.path.abspath(sys.argv.pop(1))
    try:
        unittest.main(verbosity=2)
    finally:
        shutil.rmtree(state_home, ignore_errors=True)
