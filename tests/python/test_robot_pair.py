"""RobotPair from Python against two simulated controllers: every method
with its keyword names, defaults and overloads, checked by what reaches each
controller; refused arguments; errors at the boundary; query results.

Each test class runs one simulator with two controllers and one pair
connected to them (PairTestCase)."""

import datetime
import gc
import time
import unittest

import quiralvek  # registers the single-robot types before quiralbivek
import quiralbivek
from sim_harness import SimProcess, unique_serial, wait_until

Mode = quiralvek.Mode

# Base positions of the two arms in the world frame.
FIRST_BASE = [1.0, 2.0, 3.0]
SECOND_BASE = [-0.5, 0.25, -2.0]

READY_STATE = {
    "estop": False, "enabling_button": False, "fault": None, "fault_clearable": True,
    "program_running": None, "safety_board_state": 12, "system_state": 4,
    "velocity_override": None, "digital_inputs": [False] * 18,
}

# Joint positions of the simulated arms at their start ("home").
HOME = [0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0]


class PairTestCase(unittest.TestCase):
    # The first arm is a medical model (the only one with brakes).
    sim = None
    pair = None

    @classmethod
    def setUpClass(cls):
        cls.serials = (unique_serial("Varno4M"), unique_serial("Varno10"))
        cls.first_sn, cls.second_sn = cls.serials
        cls.sim = SimProcess(cls.serials, ["--initial-state", "ready"])
        try:
            cls.pair = quiralbivek.RobotPair(cls.serials, (FIRST_BASE, SECOND_BASE),
                                             ["127.0.0.1"])
        except BaseException:
            cls.sim.quit()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.pair = None
        if cls.sim is not None:
            cls.sim.quit()

    def setUp(self):
        for serial in self.serials:
            self.sim.command("clear_faults", serial)
            self.sim.set(serial, READY_STATE)
        self.assertTrue(wait_until(lambda: self.pair.operational()
                                   and self.pair.estop_released() == (True, True), 5.0))
        # Ends what an earlier test started, and a mode switch it requested
        # through the pair (pending until the arm asks for IDLE again).
        self.pair.Stop()
        self.set_modes(Mode.IDLE, Mode.IDLE)
        self.assertTrue(wait_until(self.pair.stopped, 5.0))
        self.since()

    def since(self):
        """Marks the request and motion-command records of both arms."""
        self._marks = [self.sim.request_total(s) for s in self.serials]
        self._motion_marks = [self.sim.motion_total(s) for s in self.serials]

    def new_requests(self, arm, procedure_id=None):
        """Operations requests of one arm since the last mark."""
        return self.sim.requests(self.serials[arm], self._marks[arm], procedure_id)

    def new_motion(self, arm):
        """The motion commands of one arm since the last mark, once there is
        one (they may take a moment); [] when none came."""
        items = []

        def arrived():
            items[:] = self.sim.motion_commands(self.serials[arm], self._motion_marks[arm])
            return items

        wait_until(arrived, 3.0, period=0.02)
        return items

    def set_modes(self, first, second):
        """Sets both controllers' modes directly, waits until the pair sees
        them, and marks the records."""
        for serial, mode in zip(self.serials, (first, second)):
            self.sim.set(serial, {"mode": int(mode)})
        self.assertTrue(wait_until(lambda: self.pair.mode() == (first, second), 3.0))
        self.since()

    def switch_both(self, mode):
        """Switches both arms through the pair; waits until it sees the mode."""
        self.pair.SwitchMode(mode)
        self.assertTrue(wait_until(lambda: self.pair.mode() == (mode, mode), 3.0))
        self.since()

    def assertRefused(self, call, *args, **kwargs):
        """The call matches no registration: TypeError; nothing reaches a robot."""
        with self.assertRaises(TypeError):
            call(*args, **kwargs)
        self.assertEqual((self.new_requests(0), self.new_requests(1)), ([], []))

    def assertRaisesExactly(self, exception, text, call, *args, **kwargs):
        with self.assertRaises(Exception) as caught:
            call(*args, **kwargs)
        self.assertIs(type(caught.exception), exception, repr(caught.exception))
        self.assertEqual(str(caught.exception), text)

    def assertFloats(self, actual, expected, places=5):
        """Equal, with floats (also nested in lists) to `places` places."""
        if isinstance(expected, float):
            self.assertAlmostEqual(actual, expected, places=places)
        elif isinstance(expected, list):
            self.assertEqual(len(actual), len(expected), "%r vs %r" % (actual, expected))
            for a, e in zip(actual, expected):
                self.assertFloats(a, e, places)
        else:
            self.assertEqual(actual, expected)


