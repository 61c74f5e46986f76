"""Value conversions at the Python boundary, seen at the simulated
controllers: per-arm sequences, fixed-size lists, numbers, booleans, maps
and the parameter values of global variables and primitives."""

import unittest

import quiralvek
from pair_fixture import Mode, PairTestCase
from sim_harness import wait_until

SET_GLOBAL_VARIABLES = 12
VELOCITY_SCALE = 20
FORCE_AXIS = 80

VARIABLES = {"a": "0", "b": "0", "c": "0", "d": "0", "e": "0", "f": "0", "g": "0"}


class Index:
    """An object that is an integer through __index__ only."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class ConversionsTest(PairTestCase):
    def setUp(self):
        super().setUp()
        for serial in self.serials:
            self.sim.set(serial, {"global_variables": VARIABLES})
        self.since()

    def sent_variables(self, arm):
        requests = self.new_requests(arm, SET_GLOBAL_VARIABLES)
        self.assertEqual(len(requests), 1)
        return requests[0]["long_string"]

    def assertRefused(self, call, *args, **kwargs):
        with self.assertRaises(TypeError):
            call(*args, **kwargs)
        for arm in (0, 1):
            self.assertEqual(self.new_requests(arm), [])

    def test_per_arm_sequences(self):
        self.set_modes(Mode.NRT_PLAN_EXECUTION, Mode.NRT_PLAN_EXECUTION)
        try:
            for value in ((10, 20), [10, 20], range(10, 30, 10), (Index(10), Index(20))):
                with self.subTest(value=value):
                    self.since()
                    self.pair.SetVelocityScale(value)
                    self.assertEqual(self.new_requests(0, VELOCITY_SCALE)[0]["int_args"], [10])
                    self.assertEqual(self.new_requests(1, VELOCITY_SCALE)[0]["int_args"], [20])
            self.since()
            for value in ((10,), (10, 20, 30), [], 10, {10: 20}, {10, 20}, None):
                with self.subTest(value=value):
                    self.assertRefused(self.pair.SetVelocityScale, value)
            # Never a float for an integer, never a negative or too large one.
            for value in ((10.0, 20), (-1, 20), (10, 2**32), ("10", "20")):
                with self.subTest(value=value):
                    self.assertRefused(self.pair.SetVelocityScale, value)
        finally:
            self.pair.Stop()

    def test_fixed_size_lists_and_booleans(self):
        self.set_modes(Mode.NRT_CARTESIAN_MOTION_FORCE, Mode.NRT_CARTESIAN_MOTION_FORCE)
        try:
            six = [True, False, True, False, False, True]
            # Booleans as bools, tuples, or ints 0/1 (converted).
            self.pair.SetForceControlAxis((six, tuple(six)), ((0.5, 0.5, 0.5), [1, 1, 1]))
            self.assertEqual(self.new_requests(0, FORCE_AXIS)[0]["int_args"], [1, 0, 1, 0, 0, 1])
            self.assertFloats(self.new_requests(1, FORCE_AXIS)[0]["float_args"], [1.0] * 3)
            self.since()
            self.pair.SetForceControlAxis(([1, 0, 0, 0, 0, 0], [0, 0, 0, 0, 0, 1]))
            self.assertEqual(self.new_requests(0, FORCE_AXIS)[0]["int_args"], [1, 0, 0, 0, 0, 0])
            self.assertEqual(self.new_requests(1, FORCE_AXIS)[0]["int_args"], [0, 0, 0, 0, 0, 1])
            self.since()
            for axes in ((six[:5], six), (six, six + [True]), ("TFTFFT", six), (six, None)):
                with self.subTest(axes=axes):
                    self.assertRefused(self.pair.SetForceControlAxis, axes)
            self.assertRefused(self.pair.SetForceControlAxis, (six, six), ([1.0] * 2, [1.0] * 3))
            self.assertRefused(self.pair.SetMaxContactWrench, ([1.0] * 6, [1.0] * 7))
        finally:
            self.pair.Stop()

    def test_strings(self):
        # A str is no list of str, and no pair of two one-letter names here.
        with self.assertRaises(TypeError):
            type(self.pair)(self.serials, network_interface_whitelist="127.0.0.1")
        self.since()
        self.pair.SetGlobalVariables(({"a": b"raw", "b": bytearray(b"xy")}, {"c": "text"}))
        self.assertEqual(self.sent_variables(0), "a = raw, b = xy")
        self.assertEqual(self.sent_variables(1), "c = text")

    def test_parameter_values(self):
        jpos = quiralvek.JPos()
        jpos.q_m = [0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0]
        coord = quiralvek.Coord()
        coord.position = [0.5, 0.0, 0.25]
        coord.orientation = [180.0, 0.0, 90.0]
        coord.ref_frame = ["WORLD", "WORLD_ORIGIN"]
        self.pair.SetGlobalVariables((
            {"a": True, "b": 3, "c": 2.5, "d": [1.5, 2], "e": [], "f": ("x", "y"), "g": jpos},
            {"a": [1, 2, 3], "b": [jpos, jpos], "c": coord, "d": False},
        ))
        self.assertEqual(
            self.sent_variables(0),
            "a = 1, b = 3, c = 2.5, d = 1.5 2, e = , f = x y, "
            "g = 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0")
        self.assertEqual(
            self.sent_variables(1),
            "a = 1 2 3, b = 0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0 : "
            "0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0, "
            "c = 0.5 0 0.25 180 0 90 WORLD WORLD_ORIGIN, d = 0")

        self.since()
        for value in (None, [1, "a"], {"x": 1}, object()):
            with self.subTest(value=value):
                self.assertRefused(self.pair.SetGlobalVariables, ({"a": value}, {"b": 1}))
        self.assertRefused(self.pair.SetGlobalVariables, ({1: 2}, {"b": 1}))
        self.assertRefused(self.pair.SetGlobalVariables, ([("a", 1)], {"b": 1}))

    def test_parameter_results(self):
        for serial in self.serials:
            self.sim.set(serial, {"global_variables": {
                "n": "7", "x": "0.5", "s": "idle", "ni": "1 2", "nf": "1 2.5",
                "ns": "a b", "none": ""}})
        first, _ = self.pair.global_variables()
        self.assertEqual(list(first), ["n", "nf", "ni", "none", "ns", "s", "x"])
        self.assertEqual(first, {"n": 7, "x": 0.5, "s": "idle", "ni": [1, 2], "nf": [1.0, 2.5],
                                 "ns": ["a", "b"], "none": []})
        self.assertIs(type(first["n"]), int)
        self.assertIs(type(first["nf"][0]), float)

    def test_records_as_arguments(self):
        cmd = quiralvek.NrtCartesianCmd()
        with self.assertRaises(TypeError):
            cmd.pose = [0.0] * 6
        cmd.pose = (1, 2, 3, 1, 0, 0, 0)
        self.assertEqual(cmd.pose, [1.0, 2.0, 3.0, 1.0, 0.0, 0.0, 0.0])
        # Another record where NrtCartesianCmd is expected does not convert.
        self.assertRefused(self.pair.SendMultiCartesianMotionForce,
                           ([quiralvek.JPos()], [cmd]), ([[0.0] * 7], [[0.0] * 7]))

    def test_results_are_new_objects(self):
        self.assertTrue(wait_until(lambda: self.pair.stopped(), 3.0))
        first = self.pair.states()
        second = self.pair.states()
        self.assertIsNot(first[0], second[0])
        first[0].tcp_pose = [0.0] * 7
        self.assertNotEqual(self.pair.states()[0].tcp_pose, [0.0] * 7)


if __name__ == "__main__":
    unittest.main()
