"""RobotPair's commands from Python: every method with its keyword names,
defaults and overloads, checked by what reaches the two simulated
controllers."""

import time
import unittest

import quiralvek
from pair_fixture import FIRST_BASE, HOME, SECOND_BASE, Mode, PairTestCase
from sim_harness import wait_until

CoordType = quiralvek.CoordType

# Procedure ids of the operations service.
ENABLE, CLEAR_FAULT, SWITCH_MODE, DIGITAL_OUTPUTS, BRAKE = 1, 2, 7, 8, 9
GLOBAL_VARIABLES, SET_GLOBAL_VARIABLES, LOCK_AXES, SYNC_POSITIONER = 11, 12, 13, 14
VELOCITY_SCALE, PRIMITIVE, PLAN, PLAN_LIST = 20, 21, 22, 23
PAUSE, RESUME, STOP_PLAN, BREAKPOINT_MODE, STEP = 24, 25, 26, 27, 28
CARTESIAN_IMPEDANCE, JOINT_IMPEDANCE, CONTACT_WRENCH, NULL_POSTURE = 70, 71, 72, 73
NULL_OBJECTIVES, INERTIA_SCALE, CONTACT_TORQUE = 74, 75, 76
FORCE_AXIS, FORCE_FRAME, PASSIVE_FORCE = 80, 81, 82


def ints(requests):
    return [r["int_args"] for r in requests]


class CommandTestCase(PairTestCase):
    def stop_both(self):
        """Ends plans, primitives and motion of both arms (IDLE)."""
        try:
            self.pair.Stop()
        except RuntimeError:
            for serial in self.serials:
                self.sim.set(serial, {"mode": 1})

    def assertNoRequests(self, procedure_id=None):
        for arm in (0, 1):
            self.assertEqual(self.new_requests(arm, procedure_id), [], "arm %d" % arm)

    def assertTypeError(self, call, *args, **kwargs):
        """The call matches no registration: TypeError, and nothing reaches
        either robot."""
        with self.assertRaises(TypeError) as caught:
            call(*args, **kwargs)
        self.assertIn("incompatible function arguments", str(caught.exception))
        self.assertNoRequests()
        return caught.exception


