"""RobotPair from Python against two simulated controllers, for what the
binding owns: each method reaches its own native operation, overloads,
conversions both ways, exception classes, Brake's booleans and the lifetime
of robot handles. What the pair does with each arm the C++ tests prove."""

import datetime
import gc
import unittest

import quiralvek  # registers the single-robot types
import quiralbivek
from sim_harness import SimProcess, unique_serial, wait_until

Mode, CoordType = quiralvek.Mode, quiralvek.CoordType
IDLE, JOINT = (Mode.IDLE,) * 2, (Mode.NRT_JOINT_POSITION,) * 2
PLANS = (Mode.NRT_PLAN_EXECUTION,) * 2
BOTH, V6, V7 = (True, True), ([1.0] * 6,) * 2, ([1.0] * 7,) * 2
IDENTITY = [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0]
READY = {"estop": False, "fault": None, "recovery": False, "safety_board_state": 12,
         "system_state": 4, "global_variables": dict.fromkeys("abcdefgh", "0")}
# Procedure ids of the operations service.
SWITCH_MODE, DIGITAL_OUTPUTS, BRAKE, SET_GLOBAL_VARIABLES, VELOCITY_SCALE = 7, 8, 9, 12, 20
PLAN, STOP_PLAN = 22, 26


def call(method, *args, **kwargs):
    return method, args, kwargs


class PairTestCase(unittest.TestCase):
    """Per test class a simulator with two ready controllers (the first a
    medical model, with brakes) and a pair; each test starts with both arms
    ready and idle and no fault rule."""

    @classmethod
    def setUpClass(cls):
        cls.serials = (unique_serial("Varno4M"), unique_serial("Varno10"))
        cls.sim = SimProcess(cls.serials, ["--initial-state", "ready"])
        cls.addClassCleanup(cls.sim.quit)
        cls.pair = quiralbivek.RobotPair(cls.serials, network_interface_whitelist=["127.0.0.1"])
        cls.addClassCleanup(delattr, cls, "pair")

    def setUp(self):
        for serial in self.serials:
            self.sim.command("clear_faults", serial)
            self.sim.set(serial, READY)
        self.assertTrue(wait_until(lambda: self.pair.operational()
                                   and self.pair.recovery() == (False, False), 5.0))
        self.pair.Stop()  # ends a mode switch that an earlier test requested
        self.set_modes(*IDLE)

    def set_modes(self, first, second):
        """Sets both controllers' modes, waits until the pair sees them, and
        marks the request records for received()."""
        for serial, mode in zip(self.serials, (first, second)):
            self.sim.set(serial, {"mode": int(mode)})
        self.assertTrue(wait_until(lambda: self.pair.mode() == (first, second), 3.0))
        self.marks = [self.sim.request_total(serial) for serial in self.serials]

    def received(self, arm, procedure, field):
        """A field of each request of one procedure to one arm since the mark."""
        items = self.sim.requests(self.serials[arm], self.marks[arm], procedure)
        return [item[field] for item in items]


def outputs(**ports):
    """The digital-output request: -1 for every port not set."""
    values = [-1] * 18
    for port, value in ports.items():
        values[int(port[1:])] = int(value)
    return values


def param_values():
    jpos, coord = quiralvek.JPos(), quiralvek.Coord()
    jpos.q_m = [0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0]
    coord.position, coord.orientation = [0.5, 0.0, 0.25], [180.0, 0.0, 90.0]
    coord.ref_frame = ["WORLD", "WORLD_ORIGIN"]
    return ({"a": True, "b": 3, "c": 2.5, "d": [1.5, 2], "e": [], "f": ("x", "y"), "g": jpos,
             "h": b"raw"}, {"a": [1, 2, 3], "b": [jpos, jpos], "c": coord, "d": False})


WAYPOINT = quiralvek.NrtCartesianCmd()
WAYPOINT.pose, WAYPOINT.max_linear_vel, WAYPOINT.max_angular_vel = IDENTITY, 1.0, 1.0
WAYPOINT.max_linear_acc = WAYPOINT.max_angular_acc = 1.0

