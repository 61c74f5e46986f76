"""A test class base with one simulator process running two controllers and
one RobotPair connected to them, shared by the tests of the class.

Every test starts with both arms ready, idle, at rest, without faults and
without fault rules. `self.since()` marks the simulators' records;
`self.new_requests(arm, procedure_id)` and `self.new_motion(arm)` return
what arrived after the mark.
"""

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

    def new_motion(self, arm, timeout=3.0):
        """The motion commands of one arm since the last mark, once there is
        one (best effort: they may take a moment); [] when none came."""
        items = []

        def arrived():
            items[:] = self.sim.motion_commands(self.serials[arm], self._motion_marks[arm])
            return items

        wait_until(arrived, timeout, period=0.02)
        return items

    def set_modes(self, first, second):
        """Sets both controllers' modes directly, waits until the pair sees
        them, and marks the records."""
        for serial, mode in zip(self.serials, (first, second)):
            self.sim.set(serial, {"mode": int(mode)})
        self.assertTrue(wait_until(lambda: self.pair.mode() == (first, second), 3.0))
        self.since()

    def switch_both(self, mode):
        """Switches both arms through the pair and waits until the pair sees
        the new mode."""
        self.pair.SwitchMode(mode)
        self.assertTrue(wait_until(lambda: self.pair.mode() == (mode, mode), 3.0))
        self.since()

    def assertNothingSent(self):
        for arm in (0, 1):
            self.assertEqual(self.new_requests(arm), [], "arm %d" % arm)

    def assertRefused(self, call, *args, **kwargs):
        """The call matches no registration: TypeError, nothing reaches either
        robot."""
        with self.assertRaises(TypeError) as caught:
            call(*args, **kwargs)
        self.assertNothingSent()
        return caught.exception

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