CoordType = quiralvek.CoordType
OperationalStatus = quiralvek.OperationalStatus

# Procedure ids of the operations service.
ENABLE, CLEAR_FAULT, SWITCH_MODE, DIGITAL_OUTPUTS, BRAKE = 1, 2, 7, 8, 9
SET_GLOBAL_VARIABLES, LOCK_AXES, SYNC_POSITIONER, VELOCITY_SCALE = 12, 13, 14, 20
PRIMITIVE, PLAN, PAUSE, RESUME, STOP_PLAN, BREAKPOINT_MODE, STEP = 21, 22, 24, 25, 26, 27, 28
CARTESIAN_IMPEDANCE, JOINT_IMPEDANCE, CONTACT_WRENCH, NULL_POSTURE = 70, 71, 72, 73
NULL_OBJECTIVES, INERTIA_SCALE, CONTACT_TORQUE = 74, 75, 76
FORCE_AXIS, FORCE_FRAME, PASSIVE_FORCE = 80, 81, 82

IDLE = (Mode.IDLE, Mode.IDLE)
JOINT = (Mode.NRT_JOINT_POSITION, Mode.NRT_JOINT_POSITION)
PLANS = (Mode.NRT_PLAN_EXECUTION, Mode.NRT_PLAN_EXECUTION)
PRIMITIVES = (Mode.NRT_PRIMITIVE_EXECUTION, Mode.NRT_PRIMITIVE_EXECUTION)
JOINT_IMP = (Mode.NRT_JOINT_IMPEDANCE, Mode.NRT_JOINT_IMPEDANCE)
CARTESIAN = (Mode.NRT_CARTESIAN_MOTION_FORCE, Mode.NRT_CARTESIAN_MOTION_FORCE)

IDENTITY = [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0]
FRAME = [0.1, 0.2, 0.3, 1.0, 0.0, 0.0, 0.0]
POSTURE = [0.1, -0.5, 0.0, 1.2, 0.0, 0.5, 0.2]


def outputs(**ports):
    """The digital-output request: -1 for every port not set."""
    values = [-1] * 18
    for port, value in ports.items():
        values[int(port[1:])] = int(value)
    return values


def param_values():
    jpos = quiralvek.JPos()
    jpos.q_m = HOME
    coord = quiralvek.Coord()
    coord.position = [0.5, 0.0, 0.25]
    coord.orientation = [180.0, 0.0, 90.0]
    coord.ref_frame = ["WORLD", "WORLD_ORIGIN"]
    return ({"a": True, "b": 3, "c": 2.5, "d": [1.5, 2], "e": [], "f": ("x", "y"), "g": jpos,
             "h": b"raw"},
            {"a": [1, 2, 3], "b": [jpos, jpos], "c": coord, "d": False})


def call(method, *args, **kwargs):
    return method, args, kwargs