# One call of every command method that sends a request (arguments that
# convert and pass the pair's argument checks, whatever the arm then makes
# of them).
CALLS = {
    "Enable": (), "Brake": (True,), "SwitchMode": (JOINT,), "ClearFault": (0,),
    "RunAutoRecovery": (), "SetGlobalVariables": (({"a": 1}, {"a": 1}),),
    "global_variables": (), "plan_list": (), "plan_info": (), "LockExternalAxes": (BOTH,),
    "SyncWithPositioner": (BOTH,), "ExecutePlan": ((0, 0),), "PausePlan": (BOTH,),
    "StopPlan": (), "SetBreakpointMode": (BOTH,), "StepBreakpoint": (BOTH,),
    "SetVelocityScale": ((50, 50),), "ExecutePrimitive": (("Home", "Home"), ({}, {})),
    "SendJointPosition": (V7, V7, V7, V7), "SetJointImpedance": (V7,),
    "SetMaxContactTorque": (V7,), "SetJointInertiaScale": (V7,), "SetNullSpacePosture": (V7,),
    "SendCartesianMotionForce": ((IDENTITY, IDENTITY),),
    "SendMultiCartesianMotionForce": (([WAYPOINT],) * 2, ([V7[0]],) * 2),
    "SetCartesianImpedance": (V6,), "SetMaxContactWrench": (V6,), "SetNullSpaceObjectives": (),
    "SetForceControlAxis": (([True] * 6,) * 2,), "SetForceControlFrame": ((CoordType.TCP,) * 2,),
    "SetPassiveForceControl": (BOTH,), "SetDigitalOutputs": (({0: True}, {}),),
}

# Overloads and conversions as the arms receive them: (modes, call,
# procedure, request field, each request's field at the first arm, at the
# second arm).
WIRE = [
    (IDLE, call("SwitchMode", Mode.NRT_CARTESIAN_MOTION_FORCE), SWITCH_MODE, "int_args", [[10]],
     [[10]]),
    (IDLE, call("SwitchMode", [Mode.NRT_JOINT_IMPEDANCE, Mode.IDLE]), SWITCH_MODE, "int_args",
     [[4]], []),
    (JOINT, call("Stop"), SWITCH_MODE, "int_args", [[1]], [[1]]),
    # Ints are no booleans in the first pass over both overloads, but
    # convert in the second.
    (JOINT, call("Stop", [1, 0]), SWITCH_MODE, "int_args", [[1]], []),
    (PLANS, call("StopPlan", (False, True)), STOP_PLAN, "procedure_id", [], [STOP_PLAN]),
    (PLANS, call("ExecutePlan", ["WaitPlan", "HomePlan"], block_until_started=False), PLAN,
     "long_string", ["WaitPlan"], ["HomePlan"]),
    (IDLE, call("SetDigitalOutputs", ({0: True, 17: False}, {5: True})), DIGITAL_OUTPUTS,
     "int_args", [outputs(p0=1, p17=0)], [outputs(p5=1)]),
    (IDLE, call("SetGlobalVariables", param_values()), SET_GLOBAL_VARIABLES, "long_string",
     ["a = 1, b = 3, c = 2.5, d = 1.5 2, e = , f = x y, "
      "g = 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0, h = raw"],
     ["a = 1 2 3, b = 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0 : 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0, "
      "c = 0.5 0 0.25 180 0 90 WORLD WORLD_ORIGIN, d = 0"]),
    (IDLE, call("SetGlobalVariables", ({"a": 2**31 - 1}, {"a": -2**31})), SET_GLOBAL_VARIABLES,
     "long_string", ["a = 2147483647"], ["a = -2147483648"]),
]

