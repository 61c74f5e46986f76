"""quiralbivek without the companion module quiralvek: results of the
single-robot types fail to convert, arguments of those types match no
overload and reach no robot; importing the companion later makes the same
calls convert. This process must not import quiralvek before that."""

import sys
import unittest

import quiralbivek
from sim_harness import SimProcess, unique_serial, wait_until


class WithoutCompanionTest(unittest.TestCase):
    def test_companion_types_convert_once_it_is_imported(self):
        serials = (unique_serial("Varno4"), unique_serial("Varno4"))
        sim = SimProcess(serials, ["--initial-state", "ready"])
        self.addCleanup(sim.quit)
        pair = quiralbivek.RobotPair(serials, network_interface_whitelist=["127.0.0.1"])
        self.assertNotIn("quiralvek", sys.modules)

        self.assertEqual(pair.which_busy(), (False, False))
        for name, native in [("mode", "Mode"), ("info", "RobotInfo"), ("instances", "Robot")]:
            with self.subTest(method=name):
                with self.assertRaisesRegex(TypeError, r"^Unable to convert function return value "
                                            r"to a Python type! The signature was\n\t\(self: "
                                            r"quiralbivek\.RobotPair\) -> ") as caught:
                    getattr(pair, name)()
                self.assertEqual(str(caught.exception.__cause__),
                                 "Unregistered type : quiral::vek::" + native)
        totals = [sim.request_total(serial) for serial in serials]
        for argument in (1, (1, 1), "IDLE"):
            with self.assertRaisesRegex(TypeError, r"    2\. \(self: quiralbivek\.RobotPair, arg0: "
                                        r"quiral::vek::Mode\) -> None\n"):
                pair.SwitchMode(argument)
        self.assertEqual([sim.requests(s, total) for s, total in zip(serials, totals)], [[], []])

        import quiralvek

        Mode = quiralvek.Mode
        self.assertTrue(wait_until(lambda: pair.mode() == (Mode.IDLE, Mode.IDLE), 5.0))
        self.assertEqual(tuple(info.serial_number for info in pair.info()), serials)
        pair.SwitchMode((Mode.NRT_JOINT_POSITION, Mode.IDLE))
        self.assertTrue(wait_until(lambda: pair.mode()[0] == Mode.NRT_JOINT_POSITION, 3.0))
        pair.Stop()


if __name__ == "__main__":
    unittest.main()
