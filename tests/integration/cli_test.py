#!/usr/bin/env python3
"""Process tests of the command-line contract of kqfilesync, zrservice and
kqsyncd: help, version, bad options, install checks and --force, configuration
lookup, exit codes, error texts, the sync-folder lock, status --json, the
masked API key and file modes, with the real kqsyncd as the server.

Run in a network namespace of its own (CMake does it with unshare -n), so the
watcher's fixed port 11111 and the server ports are this test's alone."""
import json
import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

KQFILESYNC = ZRSERVICE = KQSYNCD = None
KEY = "abcdefghijklmnopqrstuvwx"


def run(args, env=None, timeout=10, cwd=None):
    return subprocess.run(args, capture_output=True, timeout=timeout, env=env, cwd=cwd, input=b"")


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


class Scratch(unittest.TestCase):
    """A folder with a copy of kqfilesync and zrservice and an empty user configuration folder."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-cli-")
        self.prog = os.path.join(self.tmp, "prog")
        os.makedirs(self.prog)
        self.exe = os.path.join(self.prog, "kqfilesync")
        shutil.copy(KQFILESYNC, self.exe)
        shutil.copy(ZRSERVICE, os.path.join(self.prog, "zrservice"))
        self.xdg = os.path.join(self.tmp, "config")
        self.state = os.path.join(self.tmp, "state")
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.xdg, XDG_STATE_HOME=self.state)
        self.sync = os.path.join(self.tmp, "Sync")
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
                p.wait(10)
            for stream in (p.stdout, p.stderr):
                if stream:
                    stream.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def client(self, *args, timeout=10):
        return run([self.exe] + list(args), env=self.env, timeout=timeout, cwd=self.tmp)

    def install(self, contract="1234", key=KEY, *extra):
        r = self.client("install", "--host", "127.0.0.1", "--contract", contract, "--key", key,
                        "--folder", self.sync, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def start_client(self):
        p = subprocess.Popen([self.exe], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
        self.procs.append(p)
        return p

    def log_text(self):
        try:
            with open(os.path.join(self.sync, "_log", "Filesync.log"), "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    def wait_for(self, what, check, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if check():
                return
            time.sleep(0.1)
        self.fail("%s did not happen within %ss; log:\n%s" % (what, timeout, self.log_text()))

    def status_json(self):
        r = self.client("status", "--json")
        self.assertIn(r.returncode, (0, 3), r.stderr)
        return r.returncode, json.loads(r.stdout)


class CommandLineTest(unittest.TestCase):
    def programs(self):
        return [("kqfilesync", KQFILESYNC), ("zrservice", ZRSERVICE), ("kqsyncd", KQSYNCD)]

    def test_help_and_version_answer_on_stdout_and_exit_0(self):
        for name, exe in self.programs():
            r = run([exe, "--help"])
            self.assertEqual((r.returncode, r.stderr), (0, b""), name)
            self.assertTrue(r.stdout.startswith(b"Usage: " + name.encode() + b" "), r.stdout)
            self.assertIn(b"--version", r.stdout)
            r = run([exe, "--version"])
            self.assertEqual((r.returncode, r.stderr), (0, b""), name)
            self.assertRegex(r.stdout.decode(), r"^%s \d+\.\d+\.\d+ \(build [0-9a-z]+, \d{4}-\d\d-\d\d\)\n$" % name)

    def test_kqfilesync_usage_errors_are_one_line_with_a_hint_and_exit_2(self):
        cases = [
            (["--bogus"], b"kqfilesync: unknown option --bogus (try --help)\n"),
            (["extra"], b"kqfilesync: unknown command extra (try --help)\n"),
            (["status", "--json", "extra"], b"kqfilesync: unexpected argument: extra (try --help)\n"),
            (["status", "--cycle", "1"], b"kqfilesync: unknown option --cycle (try --help)\n"),
            (["failed", "--failed"], b"kqfilesync: unknown option --failed (try --help)\n"),
            (["--quiet", "--verbose"], b"kqfilesync: --quiet or --verbose, not both (try --help)\n"),
            (["status", "--quiet"], b"kqfilesync: unknown option --quiet (try --help)\n"),
            (["install", "--host"], b"kqfilesync install: --host needs a value (try kqfilesync install --help)\n"),
            (["install", "--hots", "x"], b"kqfilesync install: unknown option --hots (try kqfilesync install --help)\n"),
        ]
        for args, stderr in cases:
            r = run([KQFILESYNC] + args)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (2, b"", stderr), args)
        r = run([KQFILESYNC, "-V"])
        self.assertEqual((r.returncode, r.stdout), (0, run([KQFILESYNC, "--version"]).stdout))

    def test_bad_command_lines_print_the_reason_and_usage_on_stderr_and_exit_2(self):
        cases = [
            ([ZRSERVICE, "--bogus"], b"zrservice: unknown option --bogus\n"),
            ([ZRSERVICE, "--folder", "/tmp", "extra"], b"zrservice: unexpected argument: extra\n"),
            ([ZRSERVICE, "--folder"], b"zrservice: --folder needs a value\n"),
            ([KQSYNCD, "--bogus", "x", "serve"], b"kqsyncd: unknown option --bogus\n"),
            ([KQSYNCD, "serve", "extra"], b"kqsyncd: unexpected argument: extra\n"),
            ([KQSYNCD, "serve", "--cycle", "abc"], b"kqsyncd: --cycle: not a number: abc\n"),
            ([KQSYNCD, "serve", "--timeout", "0.5"], b"kqsyncd: --timeout: out of range (1..86400): 0.5\n"),
            ([KQSYNCD, "account", "list", "extra"], b"kqsyncd: unexpected argument: extra\n"),
            ([KQSYNCD], b"kqsyncd: a command is needed\n"),
            ([KQSYNCD, "frobnicate"], b"kqsyncd: unknown command frobnicate\n"),
        ]
        tmp = tempfile.mkdtemp(prefix="kq-cli-bad-")
        try:
            env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp)
            for args, first_line in cases:
                r = run(args, env=env)
                self.assertEqual(r.returncode, 2, (args, r.stderr))
                self.assertEqual(r.stdout, b"", args)
                self.assertTrue(r.stderr.startswith(first_line), (args, r.stderr))
                self.assertIn(b"sage: ", r.stderr, args)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


class InstallTest(Scratch):
    def test_values_that_can_never_work_are_refused_with_the_reason(self):
        blocker = os.path.join(self.tmp, "a-file")
        open(blocker, "w").close()
        cases = [
            ({"--contract": "abc"}, "Contract number must be 1 to 4 digits: abc"),
            ({"--contract": "12345"}, "Contract number must be 1 to 4 digits: 12345"),
            ({"--key": "two words"}, "API key must not hold blanks or control characters"),
            ({"--key": "tab\there"}, "API key must not hold blanks or control characters"),
            ({"--host": "bad host!"}, "Host must be a host name or an address: bad host!"),
            ({"--host": "-dash.example"}, "Host must be a host name or an address: -dash.example"),
            ({"--folder": os.path.join(blocker, "Sync")},
             "Cannot create the sync folder %s/Sync: %s is not a folder" % (blocker, blocker)),
            ({"--folder": blocker}, "Cannot create the sync folder %s: %s is not a folder" % (blocker, blocker)),
        ]
        for change, message in cases:
            values = {"--host": "sync.example.com", "--contract": "1234", "--key": KEY, "--folder": self.sync}
            values.update(change)
            r = self.client("install", *[x for item in values.items() for x in item])
            self.assertEqual((r.returncode, r.stderr.decode()), (1, message + "\n"), change)
            self.assertFalse(os.path.exists(os.path.join(self.prog, "filesync.cfg")), change)
        self.assertFalse(os.path.exists(self.sync))
        # Accepted: addresses, short contracts, any key length.
        for host, contract, key in [("10.0.0.7", "7", "k"), ("::1", "0042", KEY * 3), ("sync-1.example.com", "1", KEY)]:
            r = self.client("install", "--force", "--host", host, "--contract", contract, "--key", key,
                            "--folder", self.sync)
            self.assertEqual(r.returncode, 0, (host, r.stderr))

    def test_an_installation_is_replaced_only_with_force_and_kept_private(self):
        self.install()
        cfg = os.path.join(self.prog, "filesync.cfg")
        self.assertEqual(mode(cfg), 0o600)
        with open(cfg, "rb") as f:
            first = f.read()
        r = self.client("install", "--host", "other.example.com", "--contract", "9", "--key", "K2",
                        "--folder", self.sync)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.decode(), "Korvalinq Drive is already installed: %s exists; "
                                            "add --force to replace it\n" % cfg)
        with open(cfg, "rb") as f:
            self.assertEqual(f.read(), first)
        r = self.client("install")  # asking for the values would be in vain
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        r = self.install("0009", "K2", "--force")
        self.assertTrue(r.stdout.decode().startswith("Replaced the earlier installation in %s.\n" % cfg))
        with open(cfg, "rb") as f:
            self.assertIn(b'"port":"20009","protocol":"00003","contract":"0009","API-key":"K2"', f.read())
        self.assertEqual(mode(cfg), 0o600)

    def test_user_installation_goes_to_the_xdg_folder_and_comes_before_the_program_folder(self):
        r = self.install("1234", KEY, "--user")
        user_cfg = os.path.join(self.xdg, "kqfilesync", "filesync.cfg")
        self.assertIn("Configuration: " + user_cfg, r.stdout.decode())
        self.assertEqual(mode(user_cfg), 0o600)
        self.assertFalse(os.path.exists(os.path.join(self.prog, "filesync.cfg")))
        code, state = self.status_json()
        self.assertEqual((code, state["running"], state["sync_folder"], state["server"]),
                         (3, False, self.sync, "127.0.0.1:21234"))
        # The watcher finds the same configuration.
        zr = subprocess.Popen([os.path.join(self.prog, "zrservice")], env=self.env, stderr=subprocess.PIPE)
        self.procs.append(zr)
        watching = b"Watching " + self.sync.encode()
        self.assertIn(watching, zr.stderr.readline() + zr.stderr.readline())
        # A configuration written beside the program (a system-wide installation)
        # does not hide the user's own; install says so, and --config picks it.
        other = os.path.join(self.tmp, "Other")
        r = self.client("install", "--host", "127.0.0.1", "--contract", "5", "--key", KEY, "--folder", other)
        self.assertEqual(r.returncode, 0, r.stderr)
        prog_cfg = os.path.join(self.prog, "filesync.cfg")
        self.assertIn("Note: %s comes first for you; kqfilesync and status use that one (or --config %s)\n"
                      % (user_cfg, prog_cfg), r.stdout.decode())
        code, state = self.status_json()
        self.assertEqual((state["sync_folder"], state["server"]), (self.sync, "127.0.0.1:21234"))
        r = self.client("status", "--json", "--config", prog_cfg)
        self.assertEqual(json.loads(r.stdout)["sync_folder"], other)
        # Another user, without a configuration of their own, gets the program folder's.
        r = run([self.exe, "status", "--json"], env=dict(self.env, XDG_CONFIG_HOME=os.path.join(self.tmp, "nobody")))
        self.assertEqual(json.loads(r.stdout)["sync_folder"], other)
        # A --config file that is not there is a configuration that cannot be used.
        r = self.client("status", "--config", os.path.join(self.tmp, "missing.cfg"))
        self.assertEqual((r.returncode, r.stderr.decode()),
                         (78, "kqfilesync: no configuration: %s is not a file\n" % os.path.join(self.tmp, "missing.cfg")))


class ConfigurationErrorTest(Scratch):
    def test_missing_or_broken_configuration_exits_78_with_the_real_path(self):
        r = self.client()
        self.assertEqual(r.returncode, 78)
        self.assertEqual(r.stderr.decode(), 'kqfilesync: no configuration: neither %s/kqfilesync/filesync.cfg nor '
                                            '%s/filesync.cfg exists; run "kqfilesync install" first\n'
                                            % (self.xdg, self.prog))
        r = run([os.path.join(self.prog, "zrservice")], env=self.env)
        self.assertEqual(r.returncode, 78)
        self.assertIn(b"zrservice: no configuration", r.stderr)

        self.install()
        cfg = os.path.join(self.prog, "filesync.cfg")
        with open(cfg, "rb") as f:
            good = f.read()
        cases = [
            (b'{"KQFilsyncConfig":[', "Invalid configuration file \"%s\": " % cfg),
            (b'{"other":1}', "\"%s\" has no KQFilsyncConfig array" % cfg),
            (good.replace(b'"port":"21234"', b'"port":"2abc"'), "bad server port (\"port\"): Port is not a number: 2abc"),
            (good.replace(b'"Host":"127.0.0.1"', b'"Host":""'), "no server host (\"Host\")"),
        ]
        for text, reason in cases:
            with open(cfg, "wb") as f:
                f.write(text)
            r = self.client()
            self.assertEqual(r.returncode, 78, text)
            err = r.stderr.decode()
            self.assertTrue(err.startswith("kqfilesync: %s: " % cfg), err)
            self.assertIn(reason, err)
            self.assertNotIn("Z:\\", err)
            self.assertEqual(err.count("\n"), 1, err)
        # Where the sync folder is known the reason is in the log as well.
        self.assertIn("bad server port (\"port\"): Port is not a number: 2abc", self.log_text())


class RunningClientTest(Scratch):
    """The client against a server port where nothing listens, without the watcher."""

    def test_unreachable_server_missing_watcher_lock_and_status(self):
        self.install("1234")
        client = self.start_client()
        name = self.sync.strip("/").replace("-", "\\x2d").replace("/", "-")
        state_file = os.path.join(self.state, "kqfilesync", name + ".status.json")
        self.wait_for("the status file", lambda: os.path.exists(state_file), 5)
        self.assertFalse(os.path.exists(os.path.join(self.sync, "_log", "kqfilesync-status.json")))

        # A second client on the same folder is refused and names the first.
        r = self.client()
        self.assertEqual(r.returncode, 75)
        self.assertEqual(r.stderr.decode(), "kqfilesync: the sync folder %s is used by another kqfilesync "
                                            "(process %d: %s)\n" % (self.sync, client.pid, self.exe))

        # Two refused attempts (10 s apart): one message, on stderr and in the log.
        message = ("cannot reach 127.0.0.1:21234: connection refused (10061); is contract 1234 right? the server "
                   "derives the port 21234")
        self.wait_for("two refused attempts", lambda: self.log_text().count("Client socket error! Code: 10061") >= 2, 30)
        code, state = self.status_json()
        self.assertEqual((code, state["running"], state["pid"], state["connected"]), (0, True, client.pid, False))
        self.assertEqual((state["server"], state["contract"], state["sync_folder"]), ("127.0.0.1:21234", "1234", self.sync))
        self.assertEqual((state["last_completed_cycle"], state["failed_items"], state["current_transfer"]), (None, 0, None))
        text = self.client("status").stdout.decode()
        self.assertIn("Client:          running (process %d)\n" % client.pid, text)
        self.assertIn("Server:          127.0.0.1:21234 (not connected)\n", text)
        client.terminate()
        self.assertEqual(client.wait(10), 0)
        err = client.stderr.read().decode()
        self.assertEqual(err.count(message), 1, err)
        self.assertNotIn("Socket Error", err)
        warning = ("zrservice is not running (127.0.0.1:11111): changes in the sync folder are only found by "
                   "the server's listings")
        self.assertEqual(err.count(warning), 1, err)
        log = self.log_text()
        self.assertEqual((log.count(message), log.count(warning)), (1, 1), log)

        # Stopped: status says so and exits 3.
        code, state = self.status_json()
        self.assertEqual((code, state["running"], state["pid"], state["connected"]), (3, False, None, False))


class ServerTest(Scratch):
    """The client and its watcher with the real kqsyncd."""

    def setUp(self):
        super().setUp()
        self.data = os.path.join(self.tmp, "server-data")
        self.store = os.path.join(self.tmp, "store")
        r = run([KQSYNCD, "--data", self.data, "account", "add", "--contract", "1234", "--key", KEY,
                 "--store", self.store])
        self.assertEqual(r.returncode, 0, r.stderr)
        server = subprocess.Popen([KQSYNCD, "--data", self.data, "serve", "--host", "127.0.0.1", "--cycle", "1",
                                   "--timeout", "30"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.procs.append(server)
        self.wait_for("kqsyncd listening", lambda: self.listening(21234), 10)

    def listening(self, port):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return True
        except OSError:
            return False

    def start_watcher(self):
        zr = subprocess.Popen([os.path.join(self.prog, "zrservice")], env=self.env, stderr=subprocess.PIPE)
        self.procs.append(zr)
        self.wait_for("zrservice listening", lambda: self.listening(11111), 10)
        return zr

    def test_status_of_a_connected_client_and_a_key_that_never_shows(self):
        self.install()
        self.start_watcher()
        client = self.start_client()
        self.wait_for("a completed cycle", lambda: self.status_json()[1]["last_completed_cycle"] is not None, 40)
        code, state = self.status_json()
        self.assertEqual((code, state["running"], state["connected"]), (0, True, True))
        self.assertEqual(state["queued_changes"], {"modifications": 0, "deletions": 0})
        self.assertLessEqual(abs(state["last_completed_cycle"] - time.time()), 30)

        log_folder = os.path.join(self.sync, "_log")
        self.assertIn("API key:\t\t \t****uvwx\r\n", self.log_text())
        for name in os.listdir(log_folder):
            path = os.path.join(log_folder, name)
            self.assertEqual(mode(path), 0o600, name)
            with open(path, "rb") as f:
                self.assertNotIn(KEY.encode(), f.read(), name)
        client.terminate()
        self.assertEqual(client.wait(10), 0)
        client_err = client.stderr.read()
        self.assertNotIn(b"cannot reach", client_err)
        self.assertNotIn(b"zrservice is not running", client_err)
        self.assertEqual(client_err.count(b"kqfilesync: connected to 127.0.0.1:21234\n"), 1, client_err)

    def test_a_file_deleted_while_client_and_watcher_were_stopped_is_deleted_in_the_store(self):
        self.install()
        watcher = self.start_watcher()
        client = self.start_client()
        os.makedirs(self.store, exist_ok=True)
        for name in ("keep.txt", "gone.txt"):
            with open(os.path.join(self.store, name), "w") as f:
                f.write(name)
        synced = lambda name: os.path.exists(os.path.join(self.sync, name))
        self.wait_for("both files in the sync folder", lambda: synced("keep.txt") and synced("gone.txt"), 40)
        for p in (client, watcher):
            p.terminate()
            self.assertEqual(p.wait(10), 0)
        with open(os.path.join(self.sync, "_config", "KnownFiles.dat")) as f:
            self.assertIn("\tgone.txt\n", f.read())

        os.remove(os.path.join(self.sync, "gone.txt"))
        self.start_watcher()
        self.start_client()
        in_store = lambda name: os.path.exists(os.path.join(self.store, name))
        self.wait_for("the deletion in the store", lambda: not in_store("gone.txt"), 40)
        self.assertIn("Deleted while the client was stopped: gone.txt", self.log_text())
        cycle = self.status_json()[1]["last_completed_cycle"] or int(time.time())
        self.wait_for("two more cycles", lambda: (self.status_json()[1]["last_completed_cycle"] or 0) >= cycle + 2, 20)
        self.assertFalse(synced("gone.txt"), "the deleted file came back")
        self.assertTrue(synced("keep.txt") and in_store("keep.txt"))

    def test_status_names_the_file_being_received_with_bytes_done_total_and_rate(self):
        # Loopback slowed to 5 MB/s: the 30 MB file takes about six seconds.
        if not shutil.which("tc"):
            self.skipTest("tc (iproute2) is not installed")
        r = run(["tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", "40mbit", "burst", "256kb", "latency", "400ms"])
        if r.returncode != 0:
            self.skipTest("the kernel cannot slow the loopback down: " + r.stderr.decode())
        self.addCleanup(run, ["tc", "qdisc", "del", "dev", "lo", "root"])
        os.makedirs(self.store, exist_ok=True)
        size = 30 * 1024 * 1024
        with open(os.path.join(self.store, "big.bin"), "wb") as f:
            f.write(os.urandom(size))
        self.install()
        self.start_client()
        samples = []
        deadline = time.time() + 60
        target = os.path.join(self.sync, "big.bin")
        while time.time() < deadline and not (os.path.exists(target) and os.path.getsize(target) == size):
            transfer = self.status_json()[1]["current_transfer"]
            if transfer:
                samples.append(transfer)
            time.sleep(0.3)
        self.assertTrue(samples, "no transfer was ever shown")
        self.assertTrue(all(t["file"] == "big.bin" and t["bytes_total"] == size and 0 <= t["bytes_done"] < size
                            for t in samples), samples[-3:])
        done = [t["bytes_done"] for t in samples]
        self.assertEqual(done, sorted(done))
        rates = [t["bytes_per_second"] for t in samples if t["bytes_per_second"] > 0]
        self.assertTrue(rates, samples[-3:])
        self.assertTrue(all(1e6 < rate < 20e6 for rate in rates), rates)  # about 5 MB/s
        self.wait_for("the transfer ends in the status", lambda: self.status_json()[1]["current_transfer"] is None, 10)

    def test_a_client_started_while_its_folder_is_away_locks_it_when_it_returns_and_a_second_is_refused(self):
        self.install()
        os.makedirs(self.store, exist_ok=True)
        with open(os.path.join(self.store, "from-store.txt"), "w") as f:
            f.write("store")
        away = self.sync + ".away"
        os.rename(self.sync, away)
        client = self.start_client()
        self.wait_for("the missing folder in the status", lambda: not self.status_json()[1]["sync_folder_present"], 15)
        code, state = self.status_json()
        self.assertEqual((code, state["running"], state["pid"], state["sync_folder_locked"], state["connected"]),
                         (0, True, client.pid, False, False))
        self.assertIn("Folder lock:     not held (the sync folder is missing)\n", self.client("status").stdout.decode())
        # Away for more than one Reconnect tick: the client stays off the server.
        time.sleep(11)
        self.assertFalse(self.status_json()[1]["connected"])
        self.assertFalse(os.path.exists(self.sync), "the client made the folder anew")

        os.rename(away, self.sync)
        arrived = os.path.join(self.sync, "from-store.txt")
        self.wait_for("the store's file in the returned folder", lambda: os.path.exists(arrived), 40)
        fields = ("running", "sync_folder_present", "sync_folder_locked", "connected")
        self.wait_for("the status of the returned folder",
                      lambda: [self.status_json()[1][f] for f in fields] == [True] * 4, 5)
        self.assertIn("Folder lock:     held\n", self.client("status").stdout.decode())

        # A second client for the same folder, from another installation with
        # its own state folder, is refused by the folder's lock and names the first.
        prog2 = os.path.join(self.tmp, "prog2")
        os.makedirs(prog2)
        shutil.copy(KQFILESYNC, os.path.join(prog2, "kqfilesync"))
        env2 = dict(self.env, XDG_STATE_HOME=os.path.join(self.tmp, "state2"))
        r = run([os.path.join(prog2, "kqfilesync"), "install", "--host", "127.0.0.1", "--contract", "1234", "--key",
                 KEY, "--folder", self.sync], env=env2)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = run([os.path.join(prog2, "kqfilesync")], env=env2)
        self.assertEqual(r.returncode, 75)
        self.assertEqual(r.stderr.decode(), "kqfilesync: the sync folder %s is used by another kqfilesync "
                                            "(process %d: %s)\n" % (self.sync, client.pid, self.exe))
        # The same installation again is refused by the lock of its running client.
        r = self.client()
        self.assertEqual(r.returncode, 75, r.stderr)
        client.terminate()
        self.assertEqual(client.wait(10), 0)
        err = client.stderr.read().decode()
        lines = [line for line in err.splitlines() if "zrservice" not in line]
        self.assertEqual(lines[:3], ["kqfilesync: sync folder not found: " + self.sync,
                                     "kqfilesync: sync folder found again: " + self.sync,
                                     "kqfilesync: connected to 127.0.0.1:21234"], err)

    def test_a_forged_removal_from_the_watcher_port_never_deletes_an_existing_file(self):
        # Someone else listens on the watcher's port in zrservice's place.
        forger = socket.socket()
        forger.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        forger.bind(("127.0.0.1", 11111))
        forger.listen(1)
        self.addCleanup(forger.close)
        self.install()
        os.makedirs(self.store, exist_ok=True)
        with open(os.path.join(self.store, "keep.txt"), "w") as f:
            f.write("keep")
        client = self.start_client()
        kept = os.path.join(self.sync, "keep.txt")
        self.wait_for("keep.txt in the sync folder", lambda: os.path.exists(kept), 40)
        forger.settimeout(15)
        link, _ = forger.accept()
        self.addCleanup(link.close)
        local = b"Z:" + kept.replace("/", "\\").encode()
        link.sendall(b"2" + local)
        self.wait_for("the forged report dropped",
                      lambda: "Watcher report dropped, the item is still there: " + kept in self.log_text(), 10)
        time.sleep(0.5)
        link.sendall(b"2Z:\\home\\other-user\\Sync\\private.txt")
        self.wait_for("the outside report dropped",
                      lambda: "Watcher reports outside the sync folder are dropped" in self.log_text(), 10)
        cycle = self.status_json()[1]["last_completed_cycle"] or int(time.time())
        self.wait_for("two more cycles", lambda: (self.status_json()[1]["last_completed_cycle"] or 0) >= cycle + 2, 20)
        self.assertTrue(os.path.exists(os.path.join(self.store, "keep.txt")), "the store lost the file")
        self.assertTrue(os.path.exists(kept), "the client lost its copy")
        self.assertFalse(os.path.exists(os.path.join(self.sync, "_trash", "keep.txt")))
        log = self.log_text()
        self.assertNotIn("Saving to delete queue", log)
        self.assertNotIn("private.txt", log)
        client.terminate()
        self.assertEqual(client.wait(10), 0)

    def test_a_native_sync_folder_in_the_configuration_and_utf8_names_in_log_and_status(self):
        self.sync = os.path.join(self.tmp, "Sync \u00dcn\u00ef")
        os.makedirs(self.sync)
        cfg = os.path.join(self.prog, "filesync.cfg")
        with open(cfg, "w", encoding="utf-8") as f:
            f.write('{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234",'
                    '"API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' % (KEY, self.sync))
        os.makedirs(self.store, exist_ok=True)
        arrived = "\u00dcn\u00efc\u00f8d\u00e9.txt"  # in the code page
        with open(os.path.join(self.store, arrived), "w") as f:
            f.write("from the store")
        unsendable = "\u65e5\u672c.txt"  # outside the code page
        with open(os.path.join(self.sync, unsendable), "w") as f:
            f.write("stays here")
        zr = self.start_watcher()
        client = self.start_client()
        self.wait_for("the store's file in the sync folder", lambda: os.path.exists(os.path.join(self.sync, arrived)), 40)
        self.wait_for("the unsendable name in the status", lambda: self.status_json()[1]["failed"], 40)
        code, state = self.status_json()
        self.assertEqual((code, state["sync_folder"], state["connected"]), (0, self.sync, True))
        self.assertEqual(state["failed"], [{"path": "/" + unsendable, "reason": "characters outside the code page 1252"}])
        self.assertIn("Sync folder:     %s\n" % self.sync, self.client("status").stdout.decode())
        log = self.log_text()
        self.assertIn("Filesync folder:\t\t%s\r\n" % self.sync, log)
        self.assertIn(" : %s/%s\r\n" % (self.sync, arrived), log)  # "Saving file transfer from Server." names it
        self.assertIn(" : Name not synchronised: %s/%s (characters outside the code page 1252)\r\n"
                      % (self.sync, unsendable), log)
        self.assertNotIn("Z:\\", log)
        for p in (client, zr):
            p.terminate()
            self.assertEqual(p.wait(10), 0)
        self.assertIn(("kqfilesync: not synchronised: /%s (characters outside the code page 1252)\n"
                       % unsendable).encode(), client.stderr.read())
        self.assertIn(("Watching %s\n" % self.sync).encode(), zr.stderr.read())

    def test_rejected_credentials_stop_the_client_with_the_reason(self):
        self.install("1234", "WRONGKEY")
        self.start_watcher()
        client = self.start_client()
        self.assertEqual(client.wait(60), 77)
        err = client.stderr.read().decode()
        message = ("the server rejected contract 1234 / API key; is contract 1234 right? the server derives the "
                   "port 21234")
        self.assertEqual(err, "kqfilesync: %s\n" % message)
        log = self.log_text()
        self.assertEqual(log.count(message), 1, log)
        self.assertEqual(log.count("Sending init packet..."), 3, log)
        # The status tells why the client stopped: the engine's count of refusals in a row.
        status = self.client("status")
        self.assertIn("Client:          not running\n", status.stdout.decode())
        self.assertIn("Refused:         3 times in a row: the server closed the connection at the contract and API key\n",
                      status.stdout.decode())
        self.assertEqual(self.status_json()[1]["refusals_in_a_row"], 3)


if __name__ == "__main__":
    KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    ZRSERVICE = os.path.abspath(sys.argv.pop(1))
    KQSYNCD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