# Calls that match no registration (TypeError) and reach no robot.
REFUSED = [
    call("SwitchMode", 6), call("ExecutePlan", (-1, 0)), call("ClearFault", 2**32),
    call("ClearFault", 1.5), call("Stop", (True,)),
    call("SetForceControlAxis", ([True] * 5, [True] * 6)),
    call("SetDigitalOutputs", ({-1: True}, {})), call("SetGlobalVariables", ({1: 2}, {})),
    call("SetGlobalVariables", ({"a": [1, "a"]}, {})),
    call("SendMultiCartesianMotionForce", ([quiralvek.JPos()], []), ([], [])),
] + [call("SetVelocityScale", value) for value in ((10,), {10: 20}, "ab", (1.0, 2))]


class CommandsTest(PairTestCase):
    def test_each_method_reaches_its_own_operation(self):
        # Every request fails, and the first arm is in recovery: each call
        # fails with its own operation's name.
        self.sim.set(self.serials[0], {"recovery": True})
        self.assertTrue(wait_until(lambda: self.pair.recovery()[0], 3.0))
        for serial in self.serials:
            self.sim.fault(serial, procedure_id="all", kind="fail", count=-1)
        commands = {name for name in vars(quiralbivek.RobotPair) if name[0].isupper()}
        self.assertEqual(commands - set(CALLS), {"Stop"})  # in WIRE
        for method, args in CALLS.items():
            with self.subTest(method=method):
                with self.assertRaisesRegex(RuntimeError, r"^\[quiral::(bivek::RobotPair|vek::"
                                            r"Robot)::%s\]" % method):
                    getattr(self.pair, method)(*args)

    def test_overloads_and_conversions(self):
        for modes, (method, args, kwargs), procedure, field, first, second in WIRE:
            with self.subTest(method=method, args=args, kwargs=kwargs):
                self.setUp()
                self.set_modes(*modes)
                self.assertIsNone(getattr(self.pair, method)(*args, **kwargs))
                self.assertEqual(self.received(0, procedure, field), first)
                self.assertEqual(self.received(1, procedure, field), second)

    def test_refused_calls_reach_no_robot(self):
        for method, args, kwargs in REFUSED:
            with self.subTest(method=method, args=args, kwargs=kwargs):
                self.assertRaises(TypeError, getattr(self.pair, method), *args, **kwargs)
        self.assertEqual([self.sim.requests(s, m) for s, m in zip(self.serials, self.marks)],
                         [[], []])
        self.set_modes(*PLANS)
        for value in ((10, 20), [10, 20], range(10, 30, 10)):
            self.pair.SetVelocityScale(value)
        self.assertEqual(self.received(0, VELOCITY_SCALE, "int_args"), [[10]] * 3)
        self.assertEqual(self.received(1, VELOCITY_SCALE, "int_args"), [[20]] * 3)

    def test_brake_takes_only_true_or_false(self):
        # None or a number never releases the brakes.
        for argument in (None, 0, 1, 0.0, "", []):
            self.assertRaises(TypeError, self.pair.Brake, argument)
        with self.assertRaisesRegex(RuntimeError, r"^\[quiral::bivek::RobotPair::Brake\]\(second\) "
                                    r"This function is only available to medical robots$"):
            self.pair.Brake(True)
        self.assertEqual(self.received(0, BRAKE, "int_args"), [[1]])
        self.assertEqual(self.received(1, BRAKE, "int_args"), [])

    def test_exception_classes(self):
        # std::invalid_argument and std::length_error as ValueError,
        # std::out_of_range as IndexError; texts unchanged.
        self.set_modes(*PLANS)
        with self.assertRaisesRegex(ValueError, r"^\[quiral::bivek::RobotPair::SetVelocityScale\]"
                                    r"\(first\) Input parameter \[velocity_scale\] cannot exceed"):
            self.pair.SetVelocityScale((101, 50))
        with self.assertRaisesRegex(ValueError, r"^\[quiral::bivek::RobotPair::SetGlobalVariables"
                                    r"\]\(second\) Input map \[global_vars\] is empty$"):
            self.pair.SetGlobalVariables(({"a": 1}, {}))
        # Integers beyond 32 bits are refused, not sent as rounded floats.
        self.assertRaises(OverflowError, self.pair.SetGlobalVariables, ({"a": 1}, {"a": 2**31}))
        with self.assertRaisesRegex(OverflowError, r"^\[quiral::vek::ParamVariant\] Integer "
                                    r"\[-2147483649\] does not fit the 32-bit integer of a "
                                    r"parameter value; pass a float for a real number$"):
            self.pair.SetGlobalVariables(({"a": 1}, {"a": [1.5, -2**31 - 1]}))
        self.sim.set(self.serials[1], {"global_variables": {"big": "99999999999"}})
        with self.assertRaisesRegex(IndexError, "^stoi$"):
            self.pair.global_variables()


