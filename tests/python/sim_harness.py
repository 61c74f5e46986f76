"""Drives the simulated robot controller (quiral_sim, path in $QUIRAL_SIM)
through its JSON-lines control channel (sim/README.md), every wait with a
deadline. A simulator never outlives its test process: `quit` ends it (or
kills it), and one whose parent is gone sees its standard input close and
ends by itself.
"""

import itertools
import json
import os
import queue
import subprocess
import threading
import time

_serial_counter = itertools.count(1)


class SimError(RuntimeError):
    """The simulator did not start, answer in time, or accept a command."""


def unique_serial(model="Varno4"):
    """A serial number of `model` that no other test process uses."""
    return "%s-P%dx%d" % (model, os.getpid(), next(_serial_counter))


def wait_until(predicate, timeout, period=0.01):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() >= deadline:
            return False
        time.sleep(period)
    return True


def sim_path():
    path = os.environ.get("QUIRAL_SIM", "")
    if not path or not os.access(path, os.X_OK):
        raise SimError("QUIRAL_SIM must name the quiral_sim executable (is %r)" % path)
    return path


class SimProcess:
    """One quiral_sim process running one controller per serial number."""

    def __init__(self, serials, args=()):
        self.serials = list(serials)
        command = [sim_path(), "--whitelist", "127.0.0.1"] + list(args)
        for serial in self.serials:
            command += ["--serial", serial]
        self._proc = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self._lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self._lock = threading.Lock()
        self._ids = itertools.count(1)
        try:
            ready = self._next_message(time.monotonic() + 30.0, "the ready line")
            if ready.get("event") != "ready" or ready.get("serials") != self.serials:
                raise SimError("unexpected first line from the simulator: %r" % ready)
        except BaseException:
            self.quit(timeout=0)
            raise

    def _read(self):
        for line in self._proc.stdout:
            self._lines.put(line)
        self._lines.put(None)

    def _next_message(self, deadline, what):
        while True:
            try:
                line = self._lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise SimError("no %s from the simulator in time" % what) from None
            if line is None:
                raise SimError("the simulator ended while waiting for %s" % what)
            if line.strip():
                return json.loads(line)

    def quit(self, timeout=5.0):
        """Asks the simulator to quit, kills it after `timeout` seconds."""
        if self._proc.poll() is None:
            try:
                if timeout > 0:
                    self.command("quit", timeout=timeout)
                self._proc.stdin.close()
                self._proc.wait(timeout=timeout)
            except (SimError, OSError, subprocess.TimeoutExpired):
                self._proc.kill()
                self._proc.wait()
        self._proc.stdout.close()

    def command(self, cmd, serial=None, timeout=10.0, **args):
        """Sends one command and returns its reply; SimError on a time-out, a
        dead process or a refusal."""
        with self._lock:
            message = dict({"id": next(self._ids), "cmd": cmd}, **args)
            if serial is not None:
                message["serial"] = serial
            try:
                self._proc.stdin.write(json.dumps(message) + "\n")
                self._proc.stdin.flush()
            except (OSError, ValueError) as error:
                raise SimError("cannot send %r to the simulator: %s" % (cmd, error)) from None
            deadline = time.monotonic() + timeout
            reply = {}
            while reply.get("id") != message["id"]:  # skips late replies to timed-out commands
                reply = self._next_message(deadline, "reply to %r" % cmd)
        if not reply.get("ok"):
            raise SimError("%s refused: %s" % (cmd, reply.get("error")))
        return reply

    def state(self, serial):
        return self.command("state", serial)

    def set(self, serial, fields):
        return self.command("set", serial, **fields)

    def fault(self, serial, **rule):
        return self.command("fault", serial, **rule)

    def requests(self, serial, since=0, procedure_id=None):
        """Operations requests from index `since` on (of one procedure)."""
        args = {} if procedure_id is None else {"procedure_id": procedure_id}
        return self.command("requests", serial, since=since, **args)["items"]

    def request_total(self, serial):
        return self.command("requests", serial, since=0, limit=1)["total"]