class ModesTest(CommandTestCase):
    def test_enable(self):
        for serial in self.serials:
            self.sim.set(serial, {"safety_board_state": 72})
        self.assertTrue(wait_until(lambda: self.pair.operational() is False, 3.0))
        self.since()
        self.assertIsNone(self.pair.Enable())
        self.assertEqual(len(self.new_requests(0, ENABLE)), 1)
        self.assertEqual(len(self.new_requests(1, ENABLE)), 1)
        self.assertTrue(wait_until(lambda: self.pair.operational(), 5.0))

    def test_switch_mode_overloads(self):
        self.assertIsNone(
            self.pair.SwitchMode((Mode.NRT_JOINT_POSITION, Mode.NRT_PLAN_EXECUTION)))
        self.assertEqual(ints(self.new_requests(0, SWITCH_MODE)), [[6]])
        self.assertEqual(ints(self.new_requests(1, SWITCH_MODE)), [[7]])
        self.assertTrue(wait_until(
            lambda: self.pair.mode() == (Mode.NRT_JOINT_POSITION, Mode.NRT_PLAN_EXECUTION), 3.0))

        # One mode for both arms: each goes through IDLE first.
        self.since()
        self.pair.SwitchMode(Mode.NRT_CARTESIAN_MOTION_FORCE)
        self.assertEqual(ints(self.new_requests(0, SWITCH_MODE)), [[1], [10]])
        self.assertEqual(ints(self.new_requests(1, SWITCH_MODE)), [[1], [10]])

        # Any two-item sequence selects the per-arm overload.
        self.since()
        self.pair.SwitchMode([Mode.NRT_JOINT_IMPEDANCE, Mode.IDLE])
        self.assertEqual(ints(self.new_requests(0, SWITCH_MODE)), [[1], [4]])
        self.assertEqual(ints(self.new_requests(1, SWITCH_MODE)), [[1]])

        self.since()
        for argument in (None, 6, (Mode.IDLE,), (Mode.IDLE, Mode.IDLE, Mode.IDLE),
                         (Mode.IDLE, None), (6, 6)):
            with self.subTest(argument=argument):
                self.assertTypeError(self.pair.SwitchMode, argument)
        self.assertTypeError(self.pair.SwitchMode, mode=Mode.IDLE)
        self.assertTypeError(self.pair.SwitchMode, arg0=Mode.IDLE)
        self.assertTypeError(self.pair.SwitchMode)

    def test_stop_overloads(self):
        self.set_modes(Mode.NRT_JOINT_POSITION, Mode.NRT_JOINT_POSITION)
        self.assertIsNone(self.pair.Stop((False, True)))
        self.assertEqual(self.new_requests(0, SWITCH_MODE), [])
        self.assertEqual(ints(self.new_requests(1, SWITCH_MODE)), [[1]])

        self.set_modes(Mode.NRT_JOINT_POSITION, Mode.NRT_JOINT_POSITION)
        self.pair.Stop()
        self.assertEqual(ints(self.new_requests(0, SWITCH_MODE)), [[1]])
        self.assertEqual(ints(self.new_requests(1, SWITCH_MODE)), [[1]])

        # Ints are no booleans in the first pass over both overloads, but
        # convert in the second.
        self.set_modes(Mode.NRT_JOINT_POSITION, Mode.NRT_JOINT_POSITION)
        self.pair.Stop([1, 0])
        self.assertEqual(ints(self.new_requests(0, SWITCH_MODE)), [[1]])
        self.assertEqual(self.new_requests(1, SWITCH_MODE), [])

        self.since()
        self.assertTypeError(self.pair.Stop, (True,))
        self.assertTypeError(self.pair.Stop, selected=(True, True))

    def test_clear_fault(self):
        self.sim.set(self.second_sn, {"fault": "minor"})
        self.assertTrue(wait_until(lambda: self.pair.which_fault() == (False, True), 3.0))
        self.since()
        self.assertEqual(self.pair.ClearFault(timeout_sec=5), (True, True))
        self.assertEqual(len(self.new_requests(0, CLEAR_FAULT)), 1)
        self.assertEqual(len(self.new_requests(1, CLEAR_FAULT)), 1)
        self.assertEqual(self.pair.which_fault(), (False, False))

        # The default time-out (30 s) is not reached: the fault is gone first.
        self.sim.set(self.first_sn, {"fault": "minor"})
        self.assertTrue(wait_until(lambda: self.pair.which_fault() == (True, False), 3.0))
        self.assertEqual(self.pair.ClearFault(), (True, True))

        # A fault that stays: both arms wait out the same time-out at once.
        self.sim.set(self.first_sn, {"fault": "minor", "fault_clearable": False})
        self.assertTrue(wait_until(lambda: self.pair.which_fault() == (True, False), 3.0))
        started = time.monotonic()
        self.assertEqual(self.pair.ClearFault(1), (False, True))
        self.assertLess(time.monotonic() - started, 1.9)

        self.since()
        for argument in (-1, 2**32, 1.5, None):
            with self.subTest(argument=argument):
                self.assertTypeError(self.pair.ClearFault, argument)
        self.assertTypeError(self.pair.ClearFault, timeout_sec=-1)
        self.assertTypeError(self.pair.ClearFault, timeout=1)

    def test_brake_is_positional_only(self):
        self.assertTypeError(self.pair.Brake, engage=True)
        self.assertTypeError(self.pair.Brake, arg0=True)
        self.assertTypeError(self.pair.Brake)
        # Only True or False: None, numbers or other objects release nothing.
        for argument in (None, 0, 1, 0.0, "", []):
            with self.subTest(argument=argument):
                self.assertTypeError(self.pair.Brake, argument)
        self.assertEqual(self.new_requests(0, BRAKE), [])
        # The first arm (medical) engages; the second has no brakes.
        with self.assertRaises(RuntimeError) as caught:
            self.pair.Brake(True)
        self.assertEqual(str(caught.exception),
                         "[quiral::bivek::RobotPair::Brake](second) "
                         "This function is only available to medical robots")
        self.assertEqual(ints(self.new_requests(0, BRAKE)), [[1]])
        self.assertEqual(self.new_requests(1, BRAKE), [])
        # Release the first arm's brakes again.
        with self.assertRaises(RuntimeError):
            self.pair.Brake(False)
        self.assertEqual(ints(self.new_requests(0, BRAKE)), [[1], [0]])

    def test_external_axes_and_positioner(self):
        self.assertIsNone(self.pair.LockExternalAxes((True, False)))
        self.assertEqual(ints(self.new_requests(0, LOCK_AXES)), [[1]])
        self.assertEqual(ints(self.new_requests(1, LOCK_AXES)), [[0]])
        self.since()
        self.assertIsNone(self.pair.SyncWithPositioner([False, True]))
        self.assertEqual(ints(self.new_requests(0, SYNC_POSITIONER)), [[0]])
        self.assertEqual(ints(self.new_requests(1, SYNC_POSITIONER)), [[1]])
        self.since()
        self.assertTypeError(self.pair.LockExternalAxes, lock=(True, True))
        self.assertTypeError(self.pair.SyncWithPositioner, (True, True, True))

    def test_run_auto_recovery(self):
        # Outside recovery nothing is sent.
        self.assertIsNone(self.pair.RunAutoRecovery())
        self.assertNoRequests()
        self.assertTypeError(self.pair.RunAutoRecovery, True)

        for serial in self.serials:
            self.sim.set(serial, {"recovery": True})
        try:
            self.assertTrue(wait_until(lambda: self.pair.recovery() == (True, True), 3.0))
            self.since()
            self.assertIsNone(self.pair.RunAutoRecovery())
            for arm in (0, 1):
                self.assertEqual(ints(self.new_requests(arm, SWITCH_MODE)), [[12]])
                self.assertGreaterEqual(len(self.new_motion(arm)), 1)
        finally:
            for serial in self.serials:
                self.sim.set(serial, {"recovery": False})


