#!/usr/bin/env python3
"""A folder deleted whole at the client comes back by one command: the user
removes a folder of 80 files from the sync folder, the real kqfilesync and
zrservice carry the deletion to the real kqsyncd (which keeps each file as a
version), `kqsyncd versions list --deleted` names the 80, and
`kqsyncd versions restore --contract N /many/` puts them back into the store,
from where they reach the client again, byte for byte.

Run in a network namespace of its own (CMake does it with unshare -n)."""
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
CONTRACT = "1234"


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
        return True
    except OSError:
        return False


class FolderRestoreTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-restore-")
        self.sync = os.path.join(self.tmp, "Sync")
        self.store = os.path.join(self.tmp, "store")
        self.data = os.path.join(self.tmp, "data")
        self.procs = []
        r = self.kqsyncd("account", "add", "--contract", CONTRACT, "--key", KEY, "--store", self.store)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.cfg = os.path.join(self.tmp, "filesync.cfg")
        with open(self.cfg, "w") as f:
            f.write('{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"2%s","protocol":"00003","contract":"%s",'
                    '"API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' % (CONTRACT, CONTRACT, KEY, self.sync))
        os.makedirs(self.sync)
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                   XDG_STATE_HOME=os.path.join(self.tmp, "state"))
        self.start([KQSYNCD, "--data", self.data, "serve", "--host", "127.0.0.1", "--cycle", "1"])
        self.start([ZRSERVICE, "--folder", self.sync])
        self.wait("kqsyncd and zrservice listening", lambda: listening(int("2" + CONTRACT)) and listening(11111), 10)
        self.start([KQFILESYNC, "--config", self.cfg], env=env)

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
                p.wait(10)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, args, env=None):
        self.procs.append(subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))

    def kqsyncd(self, *args):
        return subprocess.run([KQSYNCD, "--data", self.data] + list(args), capture_output=True, text=True, timeout=30)

    def wait(self, what, check, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if check():
                return
            time.sleep(0.2)
        self.fail("%s did not happen within %ss" % (what, timeout))

    def files(self, root, folder):
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            return {}
        out = {}
        for name in os.listdir(base):
            if name.endswith(".kqpart"):
                continue  # a file still coming in, put in place under its name when whole
            try:
                with open(os.path.join(base, name), "rb") as f:
                    out[name] = f.read()
            except FileNotFoundError:
                pass  # put in place since the folder was read: the next look sees it
        return out

    def test_a_folder_of_80_deleted_files_comes_back_by_one_command(self):
        many = {"f%02d.txt" % i: ("file %d\n" % i).encode() * (i + 1) for i in range(80)}
        # Files beside the folder, so that the 80 are far from all the store holds.
        others = {"o%03d.txt" % i: b"other" for i in range(100)}
        for folder, files in (("many", many), ("others", others)):
            os.makedirs(os.path.join(self.sync, folder))
            for name, data in files.items():
                with open(os.path.join(self.sync, folder, name), "wb") as f:
                    f.write(data)
        self.wait("the files in the store", lambda: self.files(self.store, "many") == many and
                  self.files(self.store, "others") == others, 90)

        shutil.rmtree(os.path.join(self.sync, "many"))
        self.wait("the folder gone from the store", lambda: not self.files(self.store, "many"), 60)
        r = self.kqsyncd("versions", "list", "--contract", CONTRACT, "/", "--deleted")
        self.assertEqual(r.returncode, 0, r.stderr)
        listed = sorted(line.split("\t")[3] for line in r.stdout.splitlines())
        self.assertEqual(listed, sorted("/many/" + name for name in many))

        r = self.kqsyncd("versions", "restore", "--contract", CONTRACT, "/many/")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.endswith("restored 80 file(s) below /many/, 0 already as they were\n"), r.stdout)
        self.assertEqual(r.stdout.count("restored /many/f"), 80, r.stdout)
        self.assertEqual(self.files(self.store, "many"), many)
        self.wait("the folder back at the client", lambda: self.files(self.sync, "many") == many, 90)
        self.assertEqual(self.files(self.sync, "others"), others)
        # Nothing is deleted any more: the same command has nothing to do.
        r = self.kqsyncd("versions", "restore", "--contract", CONTRACT, "/many/")
        self.assertEqual((r.returncode, r.stderr),
                         (1, "kqsyncd: no file below /many/ is deleted (versions list --deleted shows them)\n"))

    def test_a_data_folder_whose_parent_is_missing_is_refused_in_one_line(self):
        missing = os.path.join(self.tmp, "no-such-folder", "data")
        r = subprocess.run([KQSYNCD, "--data", missing, "account", "list"], capture_output=True, text=True, timeout=10)
        self.assertEqual((r.returncode, r.stdout, r.stderr),
                         (1, "", "kqsyncd: the data folder %s cannot be made: %s is not a folder\n"
                          % (missing, os.path.dirname(missing))))
        self.assertFalse(os.path.exists(os.path.dirname(missing)))


if __name__ == "__main__":
    KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    ZRSERVICE = os.path.abspath(sys.argv.pop(1))
    KQSYNCD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
