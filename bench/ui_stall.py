#!/usr/bin/env python3
"""How long the user-interface thread of zorvid-l is held while it polls a display that does not
answer the poll.

zorvid-sim listens on loopback TCP and answers the identification, so the connect succeeds, but
never the poll's segment read (0x81) or temperature (0x51). zorvid-l runs under its own Xvfb
with `--connect` to it and `--heartbeat-log`, whose 20 ms timer on the user-interface thread logs
the milliseconds since start. After the run the gaps between two logged ticks are the thread's
stalls: prints the longest and the 95th percentile beside the nominal 20 ms, the number of ticks
and how much of the run went in stalls over the limit. The first second (the window's first
paint, the connect) is reported apart and not held against the limit. With --answering the same
follows against a simulator that answers everything. The machine's load is printed too: on a
busy machine the X server and the program wait for a processor, which shows as stalls of 100 ms
and more even in an idle window.

Fails (exit 1) when a longest or 95th-percentile stall passes 50 ms, and (exit 2) when a run
cannot be measured: no Xvfb, no simulator, a program that ends early, logs nothing or never
polls.

Usage: bench/ui_stall.py [--program PATH] [--sim PATH] [--seconds N] [--answering]
"""

import argparse
import atexit
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

LIMIT_MS = 50
NOMINAL_MS = 20  # the heartbeat's interval
START_UP_MS = 1000  # from the first tick: showing the window and connecting
POLL_INSTRUCTIONS = ("0x81", "0x51")  # segment read, temperature
SEGMENT_READ = 0x81
INSTRUCTION_BYTE = 6  # '*' 'a' LEN_HI LEN_LO ADR SIG INST ...


class Unmeasurable(Exception):
    """A run that gives no figures; the text says what failed."""


def stop(process: subprocess.Popen, grace_s: float = 3.0) -> None:
    """Ends a child by its pid: SIGTERM, then SIGKILL when it is still there after `grace_s`."""
    if process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(grace_s)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Simulator:
    """zorvid-sim on a loopback port it picks; counts the requests it hears by instruction."""

    def __init__(self, sim: str, silent: bool) -> None:
        args = [sim, "--tcp", "127.0.0.1:0", "--log"]
        for instruction in POLL_INSTRUCTIONS if silent else ():
            args += ["--silent", instruction]
        try:
            self.process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        except OSError as error:
            raise Unmeasurable(f"cannot start {sim}: {error.strerror}") from error
        line = self.process.stdout.readline()
        if not line.startswith("TCP "):
            stop(self.process)
            raise Unmeasurable(f"zorvid-sim announced no TCP port: {line!r}")
        port = int(line.rsplit(":", 1)[1])
        self.connection = f"provider=TCP_CLIENT;host=127.0.0.1;port={port}"
        self.requests: dict[int, int] = {}
        self.reader = threading.Thread(target=self._count_requests, daemon=True)
        self.reader.start()

    def _count_requests(self) -> None:
        for line in self.process.stdout:
            fields = line.split()
            if len(fields) > INSTRUCTION_BYTE + 1 and fields[0] == "<":
                instruction = int(fields[1 + INSTRUCTION_BYTE], 16)
                self.requests[instruction] = self.requests.get(instruction, 0) + 1

    def close(self) -> None:
        stop(self.process)
        self.reader.join()


class Xvfb:
    """An X server of its own on the first free display number, which it reports itself."""

    def __init__(self) -> None:
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten",
                 "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        except OSError as error:
            raise Unmeasurable(f"cannot start Xvfb: {error.strerror} (scripts/setup installs it)") \
                from error
        finally:
            os.close(write_end)
        with os.fdopen(read_end) as reported:
            number = reported.readline().strip()
        if not number.isdigit():
            stop(self.process)
            raise Unmeasurable(f"Xvfb reported no display number (exit status "
                               f"{self.process.poll()})")
        self.display = f":{number}"

    def close(self) -> None:
        stop(self.process)


def percentile(values: list[int], fraction: float) -> int:
    """The nearest-rank percentile of `values`."""
    ordered = sorted(values)
    return ordered[max(1, math.ceil(fraction * len(ordered))) - 1]


def read_ticks(path: str) -> list[int]:
    """The logged times; a last line without its line break, cut by the end, is left out."""
    with open(path, encoding="ascii") as log:
        return [int(line) for line in log if line.endswith("\n")]


def program_environment(**settings: str) -> dict:
    """The environment zorvid-l runs in: the user's list of recent connections is left alone."""
    config_home = tempfile.mkdtemp(prefix="zorvid-bench-")
    atexit.register(shutil.rmtree, config_home, ignore_errors=True)
    return dict(os.environ, XDG_CONFIG_HOME=config_home, **settings)


