"""RobotPair's queries from Python against two simulated controllers: the
per-arm tuples, the single-robot records, world-frame poses, the fixed
repr, and the robots handed out by instances()."""

import datetime
import gc
import unittest

import quiralvek
import quiralbivek
from pair_fixture import FIRST_BASE, HOME, SECOND_BASE, Mode, PairTestCase
from sim_harness import wait_until

OperationalStatus = quiralvek.OperationalStatus


class QueriesTest(PairTestCase):
    def test_repr_and_attributes(self):
        self.assertEqual(repr(self.pair), "<quiralbivek.RobotPair>")
        self.assertEqual(str(self.pair), "<quiralbivek.RobotPair>")
        with self.assertRaises(AttributeError):
            self.pair.note = "left arm on the table"
        with self.assertRaises(AttributeError):
            self.pair.__dict__
        self.assertIsInstance(self.pair, quiralbivek.RobotPair)

    def test_status_of_ready_arms(self):
        pair = self.pair
        self.assertIs(pair.connected(), True)
        self.assertIs(pair.stopped(), True)
        self.assertIs(pair.operational(), True)
        self.assertIs(pair.busy(), False)
        self.assertIs(pair.fault(), False)
        self.assertEqual(pair.which_busy(), (False, False))
        self.assertEqual(pair.which_fault(), (False, False))
        self.assertEqual(pair.reduced(), (False, False))
        self.assertEqual(pair.recovery(), (False, False))
        self.assertEqual(pair.estop_released(), (True, True))
        self.assertEqual(pair.enabling_button_pressed(), (False, False))
        self.assertEqual(pair.mode(), (Mode.IDLE, Mode.IDLE))
        self.assertIsInstance(pair.mode(), tuple)
        self.assertEqual(pair.operational_status(),
                         (OperationalStatus.READY, OperationalStatus.READY))

    def test_status_per_arm(self):
        self.sim.set(self.first_sn, {"estop": True})
        self.sim.set(self.second_sn, {"enabling_button": True, "fault": "minor"})
        self.assertTrue(wait_until(
            lambda: self.pair.estop_released() == (False, True)
            and self.pair.enabling_button_pressed() == (False, True)
            and self.pair.which_fault() == (False, True), 3.0))
        self.assertIs(self.pair.fault(), True)
        self.assertIs(self.pair.operational(), False)
        self.assertEqual(self.pair.operational_status(),
                         (OperationalStatus.ESTOP_NOT_RELEASED, OperationalStatus.MINOR_FAULT))

        self.sim.set(self.first_sn, {"estop": False, "safety_board_state": 10, "system_state": 4})
        self.sim.set(self.second_sn, {"fault": None, "recovery": True})
        self.assertTrue(wait_until(
            lambda: self.pair.reduced() == (True, False)
            and self.pair.recovery() == (False, True), 3.0))
        self.assertEqual(self.pair.operational_status()[0], OperationalStatus.IN_REDUCED_STATE)

    def test_info(self):
        first, second = self.pair.info()
        self.assertIsInstance(first, quiralvek.RobotInfo)
        self.assertEqual(first.serial_number, self.first_sn)
        self.assertEqual(second.serial_number, self.second_sn)
        self.assertEqual(first.model_name, "Varno4M")
        self.assertEqual(second.model_name, "Varno10")
        self.assertEqual((first.DoF_e, first.DoF_m, first.DoF), (0, 7, 7))
        self.assertEqual(len(first.q_max), 7)
        self.assertAlmostEqual(first.q_max[0], 2.79, places=5)
        self.assertAlmostEqual(first.q_min[5], -1.40, places=5)
        self.assertEqual(len(first.K_x_max), 6)
        # A new copy on every call.
        first.serial_number = "changed"
        self.assertEqual(self.pair.info()[0].serial_number, self.first_sn)

    def test_states_and_actions_in_world_frame(self):
        states = self.pair.states()
        actions = self.pair.actions()
        self.assertIsInstance(states, tuple)
        self.assertIsInstance(states[0], quiralvek.RobotStates)
        self.assertIsInstance(actions[1], quiralvek.RobotActions)
        for arm, base in ((0, FIRST_BASE), (1, SECOND_BASE)):
            sim_state = self.sim.state(self.serial(arm))
            tcp = sim_state["tcp_pose"]
            expected = [tcp[i] + base[i] for i in range(3)] + tcp[3:]
            self.assertFloats(states[arm].tcp_pose, expected)
            self.assertFloats(actions[arm].tcp_pose_des, expected)
            self.assertFloats(states[arm].link_position, HOME)
            self.assertEqual(len(states[arm].tcp_pose), 7)
            self.assertEqual(len(states[arm].ext_wrench_in_world), 6)
            # The flange is the TCP without a tool: shifted the same way.
            self.assertFloats(states[arm].flange_pose[:3], expected[:3])

    def test_digital_inputs(self):
        first = [i % 3 == 0 for i in range(18)]
        second = [i == 17 for i in range(18)]
        self.sim.set(self.first_sn, {"digital_inputs": first})
        self.sim.set(self.second_sn, {"digital_inputs": second})
        self.assertTrue(wait_until(lambda: self.pair.digital_inputs() == (first, second), 3.0))
        inputs = self.pair.digital_inputs()
        self.assertIsInstance(inputs, tuple)
        self.assertIsInstance(inputs[0], list)
        self.assertEqual(len(inputs[1]), 18)

    def test_event_log(self):
        for arm in (0, 1):
            self.assertTrue(self.sim.wait_matched(self.serial(arm), 5.0, ["event_log"]))
        self.sim.command("event", self.first_sn, level=2, event_id=4101,
                         description="Joint 3 warm", consequences="", probable_causes="",
                         recommended_actions="Let it cool")
        self.sim.command("event", self.second_sn, level=3, event_id=7,
                         description="Torque limit", consequences="Stopped",
                         probable_causes="", recommended_actions="")
        self.assertTrue(wait_until(
            lambda: all(len(log) >= 1 for log in self.pair.event_log()), 3.0))
        first, second = self.pair.event_log()
        self.assertIsInstance(first, list)
        event = first[-1]
        self.assertIsInstance(event, quiralvek.RobotEvent)
        self.assertEqual((event.level, event.id, event.description, event.recommended_actions),
                         (2, 4101, "Joint 3 warm", "Let it cool"))
        self.assertIsInstance(event.timestamp, datetime.datetime)
        self.assertEqual((second[-1].level, second[-1].consequences), (3, "Stopped"))

    def test_plans(self):
        self.assertEqual(self.pair.plan_list(),
                         (["HomePlan", "MainPlan", "WaitPlan"],
                          ["HomePlan", "MainPlan", "WaitPlan"]))
        with self.assertRaises(RuntimeError) as caught:
            self.pair.plan_info()
        self.assertEqual(str(caught.exception),
                         "[quiral::bivek::RobotPair::plan_info](first) "
                         "Robot is not in an applicable control mode")
        self.set_modes(Mode.NRT_PLAN_EXECUTION, Mode.NRT_PLAN_EXECUTION)
        first, second = self.pair.plan_info()
        self.assertIsInstance(first, quiralvek.PlanInfo)
        self.assertEqual((first.item_0, second.item_0), ("", ""))
        self.assertIs(first.item_7, False)

    def test_instances(self):
        robots = self.pair.instances()
        self.assertIsInstance(robots, tuple)
        self.assertIs(type(robots[0]), quiralvek.Robot)
        self.assertEqual(robots[0].info().serial_number, self.first_sn)
        self.assertEqual(robots[1].info().serial_number, self.second_sn)
        again = self.pair.instances()
        self.assertIs(again[0], robots[0])
        self.assertIs(again[1], robots[1])


class InstancesTest(PairTestCase):
    """The robots handed out by instances() outlive the pair."""

    def test_robots_outlive_the_pair(self):
        first, second = self.pair.instances()
        type(self).pair = None
        gc.collect()
        self.assertTrue(first.connected())
        self.assertTrue(second.connected())

        # The link stays up: heartbeats keep arriving.
        def heartbeats():
            return self.sim.state(self.first_sn)["heartbeats"]["count"]

        count = heartbeats()
        self.assertTrue(wait_until(lambda: heartbeats() > count + 5, 3.0))

        # Dropping the last handle ends the link.
        del first, second
        gc.collect()

        def silent():
            before = heartbeats()
            return not wait_until(lambda: heartbeats() > before, 0.3)

        self.assertTrue(wait_until(silent, 5.0))

    def setUp(self):
        pass  # the pair is gone after the test


if __name__ == "__main__":
    unittest.main()
