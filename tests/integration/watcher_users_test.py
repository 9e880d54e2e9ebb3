#!/usr/bin/env python3
"""Two users on one machine, each with kqfilesync and zrservice of their own,
with the real kqsyncd: user A's watcher on a UNIX-domain socket under its
XDG_RUNTIME_DIR, user B's on 127.0.0.1:11112 (both from "Watcher" in their
filesync.cfg, written by install). A file made in each folder reaches only its
own client and store; a process of the other user cannot read a watcher's
reports, and a client does not believe a watcher that another user runs.

Runs as root in a network namespace of its own (CMake does it with unshare -n);
the two users are bare uids, without an entry in /etc/passwd."""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

KQFILESYNC = ZRSERVICE = KQSYNCD = None
KEY = "abcdefghijklmnopqrstuvwx"
UID_A, UID_B = 61001, 61002


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
        return True
    except OSError:
        return False


class User:
    def __init__(self, root, uid, contract, watcher):
        self.uid, self.contract, self.watcher = uid, contract, watcher
        self.home = os.path.join(root, "home-%d" % uid)
        self.runtime = os.path.join(self.home, "run")
        self.sync = os.path.join(self.home, "Sync")
        self.store = os.path.join(root, "store-%s" % contract)
        for folder in (self.home, self.runtime):
            os.makedirs(folder, mode=0o700)
            os.chown(folder, uid, uid)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
                    "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
                    "XDG_STATE_HOME": os.path.join(self.home, "state"), "XDG_RUNTIME_DIR": self.runtime}

    def run(self, args, **kw):
        return subprocess.run(args, env=self.env, user=self.uid, group=self.uid, extra_groups=[],
                              capture_output=True, timeout=30, **kw)

    def popen(self, args):
        return subprocess.Popen(args, env=self.env, user=self.uid, group=self.uid, extra_groups=[],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def call(self, fn):
        """fn() run in a child process of this user; its result as text."""
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read_end)
            try:
                os.setgroups([])
                os.setgid(self.uid)
                os.setuid(self.uid)
                result = str(fn())
            except BaseException as e:
                result = "%s: %s" % (type(e).__name__, e)
            os.write(write_end, result.encode())
            os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as f:
            result = f.read().decode()
        os.waitpid(pid, 0)
        return result

    def make(self, name, text):
        path = os.path.join(self.sync, name)
        with open(path, "w") as f:
            f.write(text)
        os.chown(path, self.uid, self.uid)

    def log(self):
        try:
            with open(os.path.join(self.sync, "_log", "Filesync.log"), "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""


class TwoUsersTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-users-")
        os.chmod(self.tmp, 0o755)
        self.prog = os.path.join(self.tmp, "prog")
        os.makedirs(self.prog)
        for exe in (KQFILESYNC, ZRSERVICE):
            shutil.copy(exe, self.prog)
        self.procs = []
        self.a = User(self.tmp, UID_A, "1001", "unix")
        self.b = User(self.tmp, UID_B, "1002", "11112")
        data = os.path.join(self.tmp, "server-data")
        for u in (self.a, self.b):
            r = subprocess.run([KQSYNCD, "--data", data, "account", "add", "--contract", u.contract, "--key", KEY,
                                "--store", u.store], capture_output=True, timeout=30)
            self.assertEqual(r.returncode, 0, r.stderr)
        self.start(subprocess.Popen([KQSYNCD, "--data", data, "serve", "--host", "127.0.0.1", "--cycle", "1"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.wait("kqsyncd listening", lambda: listening(21001) and listening(21002), 10)
        for u in (self.a, self.b):
            r = u.run([os.path.join(self.prog, "kqfilesync"), "install", "--user", "--watcher", u.watcher,
                       "--host", "127.0.0.1", "--contract", u.contract, "--key", KEY, "--folder", u.sync])
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(os.path.join(u.env["XDG_CONFIG_HOME"], "kqfilesync", "filesync.cfg")) as f:
                self.assertEqual(json.load(f)["KQFilsyncConfig"][0]["Watcher"], u.watcher)
            u.zrservice = self.start(u.popen([os.path.join(self.prog, "zrservice")]))
            u.client = self.start(u.popen([os.path.join(self.prog, "kqfilesync")]))

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
            if p.stderr:
                p.stderr.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, p):
        self.procs.append(p)
        return p

    def wait(self, what, check, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if check():
                return
            time.sleep(0.2)
        self.fail("%s did not happen within %ss\nA: %s\nB: %s" % (what, timeout, self.a.log(), self.b.log()))

    def status(self, u):
        r = u.run([os.path.join(self.prog, "kqfilesync"), "status", "--json"])
        return json.loads(r.stdout) if r.returncode in (0, 3) else {}

    def stop(self, p):
        p.terminate()
        self.assertEqual(p.wait(10), 0)
        return p.stderr.read().decode()

    def both_connected(self):
        for u in (self.a, self.b):
            self.wait("the client of uid %d connected to server and watcher" % u.uid,
                      lambda: self.status(u).get("connected") and self.status(u).get("watcher_connected"), 60)

    def test_each_users_changes_reach_only_that_users_client_and_store(self):
        self.both_connected()
        self.assertTrue(os.path.exists(os.path.join(self.a.runtime, "kqfilesync", "zrservice.sock")))
        self.assertEqual(os.stat(os.path.join(self.a.runtime, "kqfilesync")).st_mode & 0o777, 0o700)
        self.a.make("only-a.txt", "from A")
        self.b.make("only-b.txt", "from B")
        for u, name in ((self.a, "only-a.txt"), (self.b, "only-b.txt")):
            self.wait(name + " in its store", lambda: os.path.exists(os.path.join(u.store, name)), 60)
            # The watcher's report queued it (a listing does not say so).
            self.assertIn("Saving to queue (modification handling): %s/%s" % (u.sync, name), u.log())
        self.assertFalse(os.path.exists(os.path.join(self.b.store, "only-a.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.a.store, "only-b.txt")))
        self.assertNotIn("only-a.txt", self.b.log())
        self.assertNotIn("only-b.txt", self.a.log())
        err_a, err_b = self.stop(self.a.zrservice), self.stop(self.b.zrservice)
        self.assertIn(" : Listening on %s/kqfilesync/zrservice.sock\n" % self.a.runtime, err_a)
        self.assertIn(" : Listening on 127.0.0.1:11112\n", err_b)
        self.assertNotIn("another user", err_a + err_b)
        self.assertFalse(os.path.exists(os.path.join(self.a.runtime, "kqfilesync", "zrservice.sock")),
                         "the socket goes with its zrservice")

    def test_another_users_process_gets_no_report(self):
        self.both_connected()
        # A's socket lies in A's folder of mode 0700: B cannot even reach it.
        def reach_a():
            with socket.socket(socket.AF_UNIX) as s:
                s.connect(os.path.join(self.a.runtime, "kqfilesync", "zrservice.sock"))
                return "connected"
        self.assertEqual(self.b.call(reach_a), "PermissionError: [Errno 13] Permission denied")
        # B's watcher on TCP takes A's connection and closes it before it sends anything.
        def listen_to_b():
            with socket.create_connection(("127.0.0.1", 11112), timeout=10) as s:
                return repr(s.recv(100))
        self.b.make("after-probe.txt", "B")
        self.assertEqual(self.a.call(listen_to_b), "b''")
        self.wait("after-probe.txt in B's store", lambda: os.path.exists(os.path.join(self.b.store, "after-probe.txt")),
                  60)
        err = self.stop(self.b.zrservice)
        self.assertEqual(err.count(" : Client of another user refused (uid %d)\n" % UID_A), 1, err)

    def test_a_client_refuses_a_watcher_that_another_user_runs(self):
        self.both_connected()
        self.stop(self.b.zrservice)
        # A listens where B's watcher was: B's client connects and goes at once, reading nothing.
        def forge():
            with socket.socket() as listener:
                listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                listener.bind(("127.0.0.1", 11112))
                listener.listen(1)
                listener.settimeout(30)
                c, _ = listener.accept()
                with c:
                    c.settimeout(10)
                    try:
                        c.sendall(b"x" * 64)
                        return repr(c.recv(100))
                    except ConnectionResetError:
                        return "reset"
        self.assertIn(self.a.call(forge), ("b''", "reset"))
        self.b.client.terminate()
        self.assertEqual(self.b.client.wait(10), 0)
        err = self.b.client.stderr.read().decode()
        refused = "kqfilesync: refused the watcher at 127.0.0.1:11112: it runs as another user (uid %d)\n" % UID_A
        self.assertEqual(err.count(refused), 1, err)
        self.assertIn(refused[len("kqfilesync: "):-1], self.b.log())
        self.assertIn("zrservice is not running (127.0.0.1:11112)", err)


class WatcherSettingTest(unittest.TestCase):
    """A watcher setting that cannot work stops both programs before they start, with the file and the reason."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-watcher-setting-")
        self.sync = os.path.join(self.tmp, "Sync")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.tmp,
                    "XDG_CONFIG_HOME": os.path.join(self.tmp, "config"),
                    "XDG_STATE_HOME": os.path.join(self.tmp, "state")}

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_exe(self, args):
        return subprocess.run(args, env=self.env, capture_output=True, timeout=30, stdin=subprocess.DEVNULL)

    def test_a_setting_that_cannot_work(self):
        install = [KQFILESYNC, "install", "--user", "--host", "127.0.0.1", "--contract", "1234", "--key", KEY,
                   "--folder", self.sync, "--watcher"]
        r = self.run_exe(install + ["tcp"])
        self.assertEqual((r.returncode, r.stderr), (2, b'kqfilesync install: --watcher: "Watcher":"tcp" is neither '
                                                       b'"unix" nor a port from 1 to 65535 (try kqfilesync install '
                                                       b'--help)\n'))
        self.assertFalse(os.path.exists(os.path.join(self.env["XDG_CONFIG_HOME"], "kqfilesync")))
        r = self.run_exe(install + ["unix"])
        self.assertEqual(r.returncode, 0, r.stderr)
        # Without XDG_RUNTIME_DIR there is no folder for the socket.
        cfg = os.path.join(self.env["XDG_CONFIG_HOME"], "kqfilesync", "filesync.cfg")
        reason = ('"Watcher":"unix" needs XDG_RUNTIME_DIR (the user\'s runtime folder); set it, or give the watcher '
                  'a port ("Watcher":"11112")')
        for exe, prefix in ((KQFILESYNC, "kqfilesync: "), (ZRSERVICE, "zrservice: ")):
            r = self.run_exe([exe])
            self.assertEqual((r.returncode, r.stderr.decode()), (78, "%s%s: %s\n" % (prefix, cfg, reason)))


if __name__ == "__main__":
    KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    ZRSERVICE = os.path.abspath(sys.argv.pop(1))
    KQSYNCD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