class PlansTest(CommandTestCase):
    def tearDown(self):
        self.stop_both()

    def test_execute_plan_overloads(self):
        self.set_modes(Mode.NRT_PLAN_EXECUTION, Mode.NRT_PLAN_EXECUTION)
        started = time.monotonic()
        self.assertIsNone(self.pair.ExecutePlan((0, 2)))
        # block_until_started defaults to True: the call waits for the start.
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        first = self.new_requests(0, PLAN)
        second = self.new_requests(1, PLAN)
        self.assertEqual([(r["long_string"], r["int_args"]) for r in first], [("HomePlan", [0])])
        self.assertEqual([(r["long_string"], r["int_args"]) for r in second], [("WaitPlan", [0])])
        self.assertEqual(len(self.new_requests(0, PLAN_LIST)), 1)

        self.since()
        self.pair.ExecutePlan(names=("MainPlan", "WaitPlan"), continue_exec=True,
                              block_until_started=False)
        self.assertEqual([(r["long_string"], r["int_args"]) for r in self.new_requests(0, PLAN)],
                         [("MainPlan", [1])])
        self.assertEqual(self.new_requests(0, PLAN_LIST), [])

        self.since()
        self.pair.ExecutePlan(["WaitPlan", "HomePlan"], block_until_started=False)
        self.assertEqual([r["long_string"] for r in self.new_requests(1, PLAN)], ["HomePlan"])
        self.since()
        self.pair.ExecutePlan(indices=[1, 1], continue_exec=False, block_until_started=False)
        self.assertEqual([r["long_string"] for r in self.new_requests(1, PLAN)], ["MainPlan"])

        self.since()
        for args, kwargs in [(((0, "WaitPlan"),), {}), (((0.0, 1.0),), {}),
                             (((-1, 0),), {}), (((0, 1, 2),), {}),
                             ((), {"indices": ("HomePlan", "WaitPlan")}),
                             ((), {"names": (0, 1)}),
                             (((0, 1),), {"continue": True}), ((), {})]:
            with self.subTest(args=args, kwargs=kwargs):
                self.assertTypeError(self.pair.ExecutePlan, *args, **kwargs)

    def test_pause_and_stop_plans(self):
        self.set_modes(Mode.NRT_PLAN_EXECUTION, Mode.NRT_PLAN_EXECUTION)
        self.assertIsNone(self.pair.PausePlan((True, False)))
        self.assertEqual(len(self.new_requests(0, PAUSE)), 1)
        self.assertEqual(len(self.new_requests(1, RESUME)), 1)
        self.assertEqual(self.new_requests(0, RESUME) + self.new_requests(1, PAUSE), [])

        self.since()
        self.assertIsNone(self.pair.StopPlan((False, True)))
        self.assertEqual(self.new_requests(0, STOP_PLAN), [])
        self.assertEqual(len(self.new_requests(1, STOP_PLAN)), 1)
        self.since()
        self.pair.StopPlan((False, False))
        self.assertNoRequests()
        self.pair.StopPlan()
        self.assertEqual(len(self.new_requests(0, STOP_PLAN)), 1)
        self.assertEqual(len(self.new_requests(1, STOP_PLAN)), 1)

        self.since()
        self.assertTypeError(self.pair.PausePlan, pause=(True, True))
        self.assertTypeError(self.pair.PausePlan)
        self.assertTypeError(self.pair.StopPlan, (True,))

    def test_breakpoints_and_velocity_scale(self):
        self.set_modes(Mode.NRT_PLAN_EXECUTION, Mode.NRT_PLAN_EXECUTION)
        self.assertIsNone(self.pair.SetBreakpointMode((True, False)))
        self.assertEqual(ints(self.new_requests(0, BREAKPOINT_MODE)), [[1]])
        self.assertEqual(ints(self.new_requests(1, BREAKPOINT_MODE)), [[0]])
        self.since()
        self.assertIsNone(self.pair.StepBreakpoint((False, True)))
        self.assertEqual(self.new_requests(0, STEP), [])
        self.assertEqual(len(self.new_requests(1, STEP)), 1)
        self.since()
        self.assertIsNone(self.pair.SetVelocityScale((50, 100)))
        self.assertEqual(ints(self.new_requests(0, VELOCITY_SCALE)), [[50]])
        self.assertEqual(ints(self.new_requests(1, VELOCITY_SCALE)), [[100]])

        self.since()
        for argument in ((-1, 5), (1.5, 2), (2**32, 1), (10,), None):
            with self.subTest(argument=argument):
                self.assertTypeError(self.pair.SetVelocityScale, argument)
        self.assertTypeError(self.pair.SetVelocityScale, velocity_scale=(1, 1))
        self.assertTypeError(self.pair.SetBreakpointMode, is_enabled=(True, True))
        self.assertTypeError(self.pair.StepBreakpoint, (True, True, False))

    def test_execute_primitive(self):
        self.set_modes(Mode.NRT_PRIMITIVE_EXECUTION, Mode.NRT_PRIMITIVE_EXECUTION)
        started = time.monotonic()
        self.assertIsNone(self.pair.ExecutePrimitive(
            ("Home", "Wave"), ({"speed": 0.25, "count": 3}, {})))
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.assertEqual([r["long_string"] for r in self.new_requests(0, PRIMITIVE)],
                         ["Home(count = 3, speed = 0.25)"])
        self.assertEqual([r["long_string"] for r in self.new_requests(1, PRIMITIVE)], ["Wave()"])

        self.since()
        self.pair.ExecutePrimitive(primitive_names=["Wave", "Home"],
                                   input_params=[{"label": "a b"}, {"on": True}],
                                   block_until_started=False)
        self.assertEqual([r["long_string"] for r in self.new_requests(0, PRIMITIVE)],
                         ["Wave(label = a b)"])
        self.assertEqual([r["long_string"] for r in self.new_requests(1, PRIMITIVE)],
                         ["Home(on = 1)"])

        states = []
        self.assertTrue(wait_until(
            lambda: states.append(self.pair.primitive_states()) or
            all("terminated" in s for s in states[-1]), 3.0))
        first, second = states[-1]
        self.assertIsInstance(first, dict)
        self.assertIn(first["terminated"], (0, 1))
        self.assertIsInstance(first["timePeriod"], (int, float))

        self.since()
        self.assertTypeError(self.pair.ExecutePrimitive, ("Home", "Home"))
        self.assertTypeError(self.pair.ExecutePrimitive, ("Home", "Home"), ({}, {}), True, 1)
        self.assertTypeError(self.pair.ExecutePrimitive, ("Home", "Home"), ({}, {}), wait=True)

    def test_global_variables(self):
        for serial in self.serials:
            self.sim.set(serial, {"global_variables": {"zeta": "1", "Alpha": "x y",
                                                       "alpha": "2.5", "mid": "1 2.5"}})
        first, second = self.pair.global_variables()
        self.assertEqual(list(first), ["Alpha", "alpha", "mid", "zeta"])
        self.assertEqual(first, {"Alpha": ["x", "y"], "alpha": 2.5, "mid": [1.0, 2.5],
                                 "zeta": 1})
        self.assertIsInstance(first["zeta"], int)
        self.assertEqual(second, first)

        self.since()
        self.assertIsNone(self.pair.SetGlobalVariables(({"zeta": 3, "alpha": 0.5},
                                                        {"mid": [1, 2]})))
        self.assertEqual([r["long_string"] for r in self.new_requests(0, SET_GLOBAL_VARIABLES)],
                         ["alpha = 0.5, zeta = 3"])
        self.assertEqual([r["long_string"] for r in self.new_requests(1, SET_GLOBAL_VARIABLES)],
                         ["mid = 1 2"])
        self.since()
        self.assertTypeError(self.pair.SetGlobalVariables, global_vars=({"zeta": 1}, {}))
        self.assertTypeError(self.pair.SetGlobalVariables, {"zeta": 1})


