"""quiralbivek without the companion module quiralvek: signatures name the
single-robot types by their native names, results of those types fail to
convert, arguments of those types match no overload and reach no robot;
importing the companion later makes the same calls convert.

This process must not import quiralvek before the last test, which does."""

import sys
import unittest

import quiralbivek
from sim_harness import SimProcess, unique_serial, wait_until

RobotPair = quiralbivek.RobotPair


class WithoutCompanionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.serials = (unique_serial("Varno4"), unique_serial("Varno4"))
        cls.sim = SimProcess(cls.serials, ["--initial-state", "ready"])
        try:
            cls.pair = RobotPair(cls.serials, network_interface_whitelist=["127.0.0.1"])
        except BaseException:
            cls.sim.quit()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.pair = None
        cls.sim.quit()

    def setUp(self):
        if self._testMethodName != "test_z_companion_imported_later":
            self.assertNotIn("quiralvek", sys.modules)

    def test_results_fail_to_convert(self):
        self.assertEqual(self.pair.which_busy(), (False, False))
        self.assertIn("-> Tuple[quiral::vek::RobotInfo, quiral::vek::RobotInfo]",
                      RobotPair.info.__doc__)
        for name, native in [("mode", "Mode"), ("info", "RobotInfo"), ("states", "RobotStates"),
                             ("operational_status", "OperationalStatus"),
                             ("instances", "Robot")]:
            with self.subTest(method=name):
                with self.assertRaises(TypeError) as caught:
                    getattr(self.pair, name)()
                self.assertTrue(str(caught.exception).startswith(
                    "Unable to convert function return value to a Python type! "
                    "The signature was\n\t(self: quiralbivek.RobotPair) -> "), caught.exception)
                cause = caught.exception.__cause__
                self.assertIs(type(cause), TypeError)
                self.assertEqual(str(cause), "Unregistered type : quiral::vek::" + native)

    def test_arguments_match_no_overload(self):
        totals = [self.sim.request_total(s) for s in self.serials]
        for argument in (1, (1, 1), None, "IDLE"):
            with self.subTest(argument=argument):
                with self.assertRaises(TypeError) as caught:
                    self.pair.SwitchMode(argument)
                self.assertTrue(str(caught.exception).startswith(
                    "SwitchMode(): incompatible function arguments. "
                    "The following argument types are supported:\n"
                    "    1. (self: quiralbivek.RobotPair, "
                    "arg0: Tuple[quiral::vek::Mode, quiral::vek::Mode]) -> None\n"
                    "    2. (self: quiralbivek.RobotPair, arg0: quiral::vek::Mode) -> None\n"),
                    str(caught.exception))
        with self.assertRaises(TypeError):
            self.pair.SetForceControlFrame((0, 1))
        for serial, total in zip(self.serials, totals):
            self.assertEqual(self.sim.requests(serial, total), [])

    # Runs last (test methods run in name order): it imports the companion.
    def test_z_companion_imported_later(self):
        with self.assertRaises(TypeError):
            self.pair.mode()
        import quiralvek

        self.assertTrue(wait_until(
            lambda: self.pair.mode() == (quiralvek.Mode.IDLE, quiralvek.Mode.IDLE), 5.0))
        info = self.pair.info()
        self.assertIsInstance(info[0], quiralvek.RobotInfo)
        self.assertEqual((info[0].serial_number, info[1].serial_number), self.serials)
        # Signatures were rendered when quiralbivek was imported.
        self.assertIn("arg0: quiral::vek::Mode", RobotPair.SwitchMode.__doc__)
        self.pair.SwitchMode((quiralvek.Mode.NRT_JOINT_POSITION, quiralvek.Mode.IDLE))
        self.assertTrue(wait_until(
            lambda: self.pair.mode()[0] == quiralvek.Mode.NRT_JOINT_POSITION, 3.0))
        self.pair.Stop()


if __name__ == "__main__":
    unittest.main()
