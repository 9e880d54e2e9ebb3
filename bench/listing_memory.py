#!/usr/bin/env python3
"""listing_memory.py KQSYNCD [MIB ...]: peak RSS of kqsyncd while it reads and
plans one listing of MIB MiB (default 16 and 64). A client authenticates,
answers RQCHG with the empty change and RQLST with the listing; when the first
RQFIL (or RQFLS) shows that the plan is made, the peak RSS (VmHWM) of the
server is read and compared with the target of twice the listing plus 64 MiB.
Two listings per size: new files (each planned as a fetch), and temporary
names that are never synchronised (the listing is read, nothing is planned).
Runs the server in a network namespace of its own (re-executes itself under
unshare -n; needs root). Prints one line per size."""
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

PORT = 24343
EMPTY_CHANGE = (b'{"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07","time":"",'
                b'"mdate":"","mtime":"","size":"0","changetype":""}]}')


def listing_of(mib, extension):
    """A listing of about mib MiB: files in folders of 1,000."""
    parts, size, i = [], 0, 0
    while size < mib << 20:
        entry = '"filepath":"/folder%04d/document-%07d%s","size":"%d","mdate":"2024-03-07","mtime":"14.05.09"' % (
            i // 1000, i, extension, 1000 + i % 5000)
        parts.append(entry)
        size += len(entry) + 1
        i += 1
    return ('{"content":[{' + ",".join(parts) + "}]}").encode(), i


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        part = sock.recv(n - len(data))
        if not part:
            raise ConnectionError("closed by the server")
        data += part
    return data


def status_mb(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0.0


def peak_rss_mb(pid):
    return status_mb(pid, "VmHWM")


def measure(kqsyncd, mib, extension, what):
    root = tempfile.mkdtemp(prefix="kq-bench-listing-")
    data = os.path.join(root, "data")
    subprocess.run([kqsyncd, "--data", data, "account", "add", "--contract", "4343", "--key", "BENCHKEY"],
                   check=True, stdout=subprocess.DEVNULL)
    body, entries = listing_of(mib, extension)
    log = open(os.path.join(root, "kqsyncd.log"), "wb")
    server = subprocess.Popen([kqsyncd, "--data", data, "serve", "--listen", "127.0.0.1:%d" % PORT, "--timeout", "120",
                               "--max-listing", str(mib + 1)], stdout=log, stderr=log)
    try:
        for _ in range(100):
            try:
                sock = socket.create_connection(("127.0.0.1", PORT))
                break
            except OSError:
                time.sleep(0.1)
        idle_mb = peak_rss_mb(server.pid)
        sock.sendall(b"KQFILESYNC14343BENCHKEY")
        started = time.time()
        while True:
            raw = read_exact(sock, 17)
            kind, rid = raw[:5].decode(), raw[5:9]
            read_exact(sock, struct.unpack(">Q", raw[9:])[0])
            if kind == "RQCHG":
                sock.sendall(b"ANCHG" + rid + struct.pack(">Q", len(EMPTY_CHANGE)) + EMPTY_CHANGE)
            elif kind == "RQLST":
                sock.sendall(b"ANLST" + rid + struct.pack(">Q", len(body)) + body)
            elif kind in ("RQFIL", "RQFLS"):
                break
        seconds = time.time() - started
        peak = peak_rss_mb(server.pid)
        planning = status_mb(server.pid, "VmRSS")
        sock.close()
    finally:
        server.terminate()
        server.wait()
        log.close()
        shutil.rmtree(root, ignore_errors=True)
    size_mb = len(body) / 1e6
    target = 2 * size_mb + 64 * 1.048576
    print("listing %3d MiB of %s (%d entries): peak RSS of kqsyncd %.0f MB (idle %.0f MB, at the first action "
          "%.0f MB, target %.0f MB, %s), read and planned in %.1f s"
          % (mib, what, entries, peak * 1.048576, idle_mb * 1.048576, planning * 1.048576, target,
             "met" if peak * 1.048576 <= target else "MISSED", seconds))


def main():
    if os.environ.get("KQ_BENCH_NETNS") != "1":
        os.environ["KQ_BENCH_NETNS"] = "1"
        os.execvp("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0" "$@"',
                              sys.executable] + sys.argv)
    kqsyncd = os.path.abspath(sys.argv[1])
    for mib in [int(a) for a in sys.argv[2:]] or [16, 64]:
        measure(kqsyncd, mib, ".txt", "new files")
        measure(kqsyncd, mib, ".tmp", "temporary names")


if __name__ == "__main__":
    main()