# (modes, call, procedure (None: every one), request field(s), what each arm
# received (one entry per request, [] for none), result)
COMMANDS = [
    (IDLE, call("Enable"), None, "procedure_id", [ENABLE], [ENABLE]),
    (IDLE, call("SwitchMode", (Mode.NRT_JOINT_POSITION, Mode.NRT_PLAN_EXECUTION)), SWITCH_MODE,
     "int_args", [[6]], [[7]]),
    # One mode for both arms; an arm that is not idle goes through IDLE.
    ((Mode.NRT_JOINT_POSITION, Mode.IDLE), call("SwitchMode", Mode.NRT_CARTESIAN_MOTION_FORCE),
     SWITCH_MODE, "int_args", [[1], [10]], [[10]]),
    (IDLE, call("SwitchMode", [Mode.NRT_JOINT_IMPEDANCE, Mode.IDLE]), SWITCH_MODE, "int_args",
     [[4]], []),
    (JOINT, call("Stop", (False, True)), SWITCH_MODE, "int_args", [], [[1]]),
    (JOINT, call("Stop"), SWITCH_MODE, "int_args", [[1]], [[1]]),
    # Ints are no booleans in the first pass over both overloads, but
    # convert in the second.
    (JOINT, call("Stop", [1, 0]), SWITCH_MODE, "int_args", [[1]], []),
    (IDLE, call("ClearFault", timeout_sec=0), CLEAR_FAULT, "procedure_id", [CLEAR_FAULT],
     [CLEAR_FAULT], (False, False)),
    (IDLE, call("ClearFault"), CLEAR_FAULT, "procedure_id", [CLEAR_FAULT], [CLEAR_FAULT],
     (True, True)),
    (IDLE, call("RunAutoRecovery"), None, "procedure_id", [], []),  # none in recovery
    (IDLE, call("LockExternalAxes", (True, False)), LOCK_AXES, "int_args", [[1]], [[0]]),
    (IDLE, call("SyncWithPositioner", [False, True]), SYNC_POSITIONER, "int_args", [[0]], [[1]]),
    (IDLE, call("SetPassiveForceControl", (True, False)), PASSIVE_FORCE, "int_args", [[1]], [[0]]),
    (IDLE, call("SetDigitalOutputs", ({0: True, 17: False}, {5: True})), DIGITAL_OUTPUTS,
     "int_args", [outputs(p0=1, p17=0)], [outputs(p5=1)]),
    (IDLE, call("SetGlobalVariables", param_values()), SET_GLOBAL_VARIABLES, "long_string",
     ["a = 1, b = 3, c = 2.5, d = 1.5 2, e = , f = x y, "
      "g = 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0, h = raw"],
     ["a = 1 2 3, b = 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0 : 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0, "
      "c = 0.5 0 0.25 180 0 90 WORLD WORLD_ORIGIN, d = 0"]),
    (PLANS, call("ExecutePlan", (0, 2)), PLAN, ("long_string", "int_args"),
     [["HomePlan", [0]]], [["WaitPlan", [0]]]),
    (PLANS, call("ExecutePlan", names=("MainPlan", "WaitPlan"), continue_exec=True,
                 block_until_started=False), PLAN, ("long_string", "int_args"),
     [["MainPlan", [1]]], [["WaitPlan", [1]]]),
    (PLANS, call("ExecutePlan", ["WaitPlan", "HomePlan"], block_until_started=False), PLAN,
     "long_string", ["WaitPlan"], ["HomePlan"]),
    (PLANS, call("ExecutePlan", indices=[1, 2], continue_exec=False, block_until_started=False),
     PLAN, "long_string", ["MainPlan"], ["WaitPlan"]),
    (PLANS, call("PausePlan", (True, False)), None, "procedure_id", [PAUSE], [RESUME]),
    (PLANS, call("StopPlan", (False, True)), None, "procedure_id", [], [STOP_PLAN]),
    (PLANS, call("StopPlan"), None, "procedure_id", [STOP_PLAN], [STOP_PLAN]),
    (PLANS, call("SetBreakpointMode", (True, False)), BREAKPOINT_MODE, "int_args", [[1]], [[0]]),
    (PLANS, call("StepBreakpoint", (False, True)), None, "procedure_id", [], [STEP]),
    (PLANS, call("SetVelocityScale", (50, 100)), VELOCITY_SCALE, "int_args", [[50]], [[100]]),
    (PRIMITIVES, call("ExecutePrimitive", ("Home", "Wave"), ({"speed": 0.25, "count": 3}, {})),
     PRIMITIVE, "long_string", ["Home(count = 3, speed = 0.25)"], ["Wave()"]),
    (PRIMITIVES, call("ExecutePrimitive", primitive_names=["Wave", "Home"],
                      input_params=[{"label": "a b"}, {"on": True}], block_until_started=False),
     PRIMITIVE, "long_string", ["Wave(label = a b)"], ["Home(on = 1)"]),
    (JOINT_IMP, call("SetJointImpedance", K_q=([100.0] * 7, [200.0] * 7)), JOINT_IMPEDANCE,
     "float_args", [[100.0] * 7 + [0.7] * 7], [[200.0] * 7 + [0.7] * 7]),
    (JOINT_IMP, call("SetJointImpedance", ([100.0] * 7, [200.0] * 7), Z_q=([0.5] * 7, [0.6] * 7)),
     JOINT_IMPEDANCE, "float_args", [[100.0] * 7 + [0.5] * 7], [[200.0] * 7 + [0.6] * 7]),
    (JOINT_IMP, call("SetMaxContactTorque", ([10.0] * 7, [20.0] * 7)), CONTACT_TORQUE,
     "float_args", [[10.0] * 7], [[20.0] * 7]),
    (JOINT_IMP, call("SetJointInertiaScale", ([1.0] * 7, [0.8] * 7)), INERTIA_SCALE, "float_args",
     [[1.0] * 7], [[0.8] * 7]),
    (CARTESIAN, call("SetCartesianImpedance", K_x=([1000.0] * 6, [2000.0] * 6)),
     CARTESIAN_IMPEDANCE, "float_args", [[1000.0] * 6 + [0.7] * 6], [[2000.0] * 6 + [0.7] * 6]),
    (CARTESIAN, call("SetCartesianImpedance", ([1000.0] * 6, [2000.0] * 6),
                     Z_x=([0.5] * 6, [0.6] * 6)),
     CARTESIAN_IMPEDANCE, "float_args", [[1000.0] * 6 + [0.5] * 6], [[2000.0] * 6 + [0.6] * 6]),
    (CARTESIAN, call("SetMaxContactWrench", ([10.0] * 6, [20.0] * 6)), CONTACT_WRENCH,
     "float_args", [[10.0] * 6], [[20.0] * 6]),
    (CARTESIAN, call("SetNullSpacePosture", (HOME, POSTURE)), NULL_POSTURE, "float_args", [HOME],
     [POSTURE]),
    (CARTESIAN, call("SetNullSpaceObjectives"), NULL_OBJECTIVES, "float_args", [[0.0, 0.0, 0.5]],
     [[0.0, 0.0, 0.5]]),
    (CARTESIAN, call("SetNullSpaceObjectives", ref_positions_tracking=(0.6, 0.9),
                     angular_manipulability=(0.25, 0.75), linear_manipulability=(0.5, 0.125)),
     NULL_OBJECTIVES, "float_args", [[0.5, 0.25, 0.6]], [[0.125, 0.75, 0.9]]),
    (CARTESIAN, call("SetForceControlAxis", enabled_axes=([True, False, True, False, False, False],
                                                          (1, 0, 0, 0, 0, 1))),
     FORCE_AXIS, ("int_args", "float_args"), [[[1, 0, 1, 0, 0, 0], [1.0] * 3]],
     [[[1, 0, 0, 0, 0, 1], [1.0] * 3]]),
    (CARTESIAN, call("SetForceControlAxis", ([True] * 6, [False] * 6),
                     max_linear_vel=([0.5] * 3, (0.25, 0.25, 0.25))),
     FORCE_AXIS, "float_args", [[0.5] * 3], [[0.25] * 3]),
    (CARTESIAN, call("SetForceControlFrame", root_coord=(CoordType.WORLD, CoordType.TCP)),
     FORCE_FRAME, ("string_args", "float_args"), [[["WORLD"], IDENTITY]], [[["TCP"], IDENTITY]]),
    # Force-control frames are not positions in the world: unchanged.
    (CARTESIAN, call("SetForceControlFrame", [CoordType.TCP, CoordType.TCP],
                     T_in_root=(FRAME, IDENTITY)),
     FORCE_FRAME, "float_args", [FRAME], [IDENTITY]),
]

