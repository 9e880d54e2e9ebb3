#!/usr/bin/env python3
"""Process tests of zrservice: the real service on 127.0.0.1:11111, a real
folder, real file operations, and a client socket that checks every message
byte for byte. The service may put several messages in one read; the client
cuts them as the real client does (a message starts with its action digit
followed by a drive letter, a colon and a backslash), and no read may end
inside a message."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ZRSERVICE = None
PORT = 11111


def local(path):
    """The local path text of a real path, as the client sees it (cp1252 bytes)."""
    return b"Z:" + path.replace("/", "\\").encode("cp1252")


MESSAGE_START = re.compile(rb"[0-9][A-Za-z]:\\")


def split_messages(data):
    """The messages of one read, cut where the real client cuts them."""
    starts = [m.start() for m in MESSAGE_START.finditer(data)]
    if not starts or starts[0] != 0:
        raise AssertionError("a read that does not start with a message: %r" % data[:80])
    return [data[a:b] for a, b in zip(starts, starts[1:] + [len(data)])]


def written(path):
    """The reports of a file created and written: its addition once it is closed
    (the Windows watcher, without a close event, may add a modification)."""
    if ZRSERVICE.endswith(".exe"):
        return [b"1" + local(path), b"3" + local(path)]
    return [b"1" + local(path)]


def command(exe, args):
    """The Windows build runs under Wine in its console mode, with the folder as
    local path text."""
    if not exe.endswith(".exe"):
        return [exe] + args
    if args[:1] == ["--folder"]:
        args = ["--folder", local(args[1]).decode("cp1252")] + args[2:]
    return ["wine", exe, "--console"] + args


class Service:
    def __init__(self, args, exe=None, cwd=None):
        # A file, not a pipe: programs that Wine starts keep a pipe open after the service ends.
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command(exe or ZRSERVICE, args), stderr=self.err, cwd=cwd)
        deadline = time.time() + (30 if ZRSERVICE.endswith(".exe") else 5)
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", PORT), timeout=0.2).close()
                return
            except OSError:
                if self.proc.poll() is not None:
                    self.err.seek(0)
                    raise AssertionError("zrservice ended: " + self.err.read().decode())
                time.sleep(0.05)
        raise AssertionError("zrservice does not listen")

    def stop(self):
        self.proc.terminate()
        code = self.proc.wait(5)
        self.err.seek(0)
        log = self.err.read().decode(errors="replace")
        self.err.close()
        return code, log


class Client:
    def __init__(self):
        self.sock = socket.create_connection(("127.0.0.1", PORT))
        self.sock.settimeout(0.05)
        time.sleep(0.1)  # the service takes the connection before the test acts

    def reads(self, until, timeout=3.0, pause=0.0):
        """Each element is one message; a read may bring several."""
        got = []
        deadline = time.time() + timeout
        while time.time() < deadline and not until(got):
            try:
                data = self.sock.recv(65536)
                if not data:
                    break
                got.extend(split_messages(data))
                if pause:
                    time.sleep(pause)
            except socket.timeout:
                pass
        return got

    def quiet(self, time_s=0.3):
        return self.reads(lambda g: False, timeout=time_s)

    def close(self):
        self.sock.close()


def collapse(messages):
    """collapse drops a message that repeats the one just before it."""
    out = []
    for m in messages:
        if not out or out[-1] != m:
            out.append(m)
    return out


class WatcherFixture(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-zr-")
        self.root = os.path.join(self.tmp, "Sync")
        os.makedirs(os.path.join(self.root, "_trash"))
        os.makedirs(os.path.join(self.root, "_log"))
        self.outside = os.path.join(self.tmp, "outside")
        os.makedirs(self.outside)
        self.service = Service(["--folder", self.root])
        self.client = Client()

    def tearDown(self):
        self.client.close()
        code, log = self.service.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)
        if not ZRSERVICE.endswith(".exe"):  # Wine does not pass SIGTERM on as a console stop
            self.assertEqual(code, 0, log)

    def p(self, *parts):
        return os.path.join(self.root, *parts)

    def expect(self, messages, timeout=3.0):
        # A write and the close that follows may arrive as one "3" or as two in a
        # row, depending on when the client reads: repeats count as one.
        got = self.client.reads(lambda g: len(collapse(g)) >= len(messages), timeout)
        got += self.client.quiet(0.2)
        self.assertEqual(collapse(got), messages)


class ZrserviceTest(WatcherFixture):
    def test_files_and_renames_inside_and_across_the_border(self):
        with open(self.p("a.txt"), "w") as f:
            f.write("hello")
        self.expect(written(self.p("a.txt")))
        os.rename(self.p("a.txt"), self.p("b.txt"))
        self.expect([b"4" + local(self.p("a.txt")), b"5" + local(self.p("b.txt"))])
        os.rename(self.p("b.txt"), self.p("_trash", "b.txt"))
        self.expect([b"2" + local(self.p("b.txt"))])
        os.rename(self.p("_trash", "b.txt"), self.p("c.txt"))
        self.expect([b"1" + local(self.p("c.txt"))])
        os.rename(self.p("c.txt"), os.path.join(self.outside, "c.txt"))
        self.expect([b"2" + local(self.p("c.txt"))])
        os.rename(os.path.join(self.outside, "c.txt"), self.p("d.txt"))
        self.expect([b"1" + local(self.p("d.txt"))])
        os.remove(self.p("d.txt"))
        self.expect([b"2" + local(self.p("d.txt"))])
        with open(self.p("_log", "Filesync.log"), "w") as f:
            f.write("log line")
        self.expect([])

    def test_non_ascii_names_arrive_as_windows_1252(self):
        name = "caf\u00e9 \u20ac.txt"
        with open(self.p(name), "w"):
            pass
        self.expect(written(self.p(name)))
        self.assertIn(b"caf\xe9 \x80.txt", local(self.p(name)))

    def test_new_folders_are_watched_and_their_early_content_reported(self):
        # Created in one go: the inner folders and the file usually exist before
        # their watch does; the scan of the new folder reports them.
        os.makedirs(self.p("d", "e"))
        with open(self.p("d", "e", "f.txt"), "w") as f:
            f.write("x")
        got = self.client.reads(lambda g: b"1" + local(self.p("d", "e", "f.txt")) in g)
        got += self.client.quiet(0.2)
        for m in [b"1" + local(self.p("d")), b"1" + local(self.p("d", "e")),
                  b"1" + local(self.p("d", "e", "f.txt"))]:
            self.assertIn(m, got)
        # The folder is watched now: a change deep inside is seen.
        with open(self.p("d", "e", "f.txt"), "a") as f:
            f.write("y")
        self.expect([b"3" + local(self.p("d", "e", "f.txt"))])
        # A folder renamed inside: its content is still watched under the new name.
        os.rename(self.p("d"), self.p("D"))
        self.expect([b"4" + local(self.p("d")), b"5" + local(self.p("D"))])
        os.remove(self.p("D", "e", "f.txt"))
        self.expect([b"2" + local(self.p("D", "e", "f.txt"))])

    def test_folder_moved_in_is_reported_with_its_content(self):
        os.makedirs(os.path.join(self.outside, "m", "n"))
        with open(os.path.join(self.outside, "m", "n", "g.txt"), "w") as f:
            f.write("g")
        os.rename(os.path.join(self.outside, "m"), self.p("m"))
        self.expect([b"1" + local(self.p("m")), b"1" + local(self.p("m", "n")),
                     b"1" + local(self.p("m", "n", "g.txt"))])
        os.rename(self.p("m"), os.path.join(self.outside, "m2"))
        self.expect([b"2" + local(self.p("m"))])
        # Its watches are gone: changes out there are not reported.
        with open(os.path.join(self.outside, "m2", "n", "g.txt"), "a") as f:
            f.write("h")
        self.expect([])

    def test_a_slow_reader_gets_every_message_whole_and_the_last_one_follows_the_last_write(self):
        names = ["f%02d.txt" % i for i in range(30)]
        for n in names:
            with open(self.p(n), "w") as f:
                f.write(n)
        with open(self.p("big.bin"), "wb") as f:
            for _ in range(50):
                f.write(b"x" * 65536)
                f.flush()
        expected = [m for n in names for m in written(self.p(n))]
        got = self.client.reads(lambda g: g and g[-1][1:] == local(self.p("big.bin")) and
                                set(expected) <= set(g), timeout=20, pause=0.02)
        for m in got:
            self.assertEqual(m.count(b":"), 1, m)  # whole messages only
        for m in expected:
            self.assertIn(m, got)
        self.assertEqual(got[-1][1:], local(self.p("big.bin")))

    def test_many_files_at_once_arrive_whole_in_order_without_pacing(self):
        count = 3000
        for i in range(count):
            with open(self.p("n%05d.txt" % i), "w") as f:
                f.write("x")
        want = [b"1" + local(self.p("n%05d.txt" % i)) for i in range(count)]
        got = self.client.reads(lambda g: len(g) >= count, timeout=60)
        self.assertEqual(got, want)  # one report each, whole, in order

    def test_a_file_held_open_is_reported_once_quiet(self):
        if ZRSERVICE.endswith(".exe"):
            self.skipTest("the Windows watcher has no close event")
        f = open(self.p("held.log"), "w")
        try:
            for _ in range(5):
                f.write("line\n")
                f.flush()
                time.sleep(0.1)
            self.assertEqual(self.client.quiet(0.3), [])  # written under 2 s ago: not yet
            got = self.client.reads(lambda g: len(g) >= 1, timeout=5)
            self.assertEqual(got, [b"1" + local(self.p("held.log"))])
        finally:
            f.close()
        self.expect([b"3" + local(self.p("held.log"))])  # the close after writing

    def test_a_received_file_put_in_place_is_not_reported(self):
        with open(self.p("r.txt.kqpart"), "w") as f:
            f.write("from the server")
        os.rename(self.p("r.txt.kqpart"), self.p("r.txt"))
        self.expect([])
        with open(self.p("r.txt"), "a") as f:
            f.write("a user's edit")
        self.expect([b"3" + local(self.p("r.txt"))])

    def test_the_service_serves_the_next_client_after_a_disconnect(self):
        self.client.close()
        time.sleep(0.1)
        self.client = Client()
        with open(self.p("after.txt"), "w"):
            pass
        self.expect(written(self.p("after.txt")))

    def test_two_clients_at_once_both_get_every_message(self):
        second = Client()
        try:
            with open(self.p("both.txt"), "w"):
                pass
            want = written(self.p("both.txt"))
            self.expect(want)
            self.assertEqual(collapse(second.reads(lambda g: len(collapse(g)) >= len(want))), want)
        finally:
            second.close()


class SyncFolderAwayTest(WatcherFixture):
    """A sync folder that goes away is not an emptied folder: nothing is
    reported for it, and it is watched again when it comes back."""

    def fill(self):
        os.makedirs(self.p("docs", "deep"))
        names = [self.p("a.txt")] + [self.p("docs", "deep", "f%02d.txt" % i) for i in range(40)]
        for n in names:
            with open(n, "w") as f:
                f.write("x")
        self.client.reads(lambda g: written(names[-1])[-1] in g, timeout=5)
        self.client.quiet(0.5)

    def assert_no_reports_for(self, seconds):
        """Longer than removals wait before they go out."""
        self.assertEqual(self.client.quiet(seconds), [])

    def assert_watched_again(self):
        deadline = time.time() + 5
        name = self.p("after.txt")
        while time.time() < deadline:
            with open(name, "a") as f:
                f.write("y")
            got = self.client.reads(lambda g: len(g) > 0, timeout=0.5)
            if got:
                got += self.client.quiet(0.3)  # the close may come as a message of its own
                self.assertTrue(all(m[1:] == local(name) and m[:1] in b"13" for m in got), got)
                return
        self.fail("the sync folder is not watched again")

    def test_moved_away_and_back(self):
        self.fill()
        os.rename(self.root, self.root + ".away")
        os.remove(self.root + ".away/docs/deep/f00.txt")  # changes out there are not the sync folder's
        self.assert_no_reports_for(2.5)
        os.rename(self.root + ".away", self.root)
        self.assert_no_reports_for(2.0)
        self.assert_watched_again()
        os.remove(self.p("a.txt"))  # a deletion after the return is reported
        self.expect([b"2" + local(self.p("a.txt"))])

    def test_parent_moved_away_and_back(self):
        self.fill()
        os.rename(self.tmp, self.tmp + ".away")
        try:
            os.remove(os.path.join(self.tmp + ".away", "Sync", "a.txt"))
            self.assert_no_reports_for(2.5)
        finally:
            os.rename(self.tmp + ".away", self.tmp)
        self.assert_no_reports_for(1.5)
        self.assert_watched_again()

    def test_removed_whole_and_made_again(self):
        self.fill()
        shutil.rmtree(self.root)
        self.assert_no_reports_for(2.5)
        os.makedirs(self.root)
        self.assert_watched_again()

    @unittest.skipUnless(os.environ.get("KQ_IN_NAMESPACES") == "1", "needs a mount namespace")
    def test_unmounted_disk(self):
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", self.root], check=True)
        try:
            # The path names the mounted disk now: it is watched instead.
            self.assert_no_reports_for(1.5)
            os.makedirs(self.p("disk"))
            with open(self.p("disk", "d.txt"), "w") as f:
                f.write("d")
            self.client.reads(lambda g: written(self.p("disk", "d.txt"))[-1] in g, timeout=5)
            self.client.quiet(0.3)
        finally:
            # Wine keeps the folder open: only a lazy unmount gets it off then, as an unplugged disk would.
            subprocess.run(["umount"] + (["-l"] if ZRSERVICE.endswith(".exe") else []) + [self.root], check=True)
        self.assert_no_reports_for(2.5)  # its files are not reported deleted
        self.assert_watched_again()


class ZrserviceConfigTest(unittest.TestCase):
    def test_takes_the_sync_folder_from_filesync_cfg_beside_it(self):
        tmp = tempfile.mkdtemp(prefix="kq-zrcfg-")
        try:
            prog = os.path.join(tmp, "prog")
            root = os.path.join(tmp, "My Sync")
            os.makedirs(prog)
            os.makedirs(root)
            shutil.copy(ZRSERVICE, os.path.join(prog, "zrservice"))
            kqdir = local(root).decode("cp1252").replace("\\", "\\\\")
            with open(os.path.join(prog, "filesync.cfg"), "w") as f:
                f.write('{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003",'
                        '"contract":"1234","API-key":"k","KQDir":"%s","Reconnect":"1"}]}' % kqdir)
            service = Service([], exe=os.path.join(prog, "zrservice"), cwd=tmp)
            client = Client()
            try:
                with open(os.path.join(root, "x.txt"), "w"):
                    pass
                want = written(os.path.join(root, "x.txt"))
                got = client.reads(lambda g: len(collapse(g)) >= len(want))
                got += client.quiet(0.2)
                self.assertEqual(collapse(got), want)
            finally:
                client.close()
                code, log = service.stop()
            self.assertEqual(code, 0, log)
            self.assertIn("Watching " + root + "\n", log)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)

    def test_without_configuration_or_folder_it_ends_with_a_hint(self):
        tmp = tempfile.mkdtemp(prefix="kq-zrnone-")
        try:
            shutil.copy(ZRSERVICE, os.path.join(tmp, "zrservice"))
            r = subprocess.run([os.path.join(tmp, "zrservice")], capture_output=True, timeout=10)
            self.assertNotEqual(r.returncode, 0)
            self.assertIn(b"--folder", r.stderr)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


def in_own_namespaces():
    """Runs this file again in its own network and mount namespaces (the port
    11111 and the mounts are then this test's alone); False where that cannot be."""
    if os.environ.get("KQ_IN_NAMESPACES") == "1" or shutil.which("unshare") is None:
        return False
    env = dict(os.environ, KQ_IN_NAMESPACES="1")
    script = 'ip link set lo up && mount --make-rprivate / && exec "$@"'
    probe = subprocess.run(["unshare", "-n", "-m", "true"], capture_output=True)
    if probe.returncode != 0:
        return False
    r = subprocess.run(["unshare", "-n", "-m", "sh", "-c", script, "sh", sys.executable] + sys.argv, env=env)
    sys.exit(r.returncode)


if __name__ == "__main__":
    in_own_namespaces()
    ZRSERVICE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
