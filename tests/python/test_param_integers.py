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
        mark = sim.request_total(serials[1])
        for value in (2**31, [1.5, -2**31 - 1]):
            with self.assertRaises(OverflowError) as raised:
                pair.SetGlobalVariables(({"counter": 1}, {"counter": value}))
        self.assertEqual(str(raised.exception), "[quiral::vek::ParamVariant] Integer [-2147483649] "
                         "does not fit the 32-bit integer of a parameter value; pass a float for "
                         "a real number")
        pair.SetGlobalVariables(({"counter": 1}, {"counter": 2**31 - 1}))
        self.assertEqual([item["long_string"] for item in sim.requests(serials[1], mark, 12)],
                         ["counter = 2147483647"])  # procedure 12 sets global variables