# Calls that match no registration (TypeError) and reach no robot.
REFUSED = [
    # Positional-only parameters refuse keywords.
    call("SwitchMode", arg0=Mode.IDLE), call("Stop", selected=(True, True)),
    call("Brake", engage=True), call("LockExternalAxes", lock=(True, True)),
    call("SyncWithPositioner", sync=(True, True)), call("PausePlan", pause=(True, True)),
    call("SetBreakpointMode", is_enabled=(True, True)),
    call("SetVelocityScale", velocity_scale=(1, 1)),
    call("SetGlobalVariables", global_vars=({"a": 1}, {})),
    call("SendJointPosition", positions=(HOME, HOME), velocities=(HOME, HOME),
         max_vel=(HOME, HOME), max_acc=(HOME, HOME)),
    call("SetMaxContactTorque", max_torques=([1.0] * 7, [1.0] * 7)),
    call("SetMaxContactWrench", max_wrench=([1.0] * 6, [1.0] * 6)),
    call("SetPassiveForceControl", is_enabled=(True, True)),
    call("SetDigitalOutputs", digital_outputs=({}, {})),
    # Unknown keywords, missing or surplus arguments, a parameter twice.
    call("ClearFault", timeout=1), call("ExecutePlan", (0, 1), **{"continue": True}),
    call("ExecutePrimitive", ("Home", "Home"), ({}, {}), wait=True), call("ExecutePlan"),
    call("SetJointImpedance", Z_q=([], [])), call("RunAutoRecovery", True),
    call("SetNullSpaceObjectives", (0.5, 0.5), linear_manipulability=(0.5, 0.5)),
    # No overload takes these.
    call("SwitchMode", 6), call("SwitchMode", (Mode.IDLE, None)),
    call("ExecutePlan", (0, "WaitPlan")), call("ExecutePlan", (-1, 0)),
    call("ExecutePlan", indices=("HomePlan", "WaitPlan")), call("ExecutePlan", names=(0, 1)),
    # Numbers out of the native range, floats for integers, fixed sizes.
    call("ClearFault", -1), call("ClearFault", 2**32), call("ClearFault", 1.5),
    call("SetVelocityScale", (10.0, 20)), call("SetVelocityScale", (10, 2**32)),
    call("SetForceControlAxis", ([True] * 5, [True] * 6)),
    call("SetForceControlAxis", ("TFTFFT", [True] * 6)),
    call("SetMaxContactWrench", ([1.0] * 6, [1.0] * 7)),
    call("SendCartesianMotionForce", (IDENTITY[:6], IDENTITY)),
    call("SendCartesianMotionForce", (IDENTITY, IDENTITY), max_linear_vel=0.5),
    call("SetForceControlFrame", (0, 1)), call("SetForceControlFrame", (CoordType.WORLD, None)),
    # Maps and parameter values of the wrong kinds.
    call("SetDigitalOutputs", ({-1: True}, {})), call("SetDigitalOutputs", ({"0": True}, {})),
    call("SetDigitalOutputs", ([(0, True)], {})), call("SetGlobalVariables", ({1: 2}, {})),
    call("SetGlobalVariables", ({"a": None}, {})),
    call("SetGlobalVariables", ({"a": [1, "a"]}, {})),
    call("SetGlobalVariables", ({"a": object()}, {})),
    call("SendMultiCartesianMotionForce", ([quiralvek.JPos()], [quiralvek.NrtCartesianCmd()]),
         ([[0.0] * 7], [[0.0] * 7])),
]


