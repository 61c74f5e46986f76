"""Dual-arm demo: drives two simulated robot arms as one pair from Python.

    scripts/run-demo.sh                  (builds, then runs this script)

or, with the modules built into build/python:

    PYTHONPATH=build/python scripts/netns-run \\
        python3.10 python/demo/dual_arm_demo.py --sim build/bin/quiral_sim

The script starts two simulated robot controllers (one quiral_sim process),
connects a quiralbivek.RobotPair to them, enables both arms, moves them to
joint targets and then to Cartesian targets given in the common world frame,
prints their states, stops them and ends the simulators. It must run inside
the private network namespace (scripts/netns-run): the controllers speak
DDS, and the namespace keeps that traffic on the machine.
"""

import argparse
import json
import math
import os
import queue
import signal
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

SERIALS = ("Varno4-L0001", "Varno4-R0002")
ARM_NAMES = ("left", "right")
# Each arm's base position in the world frame [x, y, z], in metres.
BASES = ([0.0, 0.35, 0.0], [0.0, -0.35, 0.0])
WHITELIST = ["127.0.0.1"]

STEPS = 8


def step(number, text):
    print("\n[%d/%d] %s" % (number, STEPS, text), flush=True)


def say(text):
    print("      " + text, flush=True)


def fmt(values, digits=3):
    return "[" + ", ".join("%+.*f" % (digits, v) for v in values) + "]"


