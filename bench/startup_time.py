#!/usr/bin/env python3
"""Start-up time of zorvid-l: from process start to the main window shown, whole process,
offscreen. Runs `zorvid-l --exit-when-shown` ten times and prints each time and the median;
fails (exit 1) when the median passes 300 ms.

Usage: bench/startup_time.py [path/to/zorvid-l]
"""

import os
import statistics
import subprocess
import sys
import time

LIMIT_MS = 300
RUNS = 10


def main() -> int:
    program = sys.argv[1] if len(sys.argv) > 1 else "build/default/app/zorvid-l"
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    times = []
    for _ in range(RUNS):
        start = time.monotonic()
        subprocess.run([program, "--exit-when-shown"], env=environment, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.monotonic() - start) * 1000)
    median = statistics.median(times)
    print("runs (ms): " + " ".join(f"{t:.0f}" for t in times))
    print(f"median {median:.0f} ms (limit {LIMIT_MS} ms)")
    return 0 if median <= LIMIT_MS else 1


if __name__ == "__main__":
    sys.exit(main())
