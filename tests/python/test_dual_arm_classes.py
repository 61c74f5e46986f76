"""GripperPair, BimanualPrimitives and SelfCollisionMonitor from Python
against two simulated controllers, for what the bindings own: per-arm
tuples and the gripper records both ways, overloads, defaults reaching the
native member, exception classes, and the RobotPair kept alive by the
objects made from it. What the classes do with the arms the C++ tests
prove. Keyword names and defaults in the signatures: test_module.py."""

import gc
import os
import tempfile
import weakref
import unittest

import quiralvek  # registers the single-robot types
import quiralbivek
from quiralbivek import BimanualPrimitives, GripperPair, RobotPair, SelfCollisionMonitor
from sim_harness import SimProcess, unique_serial, wait_until

JOINT = (quiralvek.Mode.NRT_JOINT_POSITION,) * 2
IDLE = (quiralvek.Mode.IDLE,) * 2
GRIPPER, DEVICE_COMMAND = "SimGripper", 42
UPRIGHT, FAR = [0.0] * 7, [0.0, 0.8, 0.0, 0.0, 0.0, 0.0, 0.0]


class ArmsTestCase(unittest.TestCase):
    """Two ready controllers whose bases stand 0.5 m apart along x, in a
    working directory of the test's own (the monitor writes its mesh
    folders there)."""

    def setUp(self):
        self.serials = (unique_serial("Varno4"), unique_serial("Varno4"))
        self.sim = SimProcess(self.serials, ["--initial-state", "ready"])
        self.addCleanup(self.sim.quit)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(folder.name)

    def connect(self):
        return RobotPair(self.serials, ([0.0] * 3, [0.5, 0.0, 0.0]), ["127.0.0.1"])

    def commands(self, arm, since=0):
        return self.sim.requests(self.serials[arm], since, DEVICE_COMMAND)


class GripperPairTest(ArmsTestCase):
    def test_grippers_close_on_objects_per_arm(self):
        # The grippers share the arms' links: the pair may go first.
        grippers = GripperPair(self.connect())
        gc.collect()
        self.assertEqual(repr(grippers), "<quiralbivek.GripperPair>")
        with self.assertRaisesRegex(RuntimeError, r"^\[quiral::bivek::GripperPair::Disable\]"
                                    r"\(first\) No gripper enabled$"):
            grippers.Disable((True, True))
        with self.assertRaisesRegex(ValueError, r"^\[quiral::bivek::GripperPair::Enable\]\(second"
                                    r"\) The specified gripper \[X\] does not exist$"):
            grippers.Enable(("", "X"))
        grippers.Enable([GRIPPER, GRIPPER])
        params = grippers.params()
        self.assertEqual([(type(p), p.name, p.max_force) for p in params],
                         [(quiralvek.GripperParams, GRIPPER, 80.0)] * 2)
        with self.assertRaisesRegex(ValueError, r"^\[quiral::bivek::GripperPair::Grasp\]\(second"
                                    r"\) Input parameter \[force\] is outside the valid range$"):
            grippers.Grasp((20.0, 1000.0))

        for arm, width in enumerate((0.03, 0.04)):
            self.sim.set(self.serials[arm], {"gripper": {"object_width": width}})
        grippers.Grasp((20.0, 30))
        self.assertTrue(wait_until(lambda: [(round(s.width, 6), s.force, s.is_moving) for s in
                                            grippers.states()] == [(0.03, 20.0, False),
                                                                   (0.04, 30.0, False)], 5.0))
        self.assertIsInstance(grippers.states(), tuple)

        # The two Stop overloads: the selected arms, or both.
        marks = [self.sim.request_total(serial) for serial in self.serials]
        grippers.Stop((True, False))
        self.assertEqual([len(self.commands(arm, marks[arm])) for arm in (0, 1)], [1, 0])
        grippers.Stop()
        self.assertEqual([len(self.commands(arm, marks[arm])) for arm in (0, 1)], [2, 1])
        for call in ((grippers.Stop, (True,)), (grippers.Enable, (GRIPPER,)),
                     (grippers.Move, ((0.05, 0.05), (0.1, 0.1))), (GripperPair, None)):
            self.assertRaises(TypeError, call[0], call[1])
        self.assertEqual([len(self.commands(arm, marks[arm])) for arm in (0, 1)], [2, 1])


