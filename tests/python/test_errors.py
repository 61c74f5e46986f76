"""Native errors at the Python boundary: the exception class each native
class maps to, and the texts, arm tags included, unchanged."""

import unittest

from pair_fixture import HOME, Mode, PairTestCase
from sim_harness import wait_until


class BoundaryErrorsTest(PairTestCase):
    def assertRaisesExactly(self, exception, text, call, *args, **kwargs):
        with self.assertRaises(Exception) as caught:
            call(*args, **kwargs)
        self.assertIs(type(caught.exception), exception, repr(caught.exception))
        self.assertEqual(str(caught.exception), text)

    def tearDown(self):
        try:
            self.pair.Stop()
        except RuntimeError:
            pass

    def test_invalid_argument_is_value_error(self):
        self.switch_both(Mode.NRT_JOINT_POSITION)
        good = [list(HOME)] * 2
        self.assertRaisesExactly(
            ValueError,
            "[quiral::bivek::RobotPair::SendJointPosition](first) "
            "Size of input vector [positions] does not match robot DoF",
            self.pair.SendJointPosition, (HOME[:6], HOME), good, ([1.0] * 7,) * 2,
            ([1.0] * 7,) * 2)
        self.assertRaisesExactly(
            ValueError,
            "[quiral::bivek::RobotPair::SendJointPosition](second) Input parameters "
            "[max_vel] and [max_acc] must be greater than 0",
            self.pair.SendJointPosition, good, good, ([1.0] * 7, [0.0] * 7), ([1.0] * 7,) * 2)
        # Both arms fail: the first arm's error leaves.
        self.assertRaisesExactly(
            ValueError,
            "[quiral::bivek::RobotPair::SendJointPosition](first) "
            "Size of input vector [velocities] does not match robot DoF",
            self.pair.SendJointPosition, good, ([], []), ([1.0] * 7,) * 2, ([1.0] * 7,) * 2)

    def test_length_error_is_value_error(self):
        self.assertRaisesExactly(
            ValueError,
            "[quiral::bivek::RobotPair::SetGlobalVariables](second) "
            "Input map [global_vars] is empty",
            self.pair.SetGlobalVariables, ({"counter": 1}, {}))

    def test_logic_error_is_runtime_error(self):
        self.sim.set(self.second_sn, {"estop": True})
        self.assertTrue(wait_until(lambda: self.pair.estop_released() == (True, False), 3.0))
        self.assertRaisesExactly(
            RuntimeError,
            "[quiral::bivek::RobotPair::Enable](second) E-stop is not released",
            self.pair.Enable)
        # A wrong state of the arm, re-tagged as std::logic_error.
        self.assertRaisesExactly(
            RuntimeError,
            "[quiral::bivek::RobotPair::SwitchMode](second) "
            "Robot is not operational: E-Stop not released",
            self.pair.SwitchMode, Mode.NRT_JOINT_POSITION)

    def test_runtime_error_untagged(self):
        # SendJointPosition re-tags only std::invalid_argument and
        # std::logic_error: the arm's runtime error passes with its own text.
        self.switch_both(Mode.NRT_JOINT_POSITION)
        self.sim.set(self.first_sn, {"safety_board_state": 72})
        self.assertTrue(wait_until(lambda: not self.pair.operational(), 3.0))
        self.assertRaisesExactly(
            RuntimeError,
            "[quiral::vek::Robot::SendJointPosition] Robot is not operational: Not enabled",
            self.pair.SendJointPosition, (HOME, HOME), ([0.0] * 7,) * 2, ([1.0] * 7,) * 2,
            ([1.0] * 7,) * 2)
        self.sim.set(self.first_sn, {"safety_board_state": 12})
        self.assertTrue(wait_until(lambda: self.pair.operational(), 3.0))

    def test_out_of_range_is_index_error(self):
        # A value of the robot that is no 32-bit integer: std::out_of_range
        # from the text reader, passed untagged by global_variables.
        self.sim.set(self.first_sn, {"global_variables": {"big": "99999999999"}})
        self.assertRaisesExactly(IndexError, "stoi", self.pair.global_variables)

    def test_failed_request_is_runtime_error(self):
        self.sim.fault(self.second_sn, procedure_id=11, kind="fail", count=1)
        self.assertRaisesExactly(
            RuntimeError,
            "[quiral::bivek::RobotPair::global_variables](second) No reply from the robot",
            self.pair.global_variables)


if __name__ == "__main__":
    unittest.main()
