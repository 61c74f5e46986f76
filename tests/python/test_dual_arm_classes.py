"""GripperPair, BimanualPrimitives and SelfCollisionMonitor against two simulated controllers, for
what the bindings own: keywords, defaults, overloads, gripper records and the pair kept alive."""

import os
import tempfile
import unittest
import weakref

from quiralvek import GripperParams, Mode
import quiralbivek as qb
from sim_harness import SimProcess, unique_serial, wait_until

UPRIGHT = [0.0] * 7


class DualArmClassesTest(unittest.TestCase):
    def setUp(self):  # two ready arms 0.5 m apart; the monitor's meshes go to a folder of its own
        self.serials = (unique_serial("Varno4"), unique_serial("Varno4"))
        self.sim = SimProcess(self.serials, ["--initial-state", "ready"])
        self.addCleanup(self.sim.quit)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(folder.name)
        self.pair = qb.RobotPair(self.serials, ([0.0] * 3, [0.5, 0.0, 0.0]), ["127.0.0.1"])

    def test_grippers(self):
        grippers = qb.GripperPair(self.pair)
        grippers.Enable(["SimGripper"] * 2)
        self.assertEqual([(type(p), p.max_force) for p in grippers.params()],
                         [(GripperParams, 80.0)] * 2)
        for serial, width in zip(self.serials, (0.03, 0.04)):
            self.sim.set(serial, {"gripper": {"object_width": width}})
        grippers.Grasp((20.0, 30))
        self.assertTrue(wait_until(lambda: [(round(s.width, 6), s.force) for s in
                                            grippers.states()] == [(0.03, 20), (0.04, 30)], 5.0))
        marks = [self.sim.request_total(serial) for serial in self.serials]
        grippers.Stop((True, False))  # the selected arms, then both
        grippers.Stop()
        self.assertEqual([len(self.sim.requests(*a, 42)) for a in zip(self.serials, marks)], [2, 1])

    def test_move_tensioned(self):
        primitives = qb.BimanualPrimitives(self.pair)
        pair, self.pair = weakref.ref(self.pair), None  # the primitives keep the pair
        target = pair().states()[0].tcp_pose
        target[2] -= 0.02
        # No held object, no tension to reach: the left arm is sent to the target at once.
        primitives.MoveTensioned(qb.LEFT, target, 0.0, 0.25, 0.75, angular_acc=4.0)
        sent = self.sim.command("motion_commands", self.serials[0])["items"][-1]["cartesian"]
        self.assertEqual([sent["max_" + k] for k in ("linear_vel", "angular_vel", "linear_acc",
                                                     "angular_acc")], [0.25, 0.75, 2.0, 4.0])

    def test_monitor_stops_both_arms_until_stopped_or_dropped(self):
        monitor = qb.SelfCollisionMonitor(robot_pair=self.pair, skipped_links=[])
        pair, self.pair = weakref.ref(self.pair), None  # the monitor keeps the pair
        self.assertRaises(TypeError, monitor.SetMinDistance, min_distance=0.1)
        monitor.Start()
        self.assertRaisesRegex(RuntimeError, "already started and running$", monitor.Start, 10)
        # From their start pose the left arm leans towards the upright right one, until stopped.
        pair().SwitchMode((Mode.NRT_JOINT_POSITION,) * 2)
        pair().SendJointPosition(([0.0, 0.8] + [0.0] * 5, UPRIGHT), (UPRIGHT,) * 2,
                                 ([0.5] * 7, [1.0] * 7), ([1.0] * 7,) * 2)
        self.assertTrue(wait_until(lambda: pair().mode() == (Mode.IDLE,) * 2, 5.0))
        monitor.Stop()
        monitor.Start(loop_interval_ms=5)  # stopped: it starts again
        del monitor  # ends its thread, then releases the pair
        self.assertIsNone(pair())
