#!/usr/bin/env python3
"""How often zorvidctl gets through to a display that loses answers, with and without --retries.

For each number of retries (0 and 2 by default) starts zorvid-sim on a loopback TCP port with
--drop 0.3, runs `zorvidctl --retries N ident` 100 times against it (each run connects anew and
reads the identification), and prints how many runs succeeded, how the others ended, the time
taken and the share a display losing answers at that rate should allow, 1 - DROP^(N+1). Every
lost answer costs the time-out (1000 ms, as against a real display), so the default run takes
about a minute and a half.

Usage: bench/connect_retries.py [--ctl PATH] [--sim PATH] [--runs N] [--drop P] [--seed S]
                                [--timeout-ms MS] [--retries N ...]
"""

import argparse
import collections
import subprocess
import sys
import time


def start_simulator(sim: str, drop: float, seed) -> tuple:
    """zorvid-sim on a port it picks itself, and the connection string that reaches it."""
    args = [sim, "--tcp", "127.0.0.1:0", "--drop", str(drop)]
    if seed is not None:
        args += ["--seed", str(seed)]
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = process.stdout.readline()
    if not line.startswith("TCP "):
        process.kill()
        process.wait()
        sys.exit(f"zorvid-sim named no TCP port: {line.strip()!r}")
    port = line.strip().rsplit(":", 1)[1]
    return process, f"provider=TCP_CLIENT;host=127.0.0.1;port={port}"


def run_connects(ctl: str, connection: str, retries: int, runs: int, timeout_ms: int) -> dict:
    """Exit status of each run, counted, and the time all runs took."""
    statuses = collections.Counter()
    start = time.monotonic()
    for _ in range(runs):
        done = subprocess.run([ctl, "-c", connection, "-t", str(timeout_ms),
                               "--retries", str(retries), "ident"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        statuses[done.returncode] += 1
    return {"statuses": statuses, "seconds": time.monotonic() - start}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--ctl", default="build/default/tools/ctl/zorvidctl")
    parser.add_argument("--sim", default="build/default/tools/sim/zorvid-sim")
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--drop", type=float, default=0.3)
    parser.add_argument("--seed", type=int, default=None,
                        help="the simulator's seed for each count; none: a new one each time")
    parser.add_argument("--timeout-ms", type=int, default=1000)
    parser.add_argument("--retries", type=int, nargs="+", default=[0, 2])
    options = parser.parse_args()

    print(f"{options.runs} connects (zorvidctl ident) against zorvid-sim --drop {options.drop}"
          f"{'' if options.seed is None else f' --seed {options.seed}'},"
          f" time-out {options.timeout_ms} ms")
    for retries in options.retries:
        simulator, connection = start_simulator(options.sim, options.drop, options.seed)
        try:
            result = run_connects(options.ctl, connection, retries, options.runs,
                                  options.timeout_ms)
        finally:
            simulator.terminate()
            simulator.wait()
        statuses = result["statuses"]
        others = ", ".join(f"{count} with exit {status}"
                           for status, count in sorted(statuses.items()) if status != 0)
        expected = options.runs * (1 - options.drop ** (retries + 1))
        print(f"--retries {retries}: {statuses[0]} of {options.runs} succeeded"
              f"{' (' + others + ')' if others else ''}; expected about {expected:.1f};"
              f" {result['seconds']:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