def wait_for(what, predicate, timeout):
    """Polls `predicate` until it holds; raises after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() >= deadline:
            raise RuntimeError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.02)


class SimulatedControllers:
    """One quiral_sim process running a controller per serial number,
    driven through its JSON-lines channel on standard input and output."""

    def __init__(self, path, serials):
        command = [path]
        for serial in serials:
            command += ["--serial", serial]
        command += ["--whitelist", ",".join(WHITELIST), "--initial-state", "disabled"]
        self._proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      text=True, bufsize=1)
        self._lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        try:
            ready = self._next_line(30.0)
        except BaseException:
            self.stop()
            raise
        if ready.get("event") != "ready":
            self.stop()
            raise RuntimeError("unexpected first line from the simulator: %r" % ready)

    def _read(self):
        for line in self._proc.stdout:
            self._lines.put(line)
        self._lines.put(None)

    def _next_line(self, timeout):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise RuntimeError("the simulator did not report ready within %.0f s" % timeout)
        if line is None:
            raise RuntimeError("the simulator ended early (status %r)" % self._proc.wait())
        return json.loads(line)

    @property
    def pid(self):
        return self._proc.pid

    def stop(self):
        """Asks the simulator to quit, kills it when it does not end in time."""
        if self._proc.poll() is None:
            try:
                self._proc.stdin.write(json.dumps({"id": 1, "cmd": "quit"}) + "\n")
                self._proc.stdin.flush()
                self._proc.stdin.close()
            except OSError:
                pass
            try:
                self._proc.wait(timeout=5.0)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        return self._proc.returncode


def position_error(actual, target):
    return max(abs(a - t) for a, t in zip(actual, target))


def distance(a, b):
    return math.sqrt(sum((x - y) ** 2 for x, y in zip(a, b)))


def print_states(pair, quiralvek):
    modes = pair.mode()
    statuses = pair.operational_status()
    states = pair.states()
    for arm in (0, 1):
        s = states[arm]
        say("%-5s arm: mode %s, status %s" % (ARM_NAMES[arm], modes[arm].name,
                                              statuses[arm].name))
        say("           joints   %s rad" % fmt(s.link_position))
        say("           TCP xyz  %s m (world frame)" % fmt(s.tcp_pose[:3]))
        say("           TCP quat %s (w, x, y, z)" % fmt(s.tcp_pose[3:]))
        say("           speed    %.4f m/s" % math.sqrt(sum(v * v for v in s.tcp_velocity[:3])))


def run(sim_path):
    try:
        import quiralvek  # the single-robot types (modes, records); import first
        import quiralbivek
    except ImportError as error:
        raise RuntimeError("cannot import the Python modules (%s); build them with "
                           "scripts/build.sh and put build/python on PYTHONPATH" % error)
    Mode = quiralvek.Mode
    Status = quiralvek.OperationalStatus

    step(1, "Starting two simulated robot controllers (%s)" % os.path.basename(sim_path))
    sims = SimulatedControllers(sim_path, SERIALS)
    say("quiral_sim is running (pid %d) with the controllers %s and %s, both disabled"
        % (sims.pid, SERIALS[0], SERIALS[1]))
    try:
        step(2, "Connecting a RobotPair: %s is the left arm, %s the right arm" % SERIALS)
        say("left base at %s m, right base at %s m in the world frame" % (fmt(BASES[0], 2),
                                                                        fmt(BASES[1], 2)))
        pair = quiralbivek.RobotPair(SERIALS, BASES, WHITELIST)
        say("connected: %s   %r" % (pair.connected(), pair))
        for arm, info in enumerate(pair.info()):
            say("%-5s arm: %s, model %s, %d joints, controller %s"
                % (ARM_NAMES[arm], info.serial_number, info.model_name, info.DoF,
                   info.server_text))

        step(3, "Enabling both arms")
        say("status before: %s" % ", ".join(s.name for s in pair.operational_status()))
        pair.Enable()
        wait_for("both arms ready", lambda: pair.operational_status() == (Status.READY,
                                                                          Status.READY), 10.0)
        say("status after:  %s" % ", ".join(s.name for s in pair.operational_status()))

        step(4, "Joint motion: switching to NRT_JOINT_POSITION and sending joint targets")
        pair.SwitchMode(Mode.NRT_JOINT_POSITION)
        wait_for("joint-position mode", lambda: pair.mode() == (Mode.NRT_JOINT_POSITION,
                                                                Mode.NRT_JOINT_POSITION), 5.0)
        targets = ([0.3, -0.5, 0.0, 1.4, 0.0, 0.6, 0.0], [-0.3, -0.5, 0.0, 1.4, 0.0, 0.6, 0.0])
        for arm in (0, 1):
            say("%-5s target %s rad" % (ARM_NAMES[arm], fmt(targets[arm])))
        zeros = [0.0] * 7
        pair.SendJointPosition(targets, (zeros, zeros), ([1.0] * 7, [1.0] * 7),
                               ([2.0] * 7, [2.0] * 7))
        started = time.monotonic()
        wait_for("the joint targets", lambda: all(
            position_error(s.link_position, t) < 1e-3
            for s, t in zip(pair.states(), targets)), 15.0)
        say("both arms reached their joint targets in %.1f s" % (time.monotonic() - started))

        step(5, "Cartesian motion: switching to NRT_CARTESIAN_MOTION_FORCE, targets in the "
                "world frame")
        pair.SwitchMode(Mode.NRT_CARTESIAN_MOTION_FORCE)
        wait_for("Cartesian mode", lambda: pair.mode() == (Mode.NRT_CARTESIAN_MOTION_FORCE,
                                                           Mode.NRT_CARTESIAN_MOTION_FORCE), 5.0)
        # Both tool points 5 cm down and 3 cm towards each other, orientation kept.
        poses = []
        for arm, s in enumerate(pair.states()):
            pose = list(s.tcp_pose)
            pose[1] += -0.03 if arm == 0 else 0.03
            pose[2] -= 0.05
            poses.append(pose)
            say("%-5s TCP from %s to %s m" % (ARM_NAMES[arm], fmt(s.tcp_pose[:3]),
                                              fmt(pose[:3])))
        pair.SendCartesianMotionForce(tuple(poses), max_linear_vel=(0.2, 0.2))
        started = time.monotonic()
        wait_for("the Cartesian targets", lambda: all(
            distance(s.tcp_pose[:3], p[:3]) < 2e-3 for s, p in zip(pair.states(), poses)), 15.0)
        say("both TCPs reached their world-frame targets in %.1f s"
            % (time.monotonic() - started))

        step(6, "States of both arms")
        wait_for("both arms at rest", pair.stopped, 5.0)
        print_states(pair, quiralvek)

        step(7, "Stopping both arms")
        pair.Stop()
        wait_for("both arms idle", lambda: pair.mode() == (Mode.IDLE, Mode.IDLE), 5.0)
        say("modes: %s; stopped: %s" % (", ".join(m.name for m in pair.mode()), pair.stopped()))

        step(8, "Disconnecting and stopping the simulated controllers")
        del pair
    finally:
        status = sims.stop()
    say("quiral_sim ended with status %d" % status)
    print("\nDemo finished.", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sim", default=os.environ.get(
        "QUIRAL_SIM", os.path.join(REPO, "build", "bin", "quiral_sim")),
        help="path of the quiral_sim executable (default: build/bin/quiral_sim)")
    args = parser.parse_args()
    if not os.access(args.sim, os.X_OK):
        print("dual_arm_demo: no simulator at %s (build first: scripts/build.sh)" % args.sim,
              file=sys.stderr)
        return 2
    # A termination request unwinds like an error, so the simulator is stopped.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        run(args.sim)
    except KeyboardInterrupt:  # the simulator is already stopped (finally)
        print("\nDemo interrupted", file=sys.stderr)
        return 130
    except Exception as error:
        print("\nDemo failed: %s: %s" % (type(error).__name__, error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
