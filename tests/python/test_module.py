"""The module itself: import, the interpreter version gate, registration,
ReferenceArm, and RobotPair's keyword names and defaults."""

import json
import os
import re
import subprocess
import sys
import unittest

import quiralvek  # registers the single-robot types: signatures name them
import quiralbivek
from quiralbivek import ReferenceArm, RobotPair

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


# Loads quiralbivek from the file argv[1] in a new interpreter, after
# running the code argv[2]; prints the outcome as JSON.
LOAD = """
import importlib.machinery, importlib.util, json, sys
exec(sys.argv[2])
outcome = {"version": sys.version, "type": None}
try:
    loader = importlib.machinery.ExtensionFileLoader("quiralbivek", sys.argv[1])
    importlib.util.module_from_spec(
        importlib.util.spec_from_file_location("quiralbivek", sys.argv[1], loader=loader))
except BaseException as error:
    outcome.update(type=type(error).__name__, error=str(error), cause=repr(error.__cause__))
print(json.dumps(outcome))
"""


def load(interpreter, before=""):
    result = subprocess.run([interpreter, "-c", LOAD, quiralbivek.__file__, before],
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise AssertionError(result.stderr)
    return json.loads(result.stdout)


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

    def test_reference_arm_members_at_module_scope(self):
        for name, value in (("UNKOWN", 0), ("LEFT", 1), ("RIGHT", 2)):
            self.assertIs(getattr(quiralbivek, name), getattr(ReferenceArm, name))
            self.assertEqual(ReferenceArm(value), getattr(quiralbivek, name))
            self.assertEqual(int(ReferenceArm(value)), value)
        # Not an arithmetic enumeration: no int is a member.
        self.assertNotEqual(quiralbivek.LEFT, 1)
        self.assertRaises(TypeError, lambda: quiralbivek.LEFT < quiralbivek.RIGHT)

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


class ImportFailureTest(unittest.TestCase):
    def test_registration_clash_fails_the_import(self):
        # Another module of the same registry has registered RobotPair's
        # native type: the import fails with the registry's own text.
        outcome = load(sys.executable, "sys.path.insert(0, %r); import quiral_registry_clash"
                       % os.environ["QUIRAL_TEST_MODULE_DIR"])
        self.assertEqual((outcome["type"], outcome["error"], outcome["cause"]),
                         ("ImportError", 'generic_type: type "RobotPair" is already registered!',
                          "None"))

    def test_other_interpreter_is_refused(self):
        python311 = os.environ.get("QUIRAL_PYTHON311", "")
        self.assertTrue(python311 and os.access(python311, os.X_OK),
                        "QUIRAL_PYTHON311 must name a Python 3.11 interpreter (is %r)" % python311)
        outcome = load(python311)
        self.assertTrue(outcome["version"].startswith("3.11"), outcome["version"])
        self.assertEqual((outcome["type"], outcome["error"]), (
            "ImportError", "Python version mismatch: module was compiled for Python 3.10, but the "
            "interpreter version is incompatible: %s." % outcome["version"]))


if __name__ == "__main__":
    unittest.main()
