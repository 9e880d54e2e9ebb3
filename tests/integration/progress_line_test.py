#!/usr/bin/env python3
"""The status line of kqfilesync with the real kqsyncd: on a terminal of 80
columns it is one line, rewritten in place and never wider than the terminal,
and it shows the file being received; with stdout a file nothing is written.
kqsyncd is stopped (SIGSTOP) in the middle of a transfer, so that the client
shows the transfer for as long as the test looks, whatever the machine's load.

Run in a network namespace of its own (CMake does it with unshare -n)."""
import fcntl
import os
import pty
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest
import unicodedata

KQFILESYNC = KQSYNCD = None
KEY = "abcdefghijklmnopqrstuvwx"
NAME = "a file with a long name that does not fit on one line of an eighty-column terminal " * 2 + ".bin"
SIZE = 1 << 30  # sparse: read quickly, never received whole


def columns(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


class ProgressLineTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-progress-")
        self.sync = os.path.join(self.tmp, "Sync")
        self.store = os.path.join(self.tmp, "store")
        os.makedirs(self.store)
        with open(os.path.join(self.store, NAME), "wb") as f:
            f.truncate(SIZE)
        data = os.path.join(self.tmp, "data")
        r = subprocess.run([KQSYNCD, "--data", data, "account", "add", "--contract", "1234", "--key", KEY,
                            "--store", self.store], capture_output=True, timeout=10)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.server = subprocess.Popen([KQSYNCD, "--data", data, "serve", "--host", "127.0.0.1", "--cycle", "1"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"))
        self.config = os.path.join(self.tmp, "filesync.cfg")
        with open(self.config, "w") as f:
            f.write('{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234",'
                    '"API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' % (KEY, self.sync))
        os.makedirs(self.sync)
        self.client = None

    def tearDown(self):
        for p in (self.client, self.server):
            if p and p.poll() is None:
                p.send_signal(signal.SIGCONT)
                p.kill()
                p.wait(10)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start_client(self, stdout):
        self.client = subprocess.Popen([KQFILESYNC, "--config", self.config], env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=stdout, stderr=subprocess.DEVNULL)

    def hold_the_server_mid_transfer(self, drain=lambda: None):
        """Stops kqsyncd once part of the file has arrived; drain reads the terminal meanwhile."""
        part = os.path.join(self.sync, NAME + ".kqpart")
        deadline = time.time() + 60
        while time.time() < deadline:
            drain()
            try:
                if 0 < os.path.getsize(part) < SIZE // 2:
                    self.server.send_signal(signal.SIGSTOP)
                    return
            except FileNotFoundError:
                pass
            time.sleep(0.002)
        self.fail("the transfer never began")

    def stop_client(self):
        self.client.terminate()
        self.assertEqual(self.client.wait(10), 0)

    def test_a_terminal_of_80_columns_gets_one_line_rewritten_in_place(self):
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.start_client(slave)
        os.close(slave)
        shown = bytearray()

        def drain(wait=0.0):
            while select.select([master], [], [], wait)[0]:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    return
                if not chunk:
                    return
                shown.extend(chunk)
                wait = 0.0

        self.hold_the_server_mid_transfer(drain)
        # Three status ticks while the transfer stands still.
        deadline = time.time() + 3.5
        while time.time() < deadline:
            drain(0.1)
        self.stop_client()
        drain(0.2)
        os.close(master)
        text = bytes(shown).decode("utf-8")
        self.assertTrue(text.endswith("\r\n") or text.endswith("\n"), repr(text[-200:]))
        body = text.rstrip("\r\n")
        self.assertNotIn("\n", body, "the status line went onto a new line")
        lines = [part.replace("\x1b[K", "") for part in body.split("\r") if part]
        self.assertTrue(lines)
        for line in lines:
            self.assertLessEqual(columns(line), 79, line)
            self.assertNotIn("\x1b", line)
        self.assertTrue(any(NAME[:20] in line and line.endswith("\u2026") for line in lines), lines)

    def test_stdout_a_file_gets_no_status_lines(self):
        out_path = os.path.join(self.tmp, "stdout.txt")
        with open(out_path, "wb") as out:
            self.start_client(out)
            self.hold_the_server_mid_transfer()
            time.sleep(2.5)  # status ticks while the transfer stands still
            self.stop_client()
        with open(out_path, "rb") as f:
            self.assertEqual(f.read(), b"")


if __name__ == "__main__":
    KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    KQSYNCD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
