"""An integer parameter value beyond 32 bits is refused, not sent as a rounded
float; one within them is sent as an integer."""

import unittest

import quiralvek  # noqa: F401  registers the single-robot types
import quiralbivek
from sim_harness import SimProcess, unique_serial


class ParamIntegerTest(unittest.TestCase):
    def test_integers_beyond_32_bits_are_refused(self):
        serials = (unique_serial(), unique_serial())
        sim = SimProcess(serials, ["--initial-state", "ready"])
        self.addCleanup(sim.quit)
        pair = quiralbivek.RobotPair(serials, network_interface_whitelist=["127.0.0.1"])
        marks = [sim.request_total(serial) for serial in serials]
        for value in (2**31, -2**31 - 1, [1.5, 2**53 + 1]):
            shown = value[-1] if isinstance(value, list) else value
            with self.assertRaisesRegex(OverflowError, r"^\[quiral::vek::ParamVariant\] Integer "
                                        r"\[%d\] does not fit the 32-bit integer of a parameter "
                                        r"value; pass a float for a real number$" % shown):
                pair.SetGlobalVariables(({"counter": 1}, {"counter": value}))
        self.assertEqual([sim.request_total(serial) for serial in serials], marks)
        pair.SetGlobalVariables(({"counter": 2**31 - 1}, {"counter": -2**31}))  # procedure 12
        self.assertEqual([sim.requests(serial, mark, 12)[0]["long_string"]
                          for serial, mark in zip(serials, marks)],
                         ["counter = 2147483647", "counter = -2147483648"])