class Index:
    """An integer through __index__ only."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class CommandsTest(PairTestCase):
    def setUp(self):
        super().setUp()
        for serial in self.serials:
            self.sim.set(serial, {"global_variables": dict.fromkeys("abcdefgh", "0")})

    def received(self, arm, procedure, fields):
        items = self.new_requests(arm, procedure)
        if isinstance(fields, str):
            return [item[fields] for item in items]
        return [[item[field] for field in fields] for item in items]

    def test_every_command_reaches_each_arm(self):
        for modes, (method, args, kwargs), procedure, fields, first, second, *result in COMMANDS:
            with self.subTest(method=method, args=args, kwargs=kwargs):
                self.setUp()
                self.set_modes(*modes)
                started = time.monotonic()
                self.assertEqual(getattr(self.pair, method)(*args, **kwargs),
                                 result[0] if result else None)
                if kwargs.get("block_until_started") is None and method.startswith("Execute"):
                    # By default the call waits until the program has started.
                    self.assertGreaterEqual(time.monotonic() - started, 0.3)
                self.assertFloats(self.received(0, procedure, fields), first)
                self.assertFloats(self.received(1, procedure, fields), second)
        # Every command method is in the table, or has a test of its own.
        others = {"Brake", "SendJointPosition", "SendCartesianMotionForce",
                  "SendMultiCartesianMotionForce"}
        queries = {name for name in vars(quiralbivek.RobotPair)
                   if name[0].islower() and not name.startswith("_")}
        self.assertEqual({row[1][0] for row in COMMANDS} | others,
                         {name for name in vars(quiralbivek.RobotPair)
                          if not name.startswith("_")} - queries)

    def test_refused_calls_reach_no_robot(self):
        for method, args, kwargs in REFUSED:
            with self.subTest(method=method, args=args, kwargs=kwargs):
                self.assertRefused(getattr(self.pair, method), *args, **kwargs)

    def test_pairs_are_any_two_item_sequence(self):
        self.set_modes(*PLANS)
        for value in ((10, 20), [10, 20], range(10, 30, 10), (Index(10), Index(20))):
            with self.subTest(value=value):
                self.since()
                self.pair.SetVelocityScale(value)
                self.assertEqual(self.received(0, VELOCITY_SCALE, "int_args"), [[10]])
                self.assertEqual(self.received(1, VELOCITY_SCALE, "int_args"), [[20]])
        self.since()
        for value in ((10,), (10, 20, 30), [], 10, {10: 20}, {10, 20}, None, "ab"):
            with self.subTest(value=value):
                self.assertRefused(self.pair.SetVelocityScale, value)
        self.assertRefused(self.pair.Stop, (True,))
        self.assertRefused(self.pair.StopPlan, (True, True, False))

    def test_brake_takes_only_true_or_false(self):
        # None or a number never releases the brakes.
        for argument in (None, 0, 1, 0.0, "", []):
            with self.subTest(argument=argument):
                self.assertRefused(self.pair.Brake, argument)
        # The first arm (medical) engages; the second has no brakes.
        self.assertRaisesExactly(RuntimeError, "[quiral::bivek::RobotPair::Brake](second) "
                                 "This function is only available to medical robots",
                                 self.pair.Brake, True)
        self.assertEqual(self.received(0, BRAKE, "int_args"), [[1]])
        self.assertEqual(self.received(1, BRAKE, "int_args"), [])
        with self.assertRaises(RuntimeError):
            self.pair.Brake(False)
        self.assertEqual(self.received(0, BRAKE, "int_args"), [[1], [0]])

    def test_automatic_recovery(self):
        for serial in self.serials:
            self.sim.set(serial, {"recovery": True})
        try:
            self.assertTrue(wait_until(lambda: self.pair.recovery() == (True, True), 3.0))
            self.since()
            self.assertIsNone(self.pair.RunAutoRecovery())
            for arm in (0, 1):
                self.assertEqual(self.received(arm, SWITCH_MODE, "int_args"), [[12]])
                self.assertTrue(self.new_motion(arm))
        finally:
            for serial in self.serials:
                self.sim.set(serial, {"recovery": False})


def in_base(pose, base):
    return [pose[i] - base[i] for i in range(3)] + list(pose[3:])


class MotionTest(PairTestCase):
    def sent(self, arm, kind, *fields):
        """Fields of the arm's newest motion command since the mark."""
        return [self.new_motion(arm)[-1][kind][field] for field in fields]

    def test_joint_targets(self):
        self.switch_both(Mode.NRT_JOINT_POSITION)
        zeros = [0.0] * 7
        self.assertIsNone(self.pair.SendJointPosition(
            (POSTURE, HOME), (zeros, zeros), ([1.0] * 7, [0.5] * 7), ([2.0] * 7, [3.0] * 7)))
        fields = ("position", "velocity", "max_vel", "max_acc")
        self.assertFloats(self.sent(0, "joint", *fields), [POSTURE, zeros, [1.0] * 7, [2.0] * 7])
        self.assertFloats(self.sent(1, "joint", *fields), [HOME, zeros, [0.5] * 7, [3.0] * 7])

    def test_cartesian_targets_in_the_world_frame(self):
        self.switch_both(Mode.NRT_CARTESIAN_MOTION_FORCE)
        # 3 cm down from where each TCP is, in the world frame; defaults.
        targets = [list(state.tcp_pose) for state in self.pair.states()]
        for target in targets:
            target[2] -= 0.03
        self.assertIsNone(self.pair.SendCartesianMotionForce(tuple(targets)))
        limits = ("max_linear_vel", "max_angular_vel", "max_linear_acc", "max_angular_acc")
        for arm, base in ((0, FIRST_BASE), (1, SECOND_BASE)):
            self.assertFloats(self.sent(arm, "cartesian", "pose", "wrench", "velocity", *limits),
                              [in_base(targets[arm], base), [0.0] * 6, [0.0] * 6, 0.5, 1.0, 2.0,
                               5.0])
        # Every keyword, per-arm values.
        self.since()
        self.pair.SendCartesianMotionForce(
            poses=targets, wrenches=([1.0, 0, 0, 0, 0, 0], [0, 2.0, 0, 0, 0, 0]),
            velocities=([0.0] * 6, [0.0] * 6), max_linear_vel=(0.2, 0.3),
            max_angular_vel=(0.4, 0.5), max_linear_acc=(1.5, 1.6), max_angular_acc=(2.5, 2.6))
        self.assertFloats(self.sent(1, "cartesian", "wrench", *limits),
                          [[0, 2.0, 0, 0, 0, 0], 0.3, 0.5, 1.6, 2.6])

        # Waypoints: each moved by its arm's base; the caller's are unchanged.
        self.switch_both(Mode.NRT_SUPER_PRIMITIVE)
        states = self.pair.states()
        waypoints = [quiralvek.NrtCartesianCmd(), quiralvek.NrtCartesianCmd()]
        for cmd, state in zip(waypoints, states):
            cmd.pose = [state.tcp_pose[0] + 0.02] + list(state.tcp_pose[1:])
            cmd.max_linear_vel, cmd.max_angular_vel = 0.3, 0.6
            cmd.max_linear_acc, cmd.max_angular_acc = 1.0, 2.0
        joints = [list(state.link_position) for state in states]
        self.assertIsNone(self.pair.SendMultiCartesianMotionForce(
            cart_cmds=([waypoints[0]], [waypoints[1]]), joint_pos=([joints[0]], [joints[1]])))
        for arm, base in ((0, FIRST_BASE), (1, SECOND_BASE)):
            command = self.new_motion(arm)[-1]
            self.assertEqual(len(command["cartesian_multi"]), 1)
            self.assertFloats([command["cartesian_multi"][0]["pose"],
                               command["cartesian_multi"][0]["max_linear_vel"],
                               command["joint_multi_positions"]],
                              [in_base(waypoints[arm].pose, base), 0.3, [joints[arm]]])
        self.assertFloats(waypoints[0].pose[0], states[0].tcp_pose[0] + 0.02)