def run_program(program: str, display: str, connection: str, seconds: float, log: str) -> str:
    """Runs zorvid-l for `seconds` and ends it; returns what it said on its error output."""
    environment = program_environment(DISPLAY=display, QT_QPA_PLATFORM="xcb")
    with tempfile.TemporaryFile() as err:
        try:
            process = subprocess.Popen([program, "--connect", connection, "--heartbeat-log", log],
                                       env=environment, stdout=subprocess.DEVNULL, stderr=err)
        except OSError as error:
            raise Unmeasurable(f"cannot start {program}: {error.strerror}") from error
        try:
            process.wait(seconds)
            ended = True
        except subprocess.TimeoutExpired:
            ended = False
        stop(process)
        err.seek(0)
        said = err.read().decode(errors="replace").strip()
    if ended:
        raise Unmeasurable(f"{program} ended after less than {seconds:g} s with exit status "
                           f"{process.returncode}: {said or '(it said nothing)'}")
    return said


def measure(options: argparse.Namespace, silent: bool) -> dict:
    xvfb = Xvfb()
    try:
        simulator = Simulator(options.sim, silent)
        try:
            with tempfile.TemporaryDirectory() as directory:
                log = os.path.join(directory, "heartbeat.log")
                said = run_program(options.program, xvfb.display, simulator.connection,
                                   options.seconds, log)
                ticks = read_ticks(log) if os.path.exists(log) else []
        finally:
            simulator.close()
    finally:
        xvfb.close()
    if len(ticks) < 2:
        raise Unmeasurable(f"zorvid-l logged {len(ticks)} heartbeat ticks in {options.seconds:g} s"
                           f"{': ' + said if said else ''}")
    if simulator.requests.get(SEGMENT_READ, 0) == 0:
        raise Unmeasurable(f"zorvid-l never polled the simulator (requests heard by instruction: "
                           f"{simulator.requests or 'none'}){': ' + said if said else ''}")
    return dict(stalls(ticks), polls=simulator.requests[SEGMENT_READ])


def stalls(ticks: list[int]) -> dict:
    """The gaps between ticks: those of the start-up apart, then the rest."""
    start_up_end = ticks[0] + START_UP_MS
    start_up = [b - a for a, b in zip(ticks, ticks[1:]) if b <= start_up_end]
    gaps = [b - a for a, b in zip(ticks, ticks[1:]) if b > start_up_end]
    if not gaps:
        raise Unmeasurable(f"no tick after the first {START_UP_MS} ms: the user-interface thread "
                           f"was held from {ticks[-1]} ms on, to the end; a longer --seconds "
                           f"measures more")
    return {"ticks": len(ticks), "start_up_longest": max(start_up, default=0), "longest": max(gaps),
            "p95": percentile(gaps, 0.95), "over_limit_ms": sum(g for g in gaps if g > LIMIT_MS),
            "measured_ms": ticks[-1] - ticks[len(start_up)]}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--program", default="build/default/app/zorvid-l")
    parser.add_argument("--sim", default="build/default/tools/sim/zorvid-sim")
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--answering", action="store_true",
                        help="also measure against a simulator that answers the poll")
    options = parser.parse_args()
    if options.seconds <= 0:
        parser.error(f"--seconds: {options.seconds:g} is not a positive duration")

    runs = {"silent": True}
    if options.answering:
        runs["answering"] = False
    failed = False
    for name, silent in runs.items():
        load = os.getloadavg()[0]
        try:
            result = measure(options, silent)
        except Unmeasurable as error:
            print(f"{name}: cannot measure: {error}", file=sys.stderr)
            return 2
        over = result["longest"] > LIMIT_MS or result["p95"] > LIMIT_MS
        failed = failed or over
        print(f"{name}: {result['ticks']} ticks in {options.seconds:g} s "
              f"({result['polls']} segment reads), nominal {NOMINAL_MS} ms apart; load average "
              f"{load:.1f} before, {os.getloadavg()[0]:.1f} after, on {os.cpu_count()} cores")
        print(f"{name}: start-up (first {START_UP_MS} ms): longest stall "
              f"{result['start_up_longest']} ms")
        print(f"{name}: user-interface thread stall after it: longest {result['longest']} ms, "
              f"95th percentile {result['p95']} ms (limit {LIMIT_MS} ms); time in stalls over the "
              f"limit: {result['over_limit_ms']} of {result['measured_ms']} ms")
        if over:
            print(f"{name}: FAILED: the user-interface thread is held longer than the limit")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
