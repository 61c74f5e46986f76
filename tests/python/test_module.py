"""The module itself: its contents, its one exported symbol, and RobotPair's
keyword names and defaults."""

import re
import subprocess
import unittest

import quiralvek  # registers the single-robot types: signatures name them
import quiralbivek
from quiralbivek import RobotPair

ZERO3, ZERO6 = ([0.0] * 3,) * 2, ([0.0] * 6,) * 2

# Parameters after self of each registration, as names or (name, default);
# every method not listed takes positional arguments only (arg0, arg1, ...).
KEYWORDS = {
    "__init__": [["robots_sn", ("translations_in_world", ZERO3),
                  ("network_interface_whitelist", [])]],
    "ClearFault": [[("timeout_sec", 30)]],
    "ExecutePlan": [[first, ("continue_exec", False), ("block_until_started", True)]
                    for first in ("indices", "names")],
    "ExecutePrimitive": [["primitive_names", "input_params", ("block_until_started", True)]],
    "SendCartesianMotionForce": [[
        "poses", ("wrenches", ZERO6), ("velocities", ZERO6), ("max_linear_vel", (0.5, 0.5)),
        ("max_angular_vel", (1.0, 1.0)), ("max_linear_acc", (2.0, 2.0)),
        ("max_angular_acc", (5.0, 5.0))]],
    "SendMultiCartesianMotionForce": [["cart_cmds", "joint_pos"]],
    "SetCartesianImpedance": [["K_x", ("Z_x", ([0.7] * 6,) * 2)]],
    "SetForceControlAxis": [["enabled_axes", ("max_linear_vel", ([1.0] * 3,) * 2)]],
    "SetForceControlFrame": [["root_coord",
                              ("T_in_root", ([0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0],) * 2)]],
    "SetJointImpedance": [["K_q", ("Z_q", ([], []))]],
    "SetNullSpaceObjectives": [[("linear_manipulability", (0.0, 0.0)),
                                ("angular_manipulability", (0.0, 0.0)),
                                ("ref_positions_tracking", (0.5, 0.5))]],
}


def parameters(method):
    """Each registration's parameters after self, as "name" or
    "name=default", read from the signatures that pybind11 writes into
    __doc__."""
    found = []
    for line in method.__doc__.splitlines():
        match = re.match(r"(?:\d\. )?\w+\(self: quiralbivek\.RobotPair(.*)\) -> ", line)
        if match:
            items, depth = [""], 0
            for char in match[1]:
                depth += (char in "[(") - (char in "])")
                if char == "," and depth == 0:
                    items.append("")
                else:
                    items[-1] += char
            found.append([re.sub(r"^ (\w+): .*?(?: = (.*))?$",
                                 lambda m: m[1] + ("=" + m[2] if m[2] else ""), item)
                          for item in items[1:]])
    return found


class ModuleTest(unittest.TestCase):
    def test_module_object(self):
        self.assertEqual(quiralbivek.__doc__, "Quiral Bivekset (BIVEK)")
        names = [name for name in vars(quiralbivek) if not name.startswith("__")]
        self.assertEqual(names, ["ReferenceArm", "UNKOWN", "LEFT", "RIGHT", "BimanualPrimitives",
                                 "GripperPair", "RobotPair", "SelfCollisionMonitor"])
        for module, entry in ((quiralbivek, "PyInit_quiralbivek"),
                              (quiralvek, "PyInit_quiralvek")):
            result = subprocess.run(["nm", "-D", "--defined-only", module.__file__],
                                    capture_output=True, text=True, timeout=60, check=True)
            self.assertEqual([line.split()[-1] for line in result.stdout.splitlines()], [entry])

    def test_keyword_names_and_defaults(self):
        for name, method in vars(RobotPair).items():
            if name.startswith("__") and name != "__init__":
                continue
            with self.subTest(method=name):
                found = parameters(method)
                self.assertTrue(found, method.__doc__)
                if name in KEYWORDS:
                    self.assertEqual(found, [[p if isinstance(p, str) else "%s=%r" % p
                                              for p in registration]
                                             for registration in KEYWORDS[name]])
                else:
                    for registration in found:
                        self.assertEqual(registration,
                                         ["arg%d" % i for i in range(len(registration))])


if __name__ == "__main__":
    unittest.main()