class MotionTest(CommandTestCase):
    def tearDown(self):
        self.stop_both()

    def test_send_joint_position(self):
        self.switch_both(Mode.NRT_JOINT_POSITION)
        first = [0.1, -0.5, 0.0, 1.2, 0.0, 0.5, 0.2]
        second = [-0.1, -0.6, 0.1, 1.4, 0.0, 0.6, -0.2]
        zeros = [0.0] * 7
        self.assertIsNone(self.pair.SendJointPosition(
            (first, second), (zeros, zeros), ([1.0] * 7, [0.5] * 7), ([2.0] * 7, [3.0] * 7)))
        command = self.new_motion(0)[-1]["joint"]
        self.assertFloats(command["position"], first)
        self.assertFloats(command["max_vel"], [1.0] * 7)
        self.assertFloats(command["max_acc"], [2.0] * 7)
        command = self.new_motion(1)[-1]["joint"]
        self.assertFloats(command["position"], second)
        self.assertFloats(command["velocity"], zeros)
        self.assertFloats(command["max_vel"], [0.5] * 7)
        self.assertTrue(wait_until(
            lambda: all(abs(a - b) < 1e-3 for a, b in
                        zip(self.pair.states()[0].link_position, first)), 5.0))

        self.since()
        arms = (first, second)
        with self.assertRaises(TypeError):
            self.pair.SendJointPosition(positions=arms, velocities=arms, max_vel=arms,
                                        max_acc=arms)
        with self.assertRaises(TypeError):
            self.pair.SendJointPosition(arms, arms, arms)
        with self.assertRaises(TypeError):
            self.pair.SendJointPosition(arms, arms, arms, (first,))
        self.assertEqual(self.new_motion(0, timeout=0.3), [])

    def test_send_cartesian_motion_force_defaults_in_world_frame(self):
        self.switch_both(Mode.NRT_CARTESIAN_MOTION_FORCE)
        states = self.pair.states()
        # 3 cm down from where each TCP is, in the world frame.
        targets = []
        for arm in (0, 1):
            pose = list(states[arm].tcp_pose)
            pose[2] -= 0.03
            targets.append(pose)
        self.assertIsNone(self.pair.SendCartesianMotionForce(tuple(targets)))
        for arm, base in ((0, FIRST_BASE), (1, SECOND_BASE)):
            command = self.new_motion(arm)[-1]["cartesian"]
            expected = [targets[arm][i] - base[i] for i in range(3)] + targets[arm][3:]
            self.assertFloats(command["pose"], expected)
            self.assertFloats(command["wrench"], [0.0] * 6)
            self.assertFloats(command["velocity"], [0.0] * 6)
            self.assertFloats([command["max_linear_vel"], command["max_angular_vel"],
                               command["max_linear_acc"], command["max_angular_acc"]],
                              [0.5, 1.0, 2.0, 5.0])
        self.assertTrue(wait_until(
            lambda: abs(self.pair.states()[0].tcp_pose[2] - targets[0][2]) < 2e-3, 5.0))

        # Every keyword, per-arm values.
        self.since()
        self.pair.SendCartesianMotionForce(
            poses=[targets[0], targets[1]],
            wrenches=([1.0, 0, 0, 0, 0, 0], [0, 2.0, 0, 0, 0, 0]),
            velocities=([0.0] * 6, [0.0] * 6),
            max_linear_vel=(0.2, 0.3), max_angular_vel=(0.4, 0.5),
            max_linear_acc=(1.5, 1.6), max_angular_acc=(2.5, 2.6))
        command = self.new_motion(1)[-1]["cartesian"]
        self.assertFloats(command["wrench"], [0, 2.0, 0, 0, 0, 0])
        self.assertFloats([command["max_linear_vel"], command["max_angular_vel"],
                           command["max_linear_acc"], command["max_angular_acc"]],
                          [0.3, 0.5, 1.6, 2.6])

        self.since()
        with self.assertRaises(TypeError):
            self.pair.SendCartesianMotionForce((targets[0][:6], targets[1]))
        with self.assertRaises(TypeError):
            self.pair.SendCartesianMotionForce((targets[0] + [0.0], targets[1]))
        with self.assertRaises(TypeError):
            self.pair.SendCartesianMotionForce(tuple(targets), max_linear_vel=0.5)
        self.assertEqual(self.new_motion(0, timeout=0.3), [])

    def test_send_multi_cartesian_motion_force(self):
        self.switch_both(Mode.NRT_SUPER_PRIMITIVE)
        states = self.pair.states()
        waypoints = []
        for arm in (0, 1):
            cmd = quiralvek.NrtCartesianCmd()
            pose = list(states[arm].tcp_pose)
            pose[0] += 0.02
            cmd.pose = pose
            cmd.max_linear_vel, cmd.max_angular_vel = 0.3, 0.6
            cmd.max_linear_acc, cmd.max_angular_acc = 1.0, 2.0
            waypoints.append(cmd)
        joints = [list(states[0].link_position), list(states[1].link_position)]
        self.assertIsNone(self.pair.SendMultiCartesianMotionForce(
            cart_cmds=([waypoints[0]], [waypoints[1]]), joint_pos=([joints[0]], [joints[1]])))
        for arm, base in ((0, FIRST_BASE), (1, SECOND_BASE)):
            item = self.new_motion(arm)[-1]
            pose = waypoints[arm].pose
            expected = [pose[i] - base[i] for i in range(3)] + list(pose[3:])
            self.assertEqual(len(item["cartesian_multi"]), 1)
            self.assertFloats(item["cartesian_multi"][0]["pose"], expected)
            self.assertFloats([item["cartesian_multi"][0]["max_linear_vel"]], [0.3])
            self.assertEqual(len(item["joint_multi_positions"]), 1)
            self.assertFloats(item["joint_multi_positions"][0], joints[arm])
        # The caller's waypoints are not changed.
        self.assertFloats(waypoints[0].pose[:3], [states[0].tcp_pose[0] + 0.02,
                                                   *states[0].tcp_pose[1:3]])

        self.since()
        with self.assertRaises(TypeError):
            self.pair.SendMultiCartesianMotionForce(([waypoints[0]], [None]),
                                                    ([joints[0]], [joints[1]]))
        with self.assertRaises(TypeError):
            self.pair.SendMultiCartesianMotionForce(([waypoints[0]], [waypoints[1]]))
        self.assertEqual(self.new_motion(0, timeout=0.3), [])


