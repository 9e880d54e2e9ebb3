#!/usr/bin/env python3
"""A hostile sync server against the real kqfilesync: every order that would
write, delete or move in the client's own folders (_config, _log, _trash, at
any case) is refused with its log line and answered as the wire requires, and
nothing in those folders changes; the client's settings, exception lists, lock
and trash stay its own, while the server still fetches the log.

Uses the scripted server of client_process_test.py."""
import hashlib
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import client_process_test as cpt  # noqa: E402
from client_process_test import ClientFixture, header, in_own_namespaces  # noqa: E402

# Files the running client writes itself: its log and its list of known files.
CLIENT_WRITES = {os.path.join("_log", "Filesync.log"), os.path.join("_config", "KnownFiles.dat")}


class OwnFoldersTest(ClientFixture):
    def own_tree(self):
        tree = {}
        for folder in ("_config", "_log", "_trash"):
            for root, dirs, files in os.walk(os.path.join(self.sync, folder)):
                for d in dirs:
                    tree[os.path.relpath(os.path.join(root, d), self.sync)] = "folder"
                for f in files:
                    rel = os.path.relpath(os.path.join(root, f), self.sync)
                    if rel in CLIENT_WRITES:
                        continue
                    with open(os.path.join(root, f), "rb") as fh:
                        tree[rel] = hashlib.sha256(fh.read()).hexdigest()
        return tree

    def write(self, relative, data):
        path = os.path.join(self.sync, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def test_orders_into_the_own_folders_are_refused_and_change_nothing(self):
        self.write("_config/Filesync.ini", b"[Basic]\r\nfiledeletion=0\r\n")
        self.write("_config/exceptions.dat", b"~\r\n")
        self.write("_trash/docs/old.txt", b"trashed earlier")
        self.write("docs/a.txt", b"a")
        self.start_watcher()
        client = self.inst.start()
        self.procs.append(client)
        conn = self.connect()
        self.wait_log(b"Connected to service!")
        before = self.own_tree()
        self.assertIn(os.path.join("_log", "kqfilesync.lock"), before)

        rid = b"\x61\x62\x63\x64"
        orders = [
            (b"RQPUT", b'{"filepath":"\\/_config\\/Filesync.ini"}', b"ANPUT", b"\\/_config\\/Filesync.ini", b"_config"),
            (b"RQFDA", b"[Basic]\r\nfiledeletion=2\r\n", b"ANFDA", None, None),
            (b"RQPUT", b'{"filepath":"\\/_Config\\/exceptions.dat"}', b"ANPUT", b"\\/_Config\\/exceptions.dat", b"_config"),
            (b"RQFDA", b"", b"ANFDA", None, None),
            (b"RQPUT", b'{"filepath":"\\/_log\\/kqfilesync.lock"}', b"ANPUT", b"\\/_log\\/kqfilesync.lock", b"_log"),
            (b"RQFDA", b"1\n", b"ANFDA", None, None),
            (b"RQPUT", b'{"filepath":"\\/_trash\\/planted\\/"}', b"ANPUT", b"\\/_trash\\/planted\\/", b"_trash"),
            (b"RQDEL", b'{"filepath":"\\/_trash\\/docs\\/old.txt"}', b"ANDEL", b"\\/_trash\\/docs\\/old.txt", b"_trash"),
            (b"RQDEL", b'{"filepath":"\\/_CONFIG\\/"}', b"ANDEL", b"\\/_CONFIG\\/", b"_config"),
            (b"RQMOV", b'{"sourcefilepath":"\\/_log\\/","destinationfilepath":"\\/moved\\/"}', b"FLMOV",
             b"\\/_log\\/", b"_log"),
            (b"RQMOV", b'{"sourcefilepath":"\\/docs\\/","destinationfilepath":"\\/_trash\\/docs\\/"}', b"FLMOV",
             b"\\/_trash\\/docs\\/", b"_trash"),
        ]
        for kind, body, answer, value, folder in orders:
            conn.send(header(kind.decode(), rid, len(body)) + body)
            self.assertEqual(conn.recv_exactly(17), header(answer.decode(), rid, 0), kind + body)
            if value is not None:
                self.wait_log(b"Refused server path " + value + b": the client's own folder " + folder)
        self.assertEqual(self.own_tree(), before)
        self.assertFalse(os.path.exists(os.path.join(self.sync, "moved")))

        # The settings were not replaced: a deletion still goes to the trash.
        body = b'{"filepath":"\\/docs\\/a.txt"}'
        conn.send(header("RQDEL", rid, len(body)) + body)
        self.assertEqual(conn.recv_exactly(17), header("ANDEL", rid, 0))
        with open(os.path.join(self.sync, "_trash", "docs", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"a")

        # The log is still fetched, and the lock still keeps a second client out.
        body = b'{"filepath":"\\/_log\\/Filesync.log"}'
        conn.send(header("RQFIL", rid, len(body)) + body)
        kind, got_rid, data = conn.read_packet()
        self.assertEqual((kind, got_rid), ("ANFIL", rid))
        self.assertIn(b"Refused server path \\/_log\\/kqfilesync.lock: the client's own folder _log", data)
        second = subprocess.run([self.inst.exe], capture_output=True, timeout=20)
        self.assertNotEqual(second.returncode, 0, second.stderr)
        self.assertIn(b"is used by another kqfilesync", second.stderr)
        conn.close()
        client.terminate()
        self.assertEqual(client.wait(10), 0)

    def test_an_oversized_state_file_is_not_read(self):
        # The state lives under XDG_STATE_HOME, named after the sync folder.
        name = self.sync.strip("/").replace("-", "\\x2d").replace("/", "-")
        state_home = os.path.join(self.tmp, "state")
        state = os.path.join(state_home, "kqfilesync", name + ".status.json")
        os.makedirs(os.path.dirname(state), exist_ok=True)
        with open(state, "wb") as f:
            f.write(b'{"connected":true,' + b" " * (2 * 1024 * 1024) + b"}")
        env = dict(os.environ, XDG_STATE_HOME=state_home)
        r = subprocess.run([self.inst.exe, "status"], capture_output=True, timeout=20, env=env)
        self.assertIn(("kqfilesync: %s is larger than 1048576 bytes; not read\n" % state).encode(), r.stderr)
        self.assertIn(b"not running", r.stdout.lower() + r.stderr.lower())


if __name__ == "__main__":
    in_own_namespaces()
    cpt.KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    cpt.ZRSERVICE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
