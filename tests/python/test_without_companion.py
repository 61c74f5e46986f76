"""quiralbivek without the companion module quiralvek: results of the
single-robot types fail to convert, arguments of those types match no
overload and reach no robot; importing the companion later makes the same
calls convert. This process must not import quiralvek before that."""

import sys
import unittest

import quiralbivek
from sim_harness import SimProcess, unique_serial, wait_until

RobotPair = quiralbivek.RobotPair


class WithoutCompanionTest(unittest.TestCase):
    def test_companion_types_convert_once_it_is_imported(self):
        serials = (unique_serial("Varno4"), unique_serial("Varno4"))
        sim = SimProcess(serials, ["--initial-state", "ready"])
        self.addCleanup(sim.quit)
        pair = RobotPair(serials, network_interface_whitelist=["127.0.0.1"])
        self.addCleanup(lambda: pair.Stop())
        self.assertNotIn("quiralvek", sys.modules)

        self.assertEqual(pair.which_busy(), (False, False))
        for name, native in [("mode", "Mode"), ("info", "RobotInfo"), ("states", "RobotStates"),
                             ("operational_status", "OperationalStatus"),
                             ("instances", "Robot")]:
            with self.subTest(method=name):
                with self.assertRaises(TypeError) as caught:
                    getattr(pair, name)()
                self.assertTrue(str(caught.exception).startswith(
                    "Unable to convert function return value to a Python type! "
                    "The signature was\n\t(self: quiralbivek.RobotPair) -> "), caught.exception)
                self.assertEqual(str(caught.exception.__cause__),
                                 "Unregistered type : quiral::vek::" + native)

        totals = [sim.request_total(serial) for serial in serials]
        for argument in (1, (1, 1), None, "IDLE"):
            with self.subTest(argument=argument):
                with self.assertRaises(TypeError) as caught:
                    pair.SwitchMode(argument)
                self.assertIn("    2. (self: quiralbivek.RobotPair, arg0: quiral::vek::Mode) -> "
                              "None\n", str(caught.exception))
        with self.assertRaises(TypeError):
            pair.SetForceControlFrame((0, 1))
        for serial, total in zip(serials, totals):
            self.assertEqual(sim.requests(serial, total), [])

        import quiralvek

        Mode = quiralvek.Mode
        self.assertTrue(wait_until(lambda: pair.mode() == (Mode.IDLE, Mode.IDLE), 5.0))
        info = pair.info()
        self.assertIsInstance(info[0], quiralvek.RobotInfo)
        self.assertEqual((info[0].serial_number, info[1].serial_number), serials)
        # Signatures were rendered when quiralbivek was imported.
        self.assertIn("arg0: quiral::vek::Mode", RobotPair.SwitchMode.__doc__)
        pair.SwitchMode((Mode.NRT_JOINT_POSITION, Mode.IDLE))
        self.assertTrue(wait_until(lambda: pair.mode()[0] == Mode.NRT_JOINT_POSITION, 3.0))


if __name__ == "__main__":
    unittest.main()
