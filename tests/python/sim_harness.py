"""Drives the simulated robot controller (quiral_sim) from Python tests.

    sim = SimProcess([first_sn, second_sn], ["--initial-state", "ready"])
    sim.set(first_sn, {"estop": True})
    assert sim.wait_for_state(first_sn, lambda s: not s["operational"], 2.0)
    items = sim.requests(first_sn, since=total, procedure_id=7)
    sim.quit()

The simulator runs as a child process with its JSON-lines control channel
on standard input and output (sim/README.md). Every wait has a deadline.
A simulator never outlives its test process: `quit` (also reached through
`with`, and for every simulator still running when the interpreter exits)
ends it and kills it when it does not end in time, and a simulator whose
parent dies sees its standard input close and ends by itself.

The simulator's path comes from the environment variable QUIRAL_SIM (CTest
sets it). Tests run in a private network namespace, so the simulator and
the code under test use the loopback whitelist "127.0.0.1".
"""

import atexit
import itertools
import json
import os
import queue
import subprocess
import threading
import time

WHITELIST = "127.0.0.1"

_serial_counter = itertools.count(1)
_running = set()
_running_lock = threading.Lock()


class SimError(RuntimeError):
    """The simulator did not start, did not answer in time, died, or
    refused a command."""


def unique_serial(model="Varno4"):
    """A serial number of the given robot model that no other test process
    uses."""
    return "%s-P%dx%d" % (model, os.getpid(), next(_serial_counter))


def wait_until(predicate, timeout, period=0.01):
    """Polls `predicate` until it returns a true value or `timeout` seconds
    have passed; returns whether it did."""
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(period)


def sim_path():
    path = os.environ.get("QUIRAL_SIM", "")
    if not path or not os.access(path, os.X_OK):
        raise SimError("QUIRAL_SIM must name the quiral_sim executable (is %r)" % path)
    return path


class SimProcess:
    """One quiral_sim process running one controller per serial number."""

    def __init__(self, serials, args=(), ready_timeout=30.0, path=None):
        self.serials = list(serials)
        command = [path or sim_path()]
        for serial in self.serials:
            command += ["--serial", serial]
        command += ["--whitelist", WHITELIST] + list(args)
        self._proc = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1
        )
        with _running_lock:
            _running.add(self)
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, name="sim-stdout", daemon=True)
        self._reader.start()
        self._lock = threading.Lock()
        self._next_id = 1
        try:
            ready = self._next_message(time.monotonic() + ready_timeout, "the ready line")
            if ready.get("event") != "ready" or ready.get("serials") != self.serials:
                raise SimError("unexpected first line from the simulator: %r" % ready)
        except BaseException:
            self.kill()
            raise

    # -------------------------------------------------------------- process

    def _read(self):
        for line in self._proc.stdout:
            self._lines.put(line)
        self._lines.put(None)

    def _next_message(self, deadline, what):
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise SimError("no %s from the simulator in time" % what)
            try:
                line = self._lines.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                raise SimError(
                    "the simulator ended (status %r) while waiting for %s"
                    % (self._proc.poll(), what)
                )
            line = line.strip()
            if line:
                return json.loads(line)

    @property
    def pid(self):
        return self._proc.pid

    def running(self):
        return self._proc.poll() is None

    def kill(self):
        """Kills the process at once and reaps it."""
        if self._proc.poll() is None:
            self._proc.kill()
        self._proc.wait()
        self._forget()

    def quit(self, timeout=5.0):
        """Asks the simulator to quit and waits for its end; kills it when it
        does not end within `timeout` seconds. Safe to call more than once."""
        if self._proc.poll() is None:
            try:
                self.try_command("quit", timeout=timeout)
            except SimError:
                pass
            try:
                self._proc.stdin.close()
            except OSError:
                pass
            try:
                self._proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        self._forget()

    def _forget(self):
        with _running_lock:
            _running.discard(self)
        for stream in (self._proc.stdin, self._proc.stdout):
            try:
                stream.close()
            except (OSError, ValueError):
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.quit()

    # ------------------------------------------------------------- commands

    def try_command(self, cmd, serial=None, timeout=10.0, **args):
        """Sends one command and returns its reply, also one with "ok" false;
        raises SimError on a time-out or a dead process."""
        with self._lock:
            command_id = self._next_id
            self._next_id += 1
            message = {"id": command_id, "cmd": cmd}
            if serial is not None:
                message["serial"] = serial
            message.update(args)
            try:
                self._proc.stdin.write(json.dumps(message) + "\n")
                self._proc.stdin.flush()
            except (OSError, ValueError) as error:
                raise SimError("cannot send %r to the simulator: %s" % (cmd, error))
            deadline = time.monotonic() + timeout
            while True:
                reply = self._next_message(deadline, "reply to %r" % cmd)
                if reply.get("id") == command_id:
                    return reply
                # A late reply to an earlier command that timed out.

    def command(self, cmd, serial=None, timeout=10.0, **args):
        """Sends one command and returns its reply; raises SimError when the
        simulator refuses it."""
        reply = self.try_command(cmd, serial, timeout, **args)
        if not reply.get("ok"):
            raise SimError("%s refused: %s" % (cmd, reply.get("error")))
        return reply

    def state(self, serial):
        return self.command("state", serial)

    def set(self, serial, fields):
        return self.command("set", serial, **fields)

    def fault(self, serial, **rule):
        return self.command("fault", serial, **rule)

    def clear_faults(self, serial, service=None):
        args = {} if service is None else {"service": service}
        return self.command("clear_faults", serial, **args)

    def requests(self, serial, since=0, procedure_id=None):
        """Operations requests recorded from index `since` on (optionally of
        one procedure)."""
        args = {"since": since}
        if procedure_id is not None:
            args["procedure_id"] = procedure_id
        return self.command("requests", serial, **args)["items"]

    def request_total(self, serial):
        """Number of operations requests recorded so far."""
        return self.command("requests", serial, since=0, limit=1)["total"]

    def motion_commands(self, serial, since=0):
        return self.command("motion_commands", serial, since=since)["items"]

    def motion_total(self, serial):
        return len(self.command("motion_commands", serial, compact=True)["seqs"])

    def wait_for_state(self, serial, predicate, timeout):
        """Polls the controller's state until `predicate(state)` holds."""
        return wait_until(lambda: predicate(self.state(serial)), timeout, period=0.02)

    def wait_matched(self, serial, timeout, endpoints=None, count=1):
        """Waits until the controller's endpoints (all, or those named) have
        matched at least `count` remote endpoints each."""

        def matched(state):
            table = state["matched"]
            names = endpoints if endpoints is not None else list(table)
            return all(table[name] >= count for name in names)

        return self.wait_for_state(serial, matched, timeout)


@atexit.register
def _stop_all():
    with _running_lock:
        running = list(_running)
    for sim in running:
        sim.quit(timeout=2.0)
