"""A test class base with one simulator process running two controllers and
one RobotPair connected to them, shared by the tests of the class.

Every test starts with both arms ready, idle, at rest, without faults and
without fault rules. `self.since()` marks the simulators' request records,
`self.new_requests(arm, procedure_id)` returns what arrived after the mark.
"""

import unittest

import quiralvek  # registers the single-robot types before quiralbivek
import quiralbivek
from sim_harness import SimProcess, unique_serial, wait_until

Mode = quiralvek.Mode

# Base positions of the two arms in the world frame.
FIRST_BASE = [1.0, 2.0, 3.0]
SECOND_BASE = [-0.5, 0.25, -2.0]

WHITELIST = ["127.0.0.1"]

READY_STATE = {
    "estop": False,
    "enabling_button": False,
    "fault": None,
    "fault_clearable": True,
    "mode": 1,
    "program_running": None,
    "safety_board_state": 12,
    "system_state": 4,
    "velocity_override": None,
    "digital_inputs": [False] * 18,
}

# Joint positions of the simulated arms at their start ("home").
HOME = [0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0]


class PairTestCase(unittest.TestCase):
    # The first arm is a medical model (the only one with brakes).
    FIRST_MODEL = "Varno4M"
    SECOND_MODEL = "Varno10"
    SIM_ARGS = ("--initial-state", "ready")

    sim = None
    pair = None

    @classmethod
    def setUpClass(cls):
        cls.first_sn = unique_serial(cls.FIRST_MODEL)
        cls.second_sn = unique_serial(cls.SECOND_MODEL)
        cls.serials = (cls.first_sn, cls.second_sn)
        cls.sim = SimProcess(list(cls.serials), list(cls.SIM_ARGS))
        try:
            cls.pair = quiralbivek.RobotPair(
                (cls.first_sn, cls.second_sn), (FIRST_BASE, SECOND_BASE), WHITELIST
            )
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
            self.sim.clear_faults(serial)
            self.sim.set(serial, READY_STATE)
        self.assertTrue(
            wait_until(
                lambda: self.pair.operational()
                and self.pair.stopped()
                and self.pair.mode() == (Mode.IDLE, Mode.IDLE)
                and self.pair.estop_released() == (True, True),
                5.0,
            ),
            "both arms ready and idle",
        )
        # A mode that an earlier test requested through the pair counts as
        # pending until the arm asks for IDLE again: ask now, so that every
        # test starts with no switch pending.
        self.pair.Stop()
        self.since()

    # ------------------------------------------------------------- helpers

    def serial(self, arm):
        return self.serials[arm]

    def since(self):
        """Marks the request and motion-command records of both arms."""
        self._marks = [self.sim.request_total(s) for s in self.serials]
        self._motion_marks = [self.sim.motion_total(s) for s in self.serials]

    def new_requests(self, arm, procedure_id=None):
        """Operations requests of one arm since the last mark."""
        return self.sim.requests(self.serial(arm), self._marks[arm], procedure_id)

    def new_motion(self, arm, count=1, timeout=3.0):
        """The motion commands of one arm since the last mark, once there
        are at least `count` (best effort: they may take a moment)."""
        items = []

        def arrived():
            items[:] = self.sim.motion_commands(self.serial(arm), self._motion_marks[arm])
            return len(items) >= count

        wait_until(arrived, timeout, period=0.02)
        return items

    def set_modes(self, first, second):
        """Sets both controllers' modes directly and waits until the pair
        sees them."""
        self.sim.set(self.first_sn, {"mode": int(first)})
        self.sim.set(self.second_sn, {"mode": int(second)})
        self.assertTrue(wait_until(lambda: self.pair.mode() == (first, second), 3.0))
        self.since()

    def switch_both(self, mode):
        """Switches both arms through the pair and waits until the pair sees
        the new mode."""
        self.pair.SwitchMode(mode)
        self.assertTrue(wait_until(lambda: self.pair.mode() == (mode, mode), 3.0))
        self.since()

    def assertFloats(self, actual, expected, places=5):
        self.assertEqual(len(actual), len(expected), "%r vs %r" % (actual, expected))
        for a, e in zip(actual, expected):
            self.assertAlmostEqual(a, e, places=places, msg="%r vs %r" % (actual, expected))
