"""The module itself: import, the interpreter version gate, registration,
the enumeration ReferenceArm, and the construction errors that need no
robot."""

import json
import os
import subprocess
import sys
import unittest

import quiralvek
import quiralbivek
from quiralbivek import ReferenceArm, RobotPair


def run_python(interpreter, script, *args):
    """Runs `script` in a new interpreter; returns the JSON it printed."""
    result = subprocess.run([interpreter, "-c", script, *args], capture_output=True, text=True,
                            timeout=60)
    if result.returncode != 0:
        raise AssertionError(result.stderr)
    return json.loads(result.stdout)


class ModuleTest(unittest.TestCase):
    def test_module_object(self):
        self.assertEqual(quiralbivek.__doc__, "Quiral Bivekset (BIVEK)")
        names = [name for name in vars(quiralbivek) if not name.startswith("__")]
        self.assertEqual(names, ["ReferenceArm", "UNKOWN", "LEFT", "RIGHT", "RobotPair"])
        self.assertTrue(quiralbivek.__file__.endswith(".cpython-310-x86_64-linux-gnu.so"))
        # Streaming stays with the single robots; a pair is not copied or pickled.
        for name in ("StreamJointTorque", "StreamJointPosition", "StreamCartesianMotionForce",
                     "__copy__", "__deepcopy__", "__getstate__", "__setstate__"):
            self.assertNotIn(name, vars(RobotPair))

    def test_only_the_entry_point_is_exported(self):
        for module, entry in ((quiralbivek, "PyInit_quiralbivek"),
                              (quiralvek, "PyInit_quiralvek")):
            result = subprocess.run(["nm", "-D", "--defined-only", module.__file__],
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            symbols = [line.split()[-1] for line in result.stdout.splitlines() if line.strip()]
            self.assertEqual(symbols, [entry])

    def test_reference_arm_members_at_module_scope(self):
        for name, value in (("UNKOWN", 0), ("LEFT", 1), ("RIGHT", 2)):
            member = getattr(quiralbivek, name)
            self.assertIs(member, getattr(ReferenceArm, name))
            self.assertEqual(member, ReferenceArm(value))
            self.assertEqual((int(member), member.name), (value, name))
        self.assertEqual(list(ReferenceArm.__members__), ["UNKOWN", "LEFT", "RIGHT"])
        self.assertEqual(repr(quiralbivek.LEFT), "<ReferenceArm.LEFT: 1>")
        self.assertNotEqual(quiralbivek.LEFT, 1)
        self.assertEqual(ReferenceArm(5).name, "???")
        for operation in (lambda: quiralbivek.LEFT < quiralbivek.RIGHT,
                          lambda: quiralbivek.LEFT + 1, lambda: ReferenceArm(None)):
            with self.assertRaises(TypeError):
                operation()

    def test_construction_errors_before_any_robot(self):
        for args, kwargs in [((("Varno4-1",),), {}),
                             ((("Varno4-1", "Varno4-2"), ([0, 0, 0], [0, 0])), {}),
                             ((("Varno4-1", "Varno4-2"),), {"network_interface_whitelist": "x"}),
                             ((("Varno4-1", "Varno4-2"),), {"whitelist": ["127.0.0.1"]})]:
            with self.subTest(args=args, kwargs=kwargs):
                with self.assertRaises(TypeError) as caught:
                    RobotPair(*args, **kwargs)
                self.assertTrue(str(caught.exception).startswith(
                    "__init__(): incompatible constructor arguments."), str(caught.exception))
        for exception, text, args, kwargs in [
                # Both serial numbers malformed: the first arm's error leaves.
                (ValueError, "[quiral::bivek::RobotPair](first) Format of the provided robot "
                 "serial number [bad] is invalid", (("bad", "worse"),),
                 {"network_interface_whitelist": ["127.0.0.1"]}),
                (RuntimeError, "[quiral::bivek::RobotPair](first) Robot model [Foo] is not "
                 "supported", (["Foo-1", "Bar-2"], ([0.0] * 3, [0.0] * 3), ["127.0.0.1"]), {}),
                (ValueError, "[quiral::bivek::RobotPair] Serial numbers [Varno4-7] and "
                 "[Varno4_7] name the same robot", (("Varno4-7", "Varno4_7"),), {}),
                (ValueError, "[quiral::bivek::RobotPair] Input parameter [translations_in_world] "
                 "contains non-finite value", (),
                 {"robots_sn": ("Varno4-1", "Varno4-2"),
                  "translations_in_world": ([0.0, float("nan"), 0.0], [0.0, 0.0, 0.0])})]:
            with self.subTest(text=text):
                with self.assertRaises(Exception) as caught:
                    RobotPair(*args, **kwargs)
                self.assertIs(type(caught.exception), exception)
                self.assertEqual(str(caught.exception), text)


class ImportFailureTest(unittest.TestCase):
    def test_registration_clash_fails_the_import(self):
        # Another module of the same registry has registered RobotPair's
        # native type: the import fails with the registry's own text.
        outcome = run_python(sys.executable, """
import json, sys
sys.path.insert(0, sys.argv[1])
import quiral_registry_clash
outcome = {"type": None}
try:
    import quiralbivek
except BaseException as error:
    outcome = {"type": type(error).__name__, "error": str(error), "cause": repr(error.__cause__)}
outcome["imported"] = "quiralbivek" in sys.modules
print(json.dumps(outcome))
""", os.environ["QUIRAL_TEST_MODULE_DIR"])
        self.assertEqual(outcome, {
            "type": "ImportError", "cause": "None", "imported": False,
            "error": 'generic_type: type "RobotPair" is already registered!'})

    def test_other_interpreter_is_refused(self):
        # The module built for 3.10, loaded by path under Python 3.11.
        python311 = os.environ.get("QUIRAL_PYTHON311", "")
        self.assertTrue(python311 and os.access(python311, os.X_OK),
                        "QUIRAL_PYTHON311 must name a Python 3.11 interpreter (is %r)" % python311)
        outcome = run_python(python311, """
import importlib.machinery, importlib.util, json, sys
path = sys.argv[1]
loader = importlib.machinery.ExtensionFileLoader("quiralbivek", path)
found = importlib.util.spec_from_file_location("quiralbivek", path, loader=loader)
outcome = {"version": sys.version, "error": None, "type": None}
try:
    importlib.util.module_from_spec(found)
except BaseException as error:
    outcome.update(type=type(error).__name__, error=str(error))
outcome["imported"] = "quiralbivek" in sys.modules
print(json.dumps(outcome))
""", quiralbivek.__file__)
        self.assertTrue(outcome["version"].startswith("3.11"), outcome["version"])
        self.assertEqual(outcome["type"], "ImportError")
        self.assertEqual(
            outcome["error"],
            "Python version mismatch: module was compiled for Python 3.10, but the interpreter "
            "version is incompatible: %s." % outcome["version"])
        self.assertFalse(outcome["imported"])


if __name__ == "__main__":
    unittest.main()
