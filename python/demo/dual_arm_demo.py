"""Dual-arm demo: drives two simulated robot arms as one pair from Python.

    scripts/run-demo.sh                  (builds, then runs this script)

or, with the modules built into build/python:

    PYTHONPATH=build/python scripts/netns-run \\
        python3.10 python/demo/dual_arm_demo.py --sim build/bin/quiral_sim

The script starts two simulated robot controllers (one quiral_sim process),
connects a quiralbivek.RobotPair to them, enables both arms, moves them to
joint targets and then to Cartesian targets given in the common world frame,
prints their states and stops them. Then both arms' grippers, as one
quiralbivek.GripperPair, close on an object each; and with a
quiralbivek.SelfCollisionMonitor watching, the arms lean towards each other
until the monitor stops them. Last it ends the simulators. It must run
inside the private network namespace (scripts/netns-run): the controllers
speak DDS, and the namespace keeps that traffic on the machine.
"""

import argparse
import contextlib
import itertools
import json
import math
import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

SERIALS = ("Varno4-L0001", "Varno4-R0002")
ARM_NAMES = ("left", "right")
# Each arm's base position in the world frame [x, y, z], in metres.
BASES = ([0.0, 0.35, 0.0], [0.0, -0.35, 0.0])
WHITELIST = ["127.0.0.1"]
GRIPPER = "SimGripper"
# Width of the object between each arm's fingers, in metres.
OBJECT_WIDTHS = (0.04, 0.06)
# Each arm's first joint turned so that tilting its second joint leans the
# arm towards the other one (the left arm towards -y, the right towards +y).
FACING = ([-math.pi / 2] + [0.0] * 6, [math.pi / 2] + [0.0] * 6)
LEANING = ([-math.pi / 2, 0.6] + [0.0] * 5, [math.pi / 2, 0.6] + [0.0] * 5)

STEPS = 10


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
        self._ids = itertools.count(1)
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

    def set(self, serial, fields):
        """Changes state fields of one controller (the control channel's `set`)."""
        command = dict(fields, id=next(self._ids), cmd="set", serial=serial)
        self._proc.stdin.write(json.dumps(command) + "\n")
        self._proc.stdin.flush()
        reply = self._next_line(5.0)
        if reply.get("id") != command["id"] or not reply.get("ok"):
            raise RuntimeError("the simulator refused %r: %r" % (fields, reply))

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


@contextlib.contextmanager
def scratch_folder():
    """A temporary working directory, for the collision meshes that the
    monitor downloads and loads when it is made."""
    previous = os.getcwd()
    with tempfile.TemporaryDirectory() as folder:
        os.chdir(folder)
        try:
            yield
        finally:
            os.chdir(previous)


def send_joints(pair, targets, max_vel):
    """Sends both arms towards joint targets, to arrive at rest."""
    zeros = [0.0] * 7
    pair.SendJointPosition(targets, (zeros, zeros), ([max_vel] * 7,) * 2, ([3.0] * 7,) * 2)


def at_joints(pair, targets):
    return all(position_error(s.link_position, t) < 1e-3 for s, t in zip(pair.states(), targets))


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
        send_joints(pair, targets, 1.0)
        started = time.monotonic()
        wait_for("the joint targets", lambda: at_joints(pair, targets), 15.0)
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

        step(8, "Gripper pair: both grippers close on an object")
        grippers = quiralbivek.GripperPair(pair)
        grippers.Enable((GRIPPER, GRIPPER))
        for arm, params in enumerate(grippers.params()):
            say("%-5s gripper %s: width %.3f to %.3f m, force %.0f to %.0f N"
                % (ARM_NAMES[arm], params.name, params.min_width, params.max_width,
                   params.min_force, params.max_force))
        grippers.Move((0.08, 0.08), (0.2, 0.2), (20.0, 20.0))
        wait_for("both grippers open", lambda: all(
            abs(s.width - 0.08) < 1e-4 and not s.is_moving for s in grippers.states()), 5.0)
        for arm, width in enumerate(OBJECT_WIDTHS):
            sims.set(SERIALS[arm], {"gripper": {"object_width": width}})
        forces = (20.0, 30.0)
        say("objects of %.0f and %.0f mm between the open fingers; grasping with %.0f and %.0f N"
            % (OBJECT_WIDTHS[0] * 1000, OBJECT_WIDTHS[1] * 1000, forces[0], forces[1]))
        grippers.Grasp(forces)
        wait_for("both grippers holding their objects", lambda: all(
            abs(s.width - w) < 1e-4 and s.force == f and not s.is_moving
            for s, w, f in zip(grippers.states(), OBJECT_WIDTHS, forces)), 5.0)
        for arm, s in enumerate(grippers.states()):
            say("%-5s gripper closed on its object: width %.3f m, force %.0f N, moving %s"
                % (ARM_NAMES[arm], s.width, s.force, s.is_moving))

        step(9, "Self-collision monitor: the arms lean towards each other until it stops them")
        pair.SwitchMode(Mode.NRT_JOINT_POSITION)
        wait_for("joint-position mode", lambda: pair.mode() == (Mode.NRT_JOINT_POSITION,
                                                                Mode.NRT_JOINT_POSITION), 5.0)
        send_joints(pair, FACING, 1.5)
        wait_for("both arms upright, facing each other", lambda: at_joints(pair, FACING), 15.0)
        with scratch_folder():
            monitor = quiralbivek.SelfCollisionMonitor(pair)
        monitor.Start()
        say("monitor running every 10 ms; both arms upright, their bases %.2f m apart"
            % distance(*BASES))
        say("both arms lean towards each other (second joint towards %.1f rad)" % LEANING[0][1])
        send_joints(pair, LEANING, 0.5)
        wait_for("the monitor to stop both arms", lambda: pair.mode() == (Mode.IDLE, Mode.IDLE),
                 10.0)
        wait_for("both arms at rest", pair.stopped, 5.0)
        states = pair.states()
        say("stopped by the monitor at second joints %.3f and %.3f rad (target %.1f); "
            "TCPs %.3f m apart" % (states[0].link_position[1], states[1].link_position[1],
                                   LEANING[0][1],
                                   distance(states[0].tcp_pose[:3], states[1].tcp_pose[:3])))
        monitor.Stop()
        say("monitor stopped; modes: %s" % ", ".join(m.name for m in pair.mode()))

        step(10, "Disconnecting and stopping the simulated controllers")
        del monitor, grippers, pair
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