class ResultsTest(PairTestCase):
    def test_results_convert(self):
        self.assertEqual(repr(self.pair), "<quiralbivek.RobotPair>")
        inputs = [i % 3 == 0 for i in range(18)]
        self.sim.set(self.serials[0], {"digital_inputs": inputs, "global_variables": {
            "n": "7", "x": "0.5", "s": "idle", "ni": "1 2", "nf": "1 2.5", "ns": "a b", "e": ""}})
        self.sim.set(self.serials[1], {"fault": "minor", "global_variables": {"z": "1", "A": "x"}})
        self.assertTrue(wait_until(lambda: self.pair.digital_inputs()[0] == inputs
                                   and self.pair.which_fault() == (False, True), 3.0))
        # Booleans stay booleans, pairs are tuples, maps keep their key order.
        for name, value in [
                ("connected", True), ("fault", True), ("which_fault", (False, True)),
                ("mode", IDLE), ("digital_inputs", (inputs, [False] * 18)),
                ("operational_status", (quiralvek.OperationalStatus.READY,
                                        quiralvek.OperationalStatus.MINOR_FAULT)),
                ("plan_list", (["HomePlan", "MainPlan", "WaitPlan"],) * 2),
                ("global_variables", ({"e": [], "n": 7, "nf": [1.0, 2.5], "ni": [1, 2],
                                       "ns": ["a", "b"], "s": "idle", "x": 0.5},
                                      {"A": "x", "z": 1}))]:
            with self.subTest(query=name):
                result = getattr(self.pair, name)()
                self.assertEqual((result, type(result)), (value, type(value)))
        self.assertEqual(list(self.pair.global_variables()[0]), ["e", "n", "nf", "ni", "ns", "s",
                                                                 "x"])
        self.assertIsInstance(self.pair.states()[1], quiralvek.RobotStates)
        self.assertEqual(tuple(info.serial_number for info in self.pair.info()), self.serials)

        self.assertTrue(wait_until(
            lambda: self.sim.state(self.serials[1])["matched"]["event_log"] >= 1, 5.0))
        self.sim.command("event", self.serials[1], level=3, event_id=7, description="Joint warm",
                         consequences="", probable_causes="", recommended_actions="Let it cool")
        self.assertTrue(wait_until(lambda: self.pair.event_log()[1], 3.0))
        event = self.pair.event_log()[1][-1]
        self.assertEqual((event.level, event.id, event.recommended_actions), (3, 7, "Let it cool"))
        self.assertIsInstance(event.timestamp, datetime.datetime)


class LifetimeTest(unittest.TestCase):
    def test_robots_outlive_the_pair(self):
        serials = (unique_serial("Varno4"), unique_serial("Varno4"))
        sim = SimProcess(serials, ["--initial-state", "ready"])
        self.addCleanup(sim.quit)
        pair = quiralbivek.RobotPair(serials, network_interface_whitelist=["127.0.0.1"])
        robots = pair.instances()
        self.assertIs(type(robots[0]), quiralvek.Robot)
        self.assertIs(pair.instances()[0], robots[0])
        del pair
        gc.collect()
        self.assertTrue(robots[0].connected() and robots[1].connected())

        def heartbeats():
            return sim.state(serials[0])["heartbeats"]["count"]

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
