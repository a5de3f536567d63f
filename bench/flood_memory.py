#!/usr/bin/env python3
"""zorvidctl's memory while one blocking request waits on a busy line.

Two runs, one request each (`zorvidctl -t TIMEOUT get text`, 60 s by default):
  unsolicited  zorvid-sim --unsolicited 1 --silent 0x80: a packet a millisecond, never the answer
  flood        a loopback peer that sends random bytes without end
Prints for each run the exit status, what zorvidctl said, the time taken, the resident memory
once connected and at the end, and the peak; fails (exit 1) when a peak reaches 30 MB or a run
lasts well past its time-out.

Usage: bench/flood_memory.py [--ctl PATH] [--sim PATH] [--timeout-ms MS] [--only unsolicited|flood]
"""

import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

PEAK_LIMIT_MB = 30
SLACK_S = 1.0  # what a run may take beyond its time-out: start-up, identification and exit


def flood(server: socket.socket, stop: threading.Event) -> None:
    chunk = os.urandom(1 << 16)
    server.settimeout(0.2)
    while not stop.is_set():
        try:
            connection, _ = server.accept()
        except socket.timeout:
            continue
        with connection:
            try:
                while not stop.is_set():
                    connection.sendall(chunk)
            except OSError:
                pass  # the client went


def resident_mb(pid: int) -> float:
    try:
        with open(f"/proc/{pid}/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def run_ctl(ctl: str, connection: str, timeout_ms: int) -> dict:
    """Runs one request; its own peak memory comes from wait4, not from the other children."""
    with tempfile.TemporaryFile() as err:
        start = time.monotonic()
        process = subprocess.Popen([ctl, "-c", connection, "-t", str(timeout_ms), "get", "text"],
                                   stdout=subprocess.DEVNULL, stderr=err)
        samples = []
        waited = (0, 0, None)
        while waited[0] == 0:
            time.sleep(0.5)
            samples.append(resident_mb(process.pid))
            waited = os.wait4(process.pid, os.WNOHANG)
        process.returncode = os.waitstatus_to_exitcode(waited[1])  # reaped here, not by Popen
        elapsed = time.monotonic() - start
        err.seek(0)
        said = err.read().decode(errors="replace").strip()
    samples = [s for s in samples if s > 0]
    return {
        "status": process.returncode,
        "said": said[:300],
        "seconds": elapsed,
        "early_mb": samples[min(4, len(samples) - 1)] if samples else 0.0,
        "late_mb": samples[-1] if samples else 0.0,
        "peak_mb": waited[2].ru_maxrss / 1024,
    }


def under_unsolicited_stream(ctl: str, sim: str, timeout_ms: int) -> dict:
    simulator = subprocess.Popen([sim, "--tcp", "127.0.0.1:0", "--unsolicited", "1", "--silent",
                                  "0x80"], stdout=subprocess.PIPE, text=True)
    try:
        line = simulator.stdout.readline()
        if not line.startswith("TCP "):
            raise RuntimeError(f"zorvid-sim announced no TCP port: {line!r}")
        port = int(line.rsplit(":", 1)[1])
        return run_ctl(ctl, f"provider=TCP_CLIENT;host=127.0.0.1;port={port}", timeout_ms)
    finally:
        simulator.terminate()
        simulator.wait()


def under_random_flood(ctl: str, _sim: str, timeout_ms: int) -> dict:
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    stop = threading.Event()
    flooder = threading.Thread(target=flood, args=(server, stop), daemon=True)
    flooder.start()
    try:
        port = server.getsockname()[1]
        return run_ctl(ctl, f"provider=TCP_CLIENT;host=127.0.0.1;port={port}", timeout_ms)
    finally:
        stop.set()
        flooder.join()
        server.close()


RUNS = {"unsolicited": under_unsolicited_stream, "flood": under_random_flood}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--ctl", default="build/default/tools/ctl/zorvidctl")
    parser.add_argument("--sim", default="build/default/tools/sim/zorvid-sim")
    parser.add_argument("--timeout-ms", type=int, default=60000)
    parser.add_argument("--only", choices=sorted(RUNS))
    options = parser.parse_args()

    failed = False
    for name, run in RUNS.items():
        if options.only and name != options.only:
            continue
        result = run(options.ctl, options.sim, options.timeout_ms)
        too_long = result["seconds"] > options.timeout_ms / 1000 + SLACK_S
        too_big = result["peak_mb"] >= PEAK_LIMIT_MB
        failed = failed or too_long or too_big
        print(f"{name}: exit status {result['status']}: {result['said']}")
        print(f"{name}: {result['seconds']:.1f} s for a time-out of {options.timeout_ms} ms")
        print(f"{name}: resident {result['early_mb']:.1f} MB after 2.5 s, "
              f"{result['late_mb']:.1f} MB at the end, peak {result['peak_mb']:.1f} MB "
              f"(limit {PEAK_LIMIT_MB} MB)")
        if too_long or too_big:
            print(f"{name}: FAILED: the busy line costs more than the limits allow")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