class BoundaryErrorsTest(PairTestCase):
    """Native errors keep their texts, arm tags included, and map to
    ValueError, RuntimeError or IndexError by their class."""

    def test_exception_classes_and_texts(self):
        good, ones = (HOME, HOME), ([1.0] * 7, [1.0] * 7)
        send = self.pair.SendJointPosition
        prefix = "[quiral::bivek::RobotPair::"
        rows = [
            # std::invalid_argument, std::length_error: ValueError.
            (JOINT, {}, ValueError, prefix + "SendJointPosition](first) Size of input vector "
             "[positions] does not match robot DoF", send, (HOME[:6], HOME), good, ones, ones),
            (JOINT, {}, ValueError, prefix + "SendJointPosition](second) Input parameters "
             "[max_vel] and [max_acc] must be greater than 0",
             send, good, good, ([1.0] * 7, [0.0] * 7), ones),
            # Both arms fail: the first arm's error leaves.
            (JOINT, {}, ValueError, prefix + "SendJointPosition](first) Size of input vector "
             "[velocities] does not match robot DoF", send, good, ([], []), ones, ones),
            (IDLE, {}, ValueError, prefix + "SetGlobalVariables](second) Input map [global_vars] "
             "is empty", self.pair.SetGlobalVariables, ({"counter": 1}, {})),
            # std::logic_error and std::runtime_error: RuntimeError.
            (IDLE, {}, RuntimeError, prefix + "plan_info](first) Robot is not in an applicable "
             "control mode", self.pair.plan_info),
            (IDLE, {"fault": dict(procedure_id=11, kind="fail")}, RuntimeError,
             prefix + "global_variables](second) No reply from the robot",
             self.pair.global_variables),
            # std::out_of_range from reading a value of the robot: IndexError.
            (IDLE, {"set": {"global_variables": {"big": "99999999999"}}}, IndexError, "stoi",
             self.pair.global_variables),
            # Operations that pass an arm's runtime error on untagged.
            (JOINT, {"set": {"safety_board_state": 72}}, RuntimeError,
             "[quiral::vek::Robot::SendJointPosition] Robot is not operational: Not enabled",
             send, good, ([0.0] * 7,) * 2, ones, ones),
            (IDLE, {"set": {"estop": True}}, RuntimeError,
             prefix + "Enable](second) E-stop is not released", self.pair.Enable),
            (IDLE, {"set": {"estop": True}}, RuntimeError,
             prefix + "SwitchMode](second) Robot is not operational: E-Stop not released",
             self.pair.SwitchMode, Mode.NRT_JOINT_POSITION),
        ]
        for modes, second_arm, exception, text, method, *args in rows:
            with self.subTest(text=text):
                self.setUp()
                self.set_modes(*modes)
                if "fault" in second_arm:
                    self.sim.fault(self.second_sn, **second_arm["fault"])
                if "set" in second_arm:
                    self.sim.set(self.second_sn, second_arm["set"])
                    down = {"estop", "safety_board_state"} & set(second_arm["set"])
                    self.assertTrue(wait_until(lambda: self.pair.operational() != bool(down), 3))
                self.assertRaisesExactly(exception, text, method, *args)


