#!/usr/bin/env python3
"""kqfilesync empties the sync folder's _trash at start of what went there more
than TrashDays days ago (30 unless "TrashDays" in _config/Filesync.ini says
otherwise; 0 keeps everything).

An entry's age is the time it went into the trash (its status change time),
which no program can set: the sync folder is an ext4 image whose entries get
their old times from debugfs, mounted in a mount namespace of the client's own
(the client's files are read through /proc/PID/root). Runs as root, in a
network namespace of its own (CMake does it with unshare -n): the client finds
no server and no watcher, and needs none."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

KQFILESYNC = None
DAY = 86400


def stamp(seconds_ago):
    return time.strftime("%Y%m%d%H%M%S", time.gmtime(time.time() - seconds_ago))


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("mke2fs") and shutil.which("debugfs"),
                     "needs root (a loop mount), mke2fs and debugfs")
class TrashDaysTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kq-trash-")
        self.client = None

    def tearDown(self):
        if self.client and self.client.poll() is None:
            self.client.terminate()
            self.client.wait(10)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def folder_image(self, ages, settings):
        """An ext4 image of a sync folder whose _trash holds an entry per name of ages (days ago it went in)."""
        source = os.path.join(self.tmp, "source")
        os.makedirs(os.path.join(source, "_trash"))
        for name in ages:
            path = os.path.join(source, "_trash", name)
            if name.endswith("/"):
                os.makedirs(path)
                with open(os.path.join(path, "inside.txt"), "w") as f:
                    f.write("in a folder")
            else:
                with open(path, "w") as f:
                    f.write(name)
        if settings is not None:
            os.makedirs(os.path.join(source, "_config"))
            with open(os.path.join(source, "_config", "Filesync.ini"), "w") as f:
                f.write("[Basic]\r\n" + settings)
        image = os.path.join(self.tmp, "folder.img")
        subprocess.run(["mke2fs", "-q", "-t", "ext4", "-d", source, image, "8M"], check=True, capture_output=True)
        for name, days in ages.items():
            field = "set_inode_field /_trash/%s ctime %s" % (name.rstrip("/"), stamp(days * DAY))
            subprocess.run(["debugfs", "-w", "-R", field, image], check=True, capture_output=True)
        return image

    def start(self, image):
        sync = os.path.join(self.tmp, "Sync")
        os.makedirs(sync)
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                   XDG_STATE_HOME=os.path.join(self.tmp, "state"))
        r = subprocess.run([KQFILESYNC, "install", "--user", "--host", "127.0.0.1", "--contract", "1234", "--key",
                            "abcdefghijklmnopqrstuvwx", "--folder", sync], env=env, capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.client = subprocess.Popen(
            ["unshare", "-m", "sh", "-c", 'mount -o loop "$1" "$2" && exec "$3"', "sh", image, sync, KQFILESYNC],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The folder as the client sees it, inside its mount namespace.
        return "/proc/%d/root%s" % (self.client.pid, sync)

    def log(self, folder):
        try:
            with open(os.path.join(folder, "_log", "Filesync.log"), "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except OSError:
            return ""

    def wait_log(self, folder, text):
        deadline = time.time() + 60
        while time.time() < deadline:
            if text in self.log(folder):
                return
            self.assertIsNone(self.client.poll(), "the client ended")
            time.sleep(0.2)
        self.fail("no %r within 60 s; log:\n%s" % (text, self.log(folder)))

    def test_entries_older_than_trash_days_go_at_start(self):
        ages = {"old.txt": 40, "old-folder/": 31, "recent.txt": 29, "new.txt": 0}
        cases = [
            ("the default of 30 days", None, ["recent.txt", "new.txt"],
             "Trash emptied of 2 item(s) older than 30 days"),
            ("TrashDays=35", "TrashDays=35\r\n", ["old-folder", "recent.txt", "new.txt"],
             "Trash emptied of 1 item(s) older than 35 days"),
            ("TrashDays=0 keeps everything", "TrashDays=0\r\n", ["old-folder", "old.txt", "recent.txt", "new.txt"],
             None),
        ]
        for name, settings, kept, line in cases:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                folder = self.start(self.folder_image(ages, settings))
                # The trash is looked at before the client first tries to reach its server.
                self.wait_log(folder, "cannot reach 127.0.0.1:21234")
                self.assertEqual(sorted(os.listdir(os.path.join(folder, "_trash"))), sorted(kept))
                log = self.log(folder)
                if line:
                    self.assertEqual(log.count(" : " + line + "\r\n"), 1, log)
                else:
                    self.assertNotIn("Trash emptied", log)
                self.client.terminate()
                self.assertEqual(self.client.wait(10), 0)


if __name__ == "__main__":
    KQFILESYNC = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