class SettingsTest(CommandTestCase):
    def tearDown(self):
        self.stop_both()

    def floats(self, arm, procedure_id):
        requests = self.new_requests(arm, procedure_id)
        self.assertEqual(len(requests), 1, "arm %d, procedure %d" % (arm, procedure_id))
        return requests[0]["float_args"]

    def test_joint_settings(self):
        self.set_modes(Mode.NRT_JOINT_IMPEDANCE, Mode.NRT_JOINT_IMPEDANCE)
        self.assertIsNone(self.pair.SetJointImpedance(K_q=([100.0] * 7, [200.0] * 7)))
        self.assertFloats(self.floats(0, JOINT_IMPEDANCE), [100.0] * 7 + [0.7] * 7)
        self.assertFloats(self.floats(1, JOINT_IMPEDANCE), [200.0] * 7 + [0.7] * 7)
        self.since()
        self.pair.SetJointImpedance(([100.0] * 7, [200.0] * 7), Z_q=([0.5] * 7, [0.6] * 7))
        self.assertFloats(self.floats(1, JOINT_IMPEDANCE), [200.0] * 7 + [0.6] * 7)

        self.since()
        self.assertIsNone(self.pair.SetMaxContactTorque(([10.0] * 7, [20.0] * 7)))
        self.assertFloats(self.floats(0, CONTACT_TORQUE), [10.0] * 7)
        self.assertFloats(self.floats(1, CONTACT_TORQUE), [20.0] * 7)
        self.since()
        self.assertIsNone(self.pair.SetJointInertiaScale(([1.0] * 7, [0.8] * 7)))
        self.assertFloats(self.floats(1, INERTIA_SCALE), [0.8] * 7)

        self.since()
        self.assertTypeError(self.pair.SetJointImpedance)
        self.assertTypeError(self.pair.SetJointImpedance, Z_q=([], []))
        self.assertTypeError(self.pair.SetMaxContactTorque, max_torques=([1.0] * 7, [1.0] * 7))
        self.assertTypeError(self.pair.SetJointInertiaScale, ([1.0] * 7, "1234567"))

    def test_cartesian_settings(self):
        self.set_modes(Mode.NRT_CARTESIAN_MOTION_FORCE, Mode.NRT_CARTESIAN_MOTION_FORCE)
        self.assertIsNone(self.pair.SetCartesianImpedance(K_x=([1000.0] * 6, [2000.0] * 6)))
        self.assertFloats(self.floats(0, CARTESIAN_IMPEDANCE), [1000.0] * 6 + [0.7] * 6)
        self.assertFloats(self.floats(1, CARTESIAN_IMPEDANCE), [2000.0] * 6 + [0.7] * 6)

        self.since()
        self.pair.SetCartesianImpedance(([1000.0] * 6, [2000.0] * 6),
                                        Z_x=([0.5] * 6, [0.6, 0.6, 0.6, 0.7, 0.7, 0.7]))
        self.assertFloats(self.floats(1, CARTESIAN_IMPEDANCE),
                          [2000.0] * 6 + [0.6, 0.6, 0.6, 0.7, 0.7, 0.7])

        self.since()
        self.assertIsNone(self.pair.SetMaxContactWrench(([10.0] * 6, [20.0] * 6)))
        self.assertFloats(self.floats(1, CONTACT_WRENCH), [20.0] * 6)

        self.since()
        self.assertIsNone(self.pair.SetNullSpacePosture((HOME, HOME)))
        self.assertFloats(self.floats(0, NULL_POSTURE), HOME)

        self.since()
        self.assertIsNone(self.pair.SetNullSpaceObjectives())
        self.assertFloats(self.floats(0, NULL_OBJECTIVES), [0.0, 0.0, 0.5])
        self.assertFloats(self.floats(1, NULL_OBJECTIVES), [0.0, 0.0, 0.5])
        self.since()
        self.pair.SetNullSpaceObjectives(angular_manipulability=(0.25, 0.75),
                                         ref_positions_tracking=(0.6, 0.9))
        self.assertFloats(self.floats(0, NULL_OBJECTIVES), [0.0, 0.25, 0.6])
        self.assertFloats(self.floats(1, NULL_OBJECTIVES), [0.0, 0.75, 0.9])
        self.since()
        self.pair.SetNullSpaceObjectives(linear_manipulability=(0.5, 0.125))
        self.assertFloats(self.floats(1, NULL_OBJECTIVES), [0.125, 0.0, 0.5])
        self.since()
        # A parameter given by position and by keyword matches nothing.
        self.assertTypeError(self.pair.SetNullSpaceObjectives, (0.5, 0.5),
                             linear_manipulability=(0.5, 0.5))

        self.since()
        self.assertIsNone(self.pair.SetForceControlAxis(
            enabled_axes=([True, False, True, False, False, False], [1, 0, 0, 0, 0, 1])))
        first = self.new_requests(0, FORCE_AXIS)[0]
        second = self.new_requests(1, FORCE_AXIS)[0]
        self.assertEqual(first["int_args"], [1, 0, 1, 0, 0, 0])
        self.assertEqual(second["int_args"], [1, 0, 0, 0, 0, 1])
        self.assertFloats(first["float_args"], [1.0, 1.0, 1.0])
        self.since()
        self.pair.SetForceControlAxis(([True] * 6, [False] * 6), max_linear_vel=([0.5] * 3,
                                                                                 [0.25] * 3))
        self.assertFloats(self.floats(1, FORCE_AXIS), [0.25] * 3)

        self.since()
        self.assertIsNone(self.pair.SetForceControlFrame(root_coord=(CoordType.WORLD,
                                                                     CoordType.TCP)))
        first = self.new_requests(0, FORCE_FRAME)[0]
        second = self.new_requests(1, FORCE_FRAME)[0]
        self.assertEqual((first["string_args"], second["string_args"]), (["WORLD"], ["TCP"]))
        self.assertFloats(first["float_args"], [0, 0, 0, 1, 0, 0, 0])
        self.assertFloats(second["float_args"], [0, 0, 0, 1, 0, 0, 0])
        self.since()
        # Poses of the force-control frame pass unchanged (no world shift).
        frame = [0.1, 0.2, 0.3, 1.0, 0.0, 0.0, 0.0]
        self.pair.SetForceControlFrame([CoordType.TCP, CoordType.TCP], T_in_root=(frame, frame))
        self.assertFloats(self.floats(0, FORCE_FRAME), frame)

        self.since()
        self.assertTypeError(self.pair.SetCartesianImpedance, ([1000.0] * 5, [1000.0] * 6))
        self.assertTypeError(self.pair.SetMaxContactWrench, max_wrench=([1.0] * 6, [1.0] * 6))
        self.assertTypeError(self.pair.SetNullSpaceObjectives, (0.1, 0.2), (0.1, 0.2), (0.5,))
        self.assertTypeError(self.pair.SetForceControlAxis, ([True] * 5, [True] * 6))
        self.assertTypeError(self.pair.SetForceControlFrame, (0, 1))
        self.assertTypeError(self.pair.SetForceControlFrame, (CoordType.WORLD, None))

    def test_idle_settings(self):
        self.assertIsNone(self.pair.SetPassiveForceControl((True, False)))
        self.assertEqual(ints(self.new_requests(0, PASSIVE_FORCE)), [[1]])
        self.assertEqual(ints(self.new_requests(1, PASSIVE_FORCE)), [[0]])

        self.since()
        self.assertIsNone(self.pair.SetDigitalOutputs(({0: True, 17: False}, {5: True})))
        first = [-1] * 18
        first[0], first[17] = 1, 0
        second = [-1] * 18
        second[5] = 1
        self.assertEqual(ints(self.new_requests(0, DIGITAL_OUTPUTS)), [first])
        self.assertEqual(ints(self.new_requests(1, DIGITAL_OUTPUTS)), [second])

        self.since()
        self.assertTypeError(self.pair.SetDigitalOutputs, ({-1: True}, {}))
        self.assertTypeError(self.pair.SetDigitalOutputs, ({"0": True}, {}))
        self.assertTypeError(self.pair.SetDigitalOutputs, ([(0, True)], {}))
        self.assertTypeError(self.pair.SetPassiveForceControl, is_enabled=(True, True))


if __name__ == "__main__":
    unittest.main()
