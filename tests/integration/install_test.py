#!/usr/bin/env python3
"""cmake --install into a staging folder lays out what docs/linux.md describes,
the man pages are roff pages of their programs, and the installed unit files
parse: with a small parser of the unit syntax everywhere, and with
systemd-analyze verify where it is installed."""
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

BUILD = SOURCE = None

UNIT_SECTIONS = {"Unit", "Service", "Install"}


def documented_layout():
    """The file list in the fenced block after the heading on what cmake --install lays out."""
    with open(os.path.join(SOURCE, "docs", "linux.md")) as f:
        text = f.read()
    section = text.split("## What `cmake --install` lays out", 1)[1]
    block = re.search(r"```text\n(.*?)```", section, re.S).group(1)
    return sorted(line.strip() for line in block.splitlines() if line.strip())


def parse_unit(path):
    """The unit file as {section: [(key, value)]}; raises ValueError for a line that is not unit syntax."""
    sections, current = {}, None
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith(("#", ";")):
                continue
            m = re.fullmatch(r"\[([A-Za-z]+)\]", line)
            if m:
                current = sections.setdefault(m.group(1), [])
                continue
            m = re.fullmatch(r"([A-Za-z][A-Za-z0-9]*)=(.*)", line)
            if not m or current is None:
                raise ValueError("%s:%d: not unit syntax: %s" % (path, number, line))
            current.append((m.group(1), m.group(2)))
    return sections


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="kq-install-")
        r = subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], capture_output=True, timeout=120)
        if r.returncode != 0:
            raise AssertionError(r.stdout + r.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def staged(self, relative):
        return os.path.join(self.prefix, relative)

    def test_the_staging_folder_holds_exactly_what_the_guide_lists(self):
        found = sorted(os.path.relpath(os.path.join(root, name), self.prefix)
                       for root, _, names in os.walk(self.prefix) for name in names)
        self.assertEqual(found, documented_layout())
        for program in ("kqfilesync", "zrservice", "kqsyncd"):
            self.assertTrue(os.stat(self.staged("bin/" + program)).st_mode & stat.S_IXUSR, program)
            r = subprocess.run([self.staged("bin/" + program), "--version"], capture_output=True, timeout=10)
            self.assertEqual(r.returncode, 0)

    def test_man_pages_are_written_from_the_help_texts(self):
        for program in ("kqfilesync", "zrservice", "kqsyncd"):
            with open(self.staged("share/man/man1/%s.1" % program)) as f:
                page = f.read()
            help_text = subprocess.run([self.staged("bin/" + program), "--help"], capture_output=True,
                                       text=True, timeout=10).stdout
            self.assertTrue(page.startswith(".TH %s 1 " % program.upper()), page[:80])
            self.assertIn(".SH NAME\n%s \\- the " % program, page)
            self.assertIn(".SH SYNOPSIS\n.nf\n%s " % program, page)
            self.assertIn(".SH OPTIONS", page)
            # Every option of the help text is in the page.
            for option in set(re.findall(r"--[a-z]+", help_text)):
                self.assertIn(option.replace("-", "\\-"), page, (program, option))

    def test_units_parse_and_name_the_installed_programs(self):
        units = {"lib/systemd/system/kqsyncd.service": "kqsyncd --data /var/lib/kqsyncd serve",
                 "lib/systemd/user/kqfilesync.service": "kqfilesync",
                 "lib/systemd/user/zrservice.service": "zrservice"}
        for relative, command in units.items():
            unit = parse_unit(self.staged(relative))
            self.assertLessEqual(set(unit), UNIT_SECTIONS, relative)
            service = dict(unit["Service"])
            self.assertEqual(service["ExecStart"], os.path.join(self.prefix, "bin", command), relative)
            self.assertIn("WantedBy", dict(unit["Install"]), relative)
        server = dict(parse_unit(self.staged("lib/systemd/system/kqsyncd.service"))["Service"])
        self.assertEqual((server["User"], server["StateDirectory"]), ("kqsyncd", "kqsyncd"))
        for hardening in ("NoNewPrivileges", "ProtectSystem", "ProtectHome", "PrivateTmp", "CapabilityBoundingSet"):
            self.assertIn(hardening, server)
        client = dict(parse_unit(self.staged("lib/systemd/user/kqfilesync.service"))["Unit"])
        self.assertEqual((client["Wants"], client["After"]), ("zrservice.service", "zrservice.service"))
        watcher = dict(parse_unit(self.staged("lib/systemd/user/zrservice.service"))["Unit"])
        self.assertEqual(watcher["Before"], "kqfilesync.service")
        with open(self.staged("lib/sysusers.d/kqsyncd.conf")) as f:
            self.assertIn('u kqsyncd - "Korvalinq Drive sync server" /var/lib/kqsyncd\n', f.read())

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_systemd_accepts_the_units(self):
        for kind, names in (("system", ["kqsyncd.service"]), ("user", ["kqfilesync.service", "zrservice.service"])):
            paths = [self.staged("lib/systemd/%s/%s" % (kind, name)) for name in names]
            args = ["systemd-analyze", "verify", "--man=no"] + (["--user"] if kind == "user" else []) + paths
            env = dict(os.environ, SYSTEMD_LOG_LEVEL="warning")
            if kind == "user":
                env.setdefault("XDG_RUNTIME_DIR", tempfile.gettempdir())
            r = subprocess.run(args, capture_output=True, text=True, timeout=60, env=env)
            problems = [line for line in (r.stdout + r.stderr).splitlines()
                        if any(name.split(".")[0] in line for name in names)]
            self.assertEqual((r.returncode, problems), (0, []), r.stdout + r.stderr)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    SOURCE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
