#!/usr/bin/env python3
"""A peer that floods the line: zorvidctl's peak memory and time against it.

A loopback TCP server sends random bytes without end; `zorvidctl -t 5000 get temperature`
talks to it. Prints the exit status, the time taken and the peak resident memory, and fails
(exit 1) when the memory passes 50 MB or the run lasts well past the time asked.

Usage: bench/flood_memory.py [path/to/zorvidctl] [timeout-ms]
"""

import os
import resource
import socket
import subprocess
import sys
import threading
import time

PEAK_LIMIT_MB = 50
SLACK_S = 0.5  # what the run may take beyond its time-out: start-up and exit


def flood(server: socket.socket, stop: threading.Event) -> None:
    chunk = os.urandom(1 << 16)
    while not stop.is_set():
        try:
            server.settimeout(0.2)
            connection, _ = server.accept()
        except socket.timeout:
            continue
        with connection:
            try:
                while not stop.is_set():
                    connection.sendall(chunk)
            except OSError:
                pass  # the client went


def main() -> int:
    ctl = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/ctl/zorvidctl"
    timeout_ms = int(sys.argv[2]) if len(sys.argv) > 2 else 5000
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    port = server.getsockname()[1]
    stop = threading.Event()
    flooder = threading.Thread(target=flood, args=(server, stop), daemon=True)
    flooder.start()

    connection = f"provider=TCP_CLIENT;host=127.0.0.1;port={port}"
    start = time.monotonic()
    run = subprocess.run([ctl, "-c", connection, "-t", str(timeout_ms), "get", "temperature"],
                         capture_output=True, text=True, check=False)
    elapsed = time.monotonic() - start
    stop.set()
    flooder.join()
    server.close()

    peak_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
    print(f"exit status {run.returncode}: {run.stderr.strip()[:200]}")
    print(f"time {elapsed:.2f} s for a time-out of {timeout_ms} ms")
    print(f"peak memory {peak_mb:.1f} MB (limit {PEAK_LIMIT_MB} MB)")
    if peak_mb >= PEAK_LIMIT_MB or elapsed > timeout_ms / 1000 + SLACK_S:
        print("FAILED: the flood costs more than the limits allow")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
