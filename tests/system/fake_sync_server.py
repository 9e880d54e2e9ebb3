#!/usr/bin/env python3
"""fake_sync_server.py: a scripted sync server for the Windows client's system
test. It accepts the client, checks the init text, waits for the file GO to
appear, then plays one synchronisation round: a change request, a pushed file,
a listing, a deletion and the end of the cycle. Every answer is checked; the
outcome goes to RESULT as JSON (exit code 0 when everything held)."""
import argparse
import json
import os
import socket
import struct
import sys
import time

HEADER = 17


def header(kind, request_id, length=0):
    return kind.encode() + request_id + struct.pack(">Q", length)


class Peer:
    def __init__(self, conn):
        self.conn = conn
        self.conn.settimeout(15)
        self.buffer = b""

    def read_exact(self, n):
        while len(self.buffer) < n:
            chunk = self.conn.recv(1 << 20)
            if not chunk:
                raise EOFError(f"connection closed while waiting for {n} bytes")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def answer(self):
        """One answer packet: (type, request id, payload)."""
        head = self.read_exact(HEADER)
        kind, rid = head[:5].decode("ascii", "replace"), head[5:9]
        length = struct.unpack(">Q", head[9:17])[0]
        payload = self.read_exact(length) if kind in ("ANCHG", "ANLST", "ANFIL", "ANLOG") else b""
        return kind, rid, payload

    def request(self, kind, rid, body):
        self.conn.sendall(header(kind, rid) + body.encode())


def write_result(path, result):
    with open(path + ".tmp", "w") as f:
        json.dump(result, f, indent=1)
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--init", required=True, help="the expected init text")
    parser.add_argument("--go", required=True, help="file whose appearance starts the round")
    parser.add_argument("--pushed", required=True, help="content of the pushed file")
    parser.add_argument("--result", required=True)
    args = parser.parse_args()

    result = {"steps": [], "failures": []}

    def check(name, ok, detail=""):
        result["steps"].append({"step": name, "ok": bool(ok), "detail": detail})
        if not ok:
            result["failures"].append(f"{name}: {detail}")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(1)
    listener.settimeout(120)
    try:
        conn, _ = listener.accept()
        peer = Peer(conn)
        init = peer.read_exact(len(args.init))
        check("init text", init == args.init.encode(), repr(init))
        deadline = time.time() + 120
        while not os.path.exists(args.go):
            if time.time() > deadline:
                raise TimeoutError("the round was never started")
            time.sleep(0.1)

        rid = b"\x01\x02\x03\x04"
        peer.request("RQCHG", rid, '{"date":"2024-03-07","time":"14:05:09","filesleft":"3","mbytesleft":"1"}')
        kind, got, payload = peer.answer()
        report = payload.decode("ascii", "replace")
        check("change report", kind == "ANCHG" and got == rid, f"{kind} {got.hex()} {report}")
        result["anchg"] = report

        data = args.pushed.encode()
        rid = b"\x05\x06\x07\x08"
        peer.request("RQPUT", rid, '{"filepath":"\\/docs\\/pushed.txt"}')
        kind, got, _ = peer.answer()
        check("pushed file announced", kind == "ANPUT" and got == rid, f"{kind} {got.hex()}")
        rid = b"\x09\x0a\x0b\x0c"
        peer.conn.sendall(header("RQFDA", rid, len(data)) + data)
        kind, got, _ = peer.answer()
        check("pushed file data", kind == "ANFDA" and got == rid, f"{kind} {got.hex()}")

        rid = b"\x0d\x0e\x0f\x10"
        peer.request("RQLST", rid, '{"filepath":"\\/"}')
        kind, got, payload = peer.answer()
        listing = payload.decode("ascii", "replace")
        check("listing", kind == "ANLST" and got == rid, f"{kind} {got.hex()} {listing}")
        result["anlst"] = listing

        rid = b"\x0d\x0e\x0f\x11"
        peer.request("RQLST", rid, '{"filepath":"\\/docs"}')
        kind, got, payload = peer.answer()
        listing = payload.decode("ascii", "replace")
        check("subfolder listing", kind == "ANLST" and got == rid, f"{kind} {got.hex()} {listing}")
        result["anlst_docs"] = listing

        rid = b"\x11\x12\x13\x14"
        peer.request("RQDEL", rid, '{"filepath":"\\/docs\\/b.txt"}')
        kind, got, _ = peer.answer()
        check("deletion", kind == "ANDEL" and got == rid, f"{kind} {got.hex()}")

        peer.request("RQFLS", b"\x15\x16\x17\x18", '{"date":"2024-03-07","time":"14:05:10"}')
        time.sleep(1.0)  # RQFLS has no answer; the client must stay connected
        conn.setblocking(False)
        try:
            extra = conn.recv(100)
            check("end of cycle", extra != b"", f"unexpected bytes or close: {extra!r}")
        except BlockingIOError:
            check("end of cycle", True)
        write_result(args.result, result)
        # Keep the link up until the test is over.
        conn.setblocking(True)
        conn.settimeout(None)
        try:
            while conn.recv(65536):
                pass
        except OSError:
            pass
    except Exception as error:  # noqa: BLE001 - every failure goes to the result
        result["failures"].append(f"{type(error).__name__}: {error}")
    write_result(args.result, result)
    return 0 if not result["failures"] else 1


if __name__ == "__main__":
    sys.exit(main())
