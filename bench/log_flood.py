#!/usr/bin/env python3
"""The memory of zorvid-l with the communication log open under a flood of packets.

zorvid-sim sends an unsolicited packet every millisecond (--unsolicited 1) on loopback TCP;
zorvid-l runs offscreen, connected to it (--connect) with the log window shown at start and its
line limit at the default of 100 000. The resident memory is sampled every few seconds. The log
gains about a thousand lines a second, so it reaches its limit within the first two minutes;
from then on the memory must stay flat. Prints the memory at the start, when the limit was
reached and at the end, and the growth after the limit.

Fails (exit 1) when the memory grows by more than 10 MB from the limit to the end, and (exit 2)
when the run cannot be measured (no simulator, a program that ends early).

Usage: bench/log_flood.py [--program PATH] [--sim PATH] [--seconds N]
"""

import argparse
import subprocess
import sys
import time

from ui_stall import Unmeasurable, program_environment, stop

GROWTH_LIMIT_MB = 10
SAMPLE_S = 5
LIMIT_REACHED_S = 120  # 100 000 lines at about a thousand a second, and some margin


def resident_mb(pid: int) -> float:
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise Unmeasurable(f"/proc/{pid}/status has no VmRSS line")


def start_simulator(sim: str) -> tuple[subprocess.Popen, str]:
    try:
        process = subprocess.Popen([sim, "--tcp", "127.0.0.1:0", "--unsolicited", "1"],
                                   stdout=subprocess.PIPE, text=True)
    except OSError as error:
        raise Unmeasurable(f"cannot start {sim}: {error.strerror}") from error
    line = process.stdout.readline()
    if not line.startswith("TCP "):
        stop(process)
        raise Unmeasurable(f"zorvid-sim announced no TCP port: {line!r}")
    return process, f"provider=TCP_CLIENT;host=127.0.0.1;port={int(line.rsplit(':', 1)[1])}"


def sample(program: str, connection: str, seconds: float) -> list[tuple[float, float]]:
    environment = program_environment(QT_QPA_PLATFORM="offscreen")
    try:
        process = subprocess.Popen([program, "--connect", connection, "--show-log"],
                                   env=environment, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
    except OSError as error:
        raise Unmeasurable(f"cannot start {program}: {error.strerror}") from error
    samples = []
    start = time.monotonic()
    try:
        while (elapsed := time.monotonic() - start) < seconds:
            if process.poll() is not None:
                raise Unmeasurable(f"{program} ended after {elapsed:.0f} s with exit status "
                                   f"{process.returncode}")
            samples.append((elapsed, resident_mb(process.pid)))
            time.sleep(SAMPLE_S)
    finally:
        stop(process)
    return samples


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--program", default="build/default/app/zorvid-l")
    parser.add_argument("--sim", default="build/default/tools/sim/zorvid-sim")
    parser.add_argument("--seconds", type=float, default=600.0)
    options = parser.parse_args()
    if options.seconds <= LIMIT_REACHED_S + SAMPLE_S:
        parser.error(f"--seconds: {options.seconds:g} leaves no time after the limit is reached "
                     f"(about {LIMIT_REACHED_S} s)")
    try:
        simulator, connection = start_simulator(options.sim)
        try:
            samples = sample(options.program, connection, options.seconds)
        finally:
            stop(simulator)
    except Unmeasurable as error:
        print(f"log_flood: {error}", file=sys.stderr)
        return 2
    first = samples[1] if len(samples) > 1 else samples[0]  # once connected and shown
    at_limit = next(s for s in samples if s[0] >= LIMIT_REACHED_S)
    last = samples[-1]
    after_limit = [mb for t, mb in samples if t >= LIMIT_REACHED_S]
    growth = last[1] - at_limit[1]
    print(f"start      {first[1]:7.1f} MB at {first[0]:5.0f} s")
    print(f"at limit   {at_limit[1]:7.1f} MB at {at_limit[0]:5.0f} s")
    print(f"end        {last[1]:7.1f} MB at {last[0]:5.0f} s")
    print(f"after the limit: {min(after_limit):.1f} .. {max(after_limit):.1f} MB, "
          f"growth {growth:+.1f} MB (limit {GROWTH_LIMIT_MB} MB)")
    return 0 if growth <= GROWTH_LIMIT_MB else 1


if __name__ == "__main__":
    sys.exit(main())