class BimanualPrimitivesTest(ArmsTestCase):
    def test_move_tensioned_on_a_pair_it_keeps_alive(self):
        pair = self.connect()
        pair_alive = weakref.ref(pair)
        primitives = BimanualPrimitives(pair)
        del pair
        gc.collect()
        self.assertIsNotNone(pair_alive())
        self.assertEqual(repr(primitives), "<quiralbivek.BimanualPrimitives>")

        target = list(pair_alive().states()[0].tcp_pose)
        target[2] -= 0.02
        for args in ((quiralbivek.UNKOWN, target, 0.0, 0.25, 0.75),
                     (quiralbivek.LEFT, target, 0.0, 0.25, -1.0)):
            self.assertRaises(ValueError, primitives.MoveTensioned, *args)
        for args in ((1, target, 0.0, 0.25, 0.75), (None, target, 0.0, 0.25, 0.75),
                     (quiralbivek.LEFT, target[:6], 0.0, 0.25, 0.75)):
            self.assertRaises(TypeError, primitives.MoveTensioned, *args)
        self.assertEqual(self.sim.command("motion_commands", self.serials[0])["items"], [])

        # No held object: no tension to build up, the left arm goes to the
        # target with the default linear_acc and the angular_acc given.
        primitives.MoveTensioned(quiralbivek.LEFT, target, 0.0, 0.25, 0.75, angular_acc=4.0)
        sent = [item["cartesian"] for item in
                self.sim.command("motion_commands", self.serials[0])["items"]]
        limits = {tuple(c[k] for k in ("max_linear_vel", "max_angular_vel", "max_linear_acc",
                                       "max_angular_acc")) for c in sent
                  if max(abs(a - b) for a, b in zip(c["pose"], target)) < 1e-6}
        self.assertEqual(limits, {(0.25, 0.75, 2.0, 4.0)})

        del primitives
        gc.collect()
        self.assertIsNone(pair_alive())


class SelfCollisionMonitorTest(ArmsTestCase):
    def test_monitor_stops_both_arms_and_is_stopped_from_python(self):
        pair = self.connect()
        for serial in self.serials:
            self.sim.set(serial, {"joints": UPRIGHT})
        self.assertTrue(wait_until(lambda: [s.link_position for s in pair.states()]
                                   == [UPRIGHT] * 2, 3.0))
        monitor = SelfCollisionMonitor(pair, skipped_links=[])
        self.assertEqual(repr(monitor), "<quiralbivek.SelfCollisionMonitor>")
        for call, args, kwargs in ((monitor.Start, (-1,), {}), (monitor.Start, (2.5,), {}),
                                   (monitor.SetMinDistance, (), {"min_distance": 0.1}),
                                   (SelfCollisionMonitor, (None,), {})):
            self.assertRaises(TypeError, call, *args, **kwargs)
        self.assertRaises(ValueError, monitor.SetMinDistance, -1.0)
        monitor.Start()
        self.assertRaisesRegex(RuntimeError, "already started and running", monitor.Start, 10)

        # The left arm turns towards the right one and is stopped on its way.
        pair.SwitchMode(quiralvek.Mode.NRT_JOINT_POSITION)
        self.assertTrue(wait_until(lambda: pair.mode() == JOINT, 3.0))
        pair.SendJointPosition((FAR, UPRIGHT), ([0.0] * 7,) * 2, ([0.5] * 7, [1.0] * 7),
                               ([1.0] * 7,) * 2)
        self.assertTrue(wait_until(lambda: pair.mode() == IDLE, 5.0))
        self.assertLess(pair.states()[0].link_position[1], 0.45)
        monitor.Stop()
        monitor.Start(5)  # stopped: starts again

        # Deleting the running monitor ends its thread, then releases the pair.
        pair_alive = weakref.ref(pair)
        del pair
        gc.collect()
        self.assertIsNotNone(pair_alive())
        del monitor
        gc.collect()
        self.assertIsNone(pair_alive())


if __name__ == "__main__":
    unittest.main()