class QueriesTest(PairTestCase):
    def test_plain_results(self):
        self.assertEqual(repr(self.pair), "<quiralbivek.RobotPair>")
        with self.assertRaises(AttributeError):
            self.pair.note = "left arm on the table"
        inputs = [i % 3 == 0 for i in range(18)]
        self.sim.set(self.first_sn, {"estop": True, "digital_inputs": inputs, "global_variables": {
            "n": "7", "x": "0.5", "s": "idle", "ni": "1 2", "nf": "1 2.5", "ns": "a b",
            "none": ""}})
        self.sim.set(self.second_sn, {"enabling_button": True, "fault": "minor",
                                      "global_variables": {"zeta": "1", "Alpha": "x y"}})
        self.assertTrue(wait_until(lambda: self.pair.digital_inputs()[0] == inputs
                                   and self.pair.which_fault() == (False, True), 3.0))
        # Booleans stay booleans, pairs are tuples, maps keep their order.
        for name, value in [
                ("connected", True), ("stopped", True), ("operational", False), ("busy", False),
                ("fault", True), ("which_busy", (False, False)), ("which_fault", (False, True)),
                ("reduced", (False, False)), ("recovery", (False, False)),
                ("estop_released", (False, True)), ("enabling_button_pressed", (False, True)),
                ("mode", (Mode.IDLE, Mode.IDLE)), ("digital_inputs", (inputs, [False] * 18)),
                ("operational_status", (OperationalStatus.ESTOP_NOT_RELEASED,
                                        OperationalStatus.MINOR_FAULT)),
                ("plan_list", (["HomePlan", "MainPlan", "WaitPlan"],) * 2),
                ("global_variables", ({"n": 7, "nf": [1.0, 2.5], "ni": [1, 2], "none": [],
                                       "ns": ["a", "b"], "s": "idle", "x": 0.5},
                                      {"Alpha": ["x", "y"], "zeta": 1}))]:
            with self.subTest(query=name):
                result = getattr(self.pair, name)()
                self.assertEqual(result, value)
                self.assertIs(type(result), type(value))
        first, _ = self.pair.global_variables()
        self.assertEqual(list(first), ["n", "nf", "ni", "none", "ns", "s", "x"])
        self.assertEqual([type(first["n"]), type(first["nf"][0])], [int, float])

    def test_records(self):
        first, second = self.pair.info()
        self.assertIsInstance(first, quiralvek.RobotInfo)
        self.assertEqual((first.serial_number, second.serial_number), self.serials)
        self.assertEqual((first.model_name, second.model_name), ("Varno4M", "Varno10"))
        first.serial_number = "changed"  # a copy
        self.assertEqual(self.pair.info()[0].serial_number, self.first_sn)

        states, actions = self.pair.states(), self.pair.actions()
        self.assertIsInstance(states[0], quiralvek.RobotStates)
        self.assertIsInstance(actions[1], quiralvek.RobotActions)
        for arm, base in ((0, FIRST_BASE), (1, SECOND_BASE)):
            tcp = self.sim.state(self.serials[arm])["tcp_pose"]
            expected = [tcp[i] + base[i] for i in range(3)] + tcp[3:]
            self.assertFloats([states[arm].tcp_pose, actions[arm].tcp_pose_des,
                               states[arm].flange_pose[:3], states[arm].link_position],
                              [expected, expected, expected[:3], HOME])

        for serial, level, event_id in ((self.first_sn, 2, 4101), (self.second_sn, 3, 7)):
            self.assertTrue(self.sim.wait_matched(serial, 5.0, ["event_log"]))
            self.sim.command("event", serial, level=level, event_id=event_id,
                             description="Joint 3 warm", consequences="", probable_causes="",
                             recommended_actions="Let it cool")
        self.assertTrue(wait_until(lambda: all(self.pair.event_log()), 3.0))
        first, second = self.pair.event_log()
        self.assertIsInstance(first[-1], quiralvek.RobotEvent)
        self.assertIsInstance(first[-1].timestamp, datetime.datetime)
        self.assertEqual([(log[-1].level, log[-1].id) for log in (first, second)],
                         [(2, 4101), (3, 7)])
        self.assertEqual(second[-1].recommended_actions, "Let it cool")

        self.set_modes(*PLANS)
        first, second = self.pair.plan_info()
        self.assertIsInstance(first, quiralvek.PlanInfo)
        self.assertEqual((first.item_0, second.item_0, first.item_7), ("", "", False))
        self.set_modes(*PRIMITIVES)
        self.pair.ExecutePrimitive(("Home", "Home"), ({}, {}))
        states = []
        self.assertTrue(wait_until(lambda: states.append(self.pair.primitive_states())
                                   or all("terminated" in arm for arm in states[-1]), 3.0))
        self.assertIn(states[-1][0]["terminated"], (0, 1))
        self.assertIsInstance(states[-1][1]["timePeriod"], (int, float))

    def test_z_robots_outlive_the_pair(self):
        # Runs last (test methods run in name order): it drops the pair.
        robots = self.pair.instances()
        self.assertIs(type(robots[0]), quiralvek.Robot)
        self.assertEqual(robots[1].info().serial_number, self.second_sn)
        self.assertIs(self.pair.instances()[0], robots[0])
        type(self).pair = None
        gc.collect()
        self.assertTrue(robots[0].connected() and robots[1].connected())

        def heartbeats():
            return self.sim.state(self.first_sn)["heartbeats"]["count"]

        count = heartbeats()
        self.assertTrue(wait_until(lambda: heartbeats() > count + 5, 3.0))
        # Dropping the last handle ends the link.
        del robots
        gc.collect()

        def silent():
            before = heartbeats()
            return not wait_until(lambda: heartbeats() > before, 0.3)

        self.assertTrue(wait_until(silent, 5.0))


if __name__ == "__main__":
    unittest.main()
