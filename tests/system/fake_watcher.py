#!/usr/bin/env python3
"""fake_watcher.py: stands in for the watcher service on 127.0.0.1:11111. Each
file that appears in OUTBOX (sorted by name) is sent, byte for byte, as one
message to the connected client and then removed."""
import os
import socket
import sys
import time


def main():
    outbox = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 11111
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(4)
    conn, _ = listener.accept()
    while True:
        names = sorted(n for n in os.listdir(outbox) if not n.startswith("."))
        for name in names:
            path = os.path.join(outbox, name)
            with open(path, "rb") as f:
                message = f.read()
            conn.sendall(message)
            os.remove(path)
            time.sleep(0.3)  # one message per read
        time.sleep(0.1)


if __name__ == "__main__":
    main()
