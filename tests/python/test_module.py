"""The module itself: import, the interpreter version gate, registration,
the enumeration ReferenceArm, the signatures, and the construction errors
that need no robot."""

import builtins
import importlib
import json
import os
import pickle
import subprocess
import sys
import unittest

import quiralvek  # imported first: signatures name its types by Python names
import quiralbivek
from quiralbivek import ReferenceArm, RobotPair

# Every Python method of RobotPair, in registration order (overloaded names
# once).
ROBOT_PAIR_METHODS = [
    "connected", "info", "mode", "states", "actions", "stopped", "operational",
    "operational_status", "busy", "which_busy", "fault", "which_fault", "reduced",
    "recovery", "estop_released", "enabling_button_pressed", "event_log", "instances",
    "Enable", "Brake", "SwitchMode", "Stop", "ClearFault", "RunAutoRecovery",
    "SetGlobalVariables", "global_variables", "LockExternalAxes", "SyncWithPositioner",
    "ExecutePlan", "PausePlan", "StopPlan", "plan_list", "plan_info", "SetBreakpointMode",
    "StepBreakpoint", "SetVelocityScale", "ExecutePrimitive", "primitive_states",
    "SendJointPosition", "SetJointImpedance", "SetMaxContactTorque", "SetJointInertiaScale",
    "SendCartesianMotionForce", "SendMultiCartesianMotionForce", "SetCartesianImpedance",
    "SetMaxContactWrench", "SetNullSpacePosture", "SetNullSpaceObjectives",
    "SetForceControlAxis", "SetForceControlFrame", "SetPassiveForceControl",
    "SetDigitalOutputs", "digital_inputs",
]

PARAM_DICT = (
    "Dict[str, Union[int, float, str, quiralvek.JPos, quiralvek.Coord, List[int], "
    "List[float], List[str], List[quiralvek.JPos], List[quiralvek.Coord]]]"
)


def signatures(method):
    """The signature lines of a method's docstring (one per overload)."""
    lines = [line.strip() for line in method.__doc__.splitlines() if line.strip()]
    if len(lines) > 1 and lines[1] == "Overloaded function.":
        return [line.split(". ", 1)[1] for line in lines[2:]]
    return lines


class ImportTest(unittest.TestCase):
    def test_module_object(self):
        self.assertEqual(quiralbivek.__doc__, "Quiral Bivekset (BIVEK)")
        names = [name for name in vars(quiralbivek) if not name.startswith("__")]
        self.assertEqual(names, ["ReferenceArm", "UNKOWN", "LEFT", "RIGHT", "RobotPair"])
        self.assertFalse([n for n in names if callable(getattr(quiralbivek, n))
                          and not isinstance(getattr(quiralbivek, n), type)],
                         "no module-level functions")
        self.assertTrue(quiralbivek.__file__.endswith(".cpython-310-x86_64-linux-gnu.so"))

    def test_only_the_entry_point_is_exported(self):
        for module, entry in ((quiralbivek, "PyInit_quiralbivek"),
                              (quiralvek, "PyInit_quiralvek")):
            result = subprocess.run(["nm", "-D", "--defined-only", module.__file__],
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            symbols = [line.split()[-1] for line in result.stdout.splitlines() if line.strip()]
            self.assertEqual(symbols, [entry])

    def test_second_import_registers_nothing_again(self):
        again = importlib.import_module("quiralbivek")
        self.assertIs(again, quiralbivek)
        # Even without the cached module object the entry point does not
        # run again (it would fail: RobotPair is registered already).
        saved = sys.modules.pop("quiralbivek")
        try:
            fresh = importlib.import_module("quiralbivek")
            self.assertIs(fresh.RobotPair, RobotPair)
            self.assertIs(fresh.LEFT, quiralbivek.LEFT)
        finally:
            sys.modules["quiralbivek"] = saved

    def test_one_shared_type_registry(self):
        registries = [name for name in vars(builtins) if name.startswith("__pybind11_internals_")]
        self.assertEqual(len(registries), 1, registries)
        self.assertTrue(registries[0].startswith("__pybind11_internals_v4_gcc_libstdcpp_cxxabi"),
                        registries[0])
        # The companion's types are known here by their Python names.
        self.assertIn("arg0: quiralvek.Mode", RobotPair.SwitchMode.__doc__)

    def test_reference_arm(self):
        self.assertIs(quiralbivek.UNKOWN, ReferenceArm.UNKOWN)
        self.assertIs(quiralbivek.LEFT, ReferenceArm.LEFT)
        self.assertIs(quiralbivek.RIGHT, ReferenceArm.RIGHT)
        self.assertEqual(list(ReferenceArm.__members__), ["UNKOWN", "LEFT", "RIGHT"])
        self.assertEqual([int(m) for m in ReferenceArm.__members__.values()], [0, 1, 2])
        self.assertEqual(int(quiralbivek.RIGHT), 2)
        self.assertEqual(quiralbivek.RIGHT.value, 2)
        self.assertEqual(quiralbivek.RIGHT.name, "RIGHT")
        self.assertEqual(ReferenceArm(1), quiralbivek.LEFT)
        self.assertEqual(ReferenceArm(value=2), quiralbivek.RIGHT)
        self.assertNotEqual(quiralbivek.LEFT, 1)
        self.assertNotEqual(quiralbivek.LEFT, quiralbivek.RIGHT)
        self.assertEqual(hash(quiralbivek.LEFT), hash(ReferenceArm(1)))
        self.assertEqual(repr(quiralbivek.LEFT), "<ReferenceArm.LEFT: 1>")
        self.assertEqual(str(quiralbivek.UNKOWN), "ReferenceArm.UNKOWN")
        self.assertEqual(pickle.loads(pickle.dumps(quiralbivek.RIGHT)), quiralbivek.RIGHT)
        unknown = ReferenceArm(5)
        self.assertEqual(unknown.name, "???")
        self.assertEqual(int(unknown), 5)
        with self.assertRaises(TypeError):
            quiralbivek.LEFT < quiralbivek.RIGHT  # no ordering
        with self.assertRaises(TypeError):
            quiralbivek.LEFT + 1  # no arithmetic
        with self.assertRaises(TypeError):
            quiralbivek.LEFT | quiralbivek.RIGHT
        with self.assertRaises(TypeError):
            ReferenceArm(None)

    def test_robot_pair_class(self):
        self.assertIsNone(RobotPair.__doc__)
        public = [name for name in vars(RobotPair) if not name.startswith("_")]
        self.assertEqual(public, ROBOT_PAIR_METHODS)
        for name in ("StreamJointTorque", "StreamJointPosition", "StreamCartesianMotionForce"):
            self.assertFalse(hasattr(RobotPair, name), name)
        for name in ("__copy__", "__deepcopy__", "__getstate__", "__setstate__"):
            self.assertNotIn(name, vars(RobotPair))

    def test_signatures(self):
        self.assertEqual(
            signatures(RobotPair.__init__),
            ["__init__(self: quiralbivek.RobotPair, robots_sn: Tuple[str, str], "
             "translations_in_world: Tuple[List[float[3]], List[float[3]]] = "
             "([0.0, 0.0, 0.0], [0.0, 0.0, 0.0]), network_interface_whitelist: List[str] = []) "
             "-> None"])
        self.assertEqual(signatures(RobotPair.info),
                         ["info(self: quiralbivek.RobotPair) -> "
                          "Tuple[quiralvek.RobotInfo, quiralvek.RobotInfo]"])
        self.assertEqual(signatures(RobotPair.connected),
                         ["connected(self: quiralbivek.RobotPair) -> bool"])
        self.assertEqual(signatures(RobotPair.instances),
                         ["instances(self: quiralbivek.RobotPair) -> "
                          "Tuple[quiralvek.Robot, quiralvek.Robot]"])
        self.assertEqual(signatures(RobotPair.Brake),
                         ["Brake(self: quiralbivek.RobotPair, arg0: bool) -> None"])
        self.assertEqual(
            signatures(RobotPair.SwitchMode),
            ["SwitchMode(self: quiralbivek.RobotPair, "
             "arg0: Tuple[quiralvek.Mode, quiralvek.Mode]) -> None",
             "SwitchMode(self: quiralbivek.RobotPair, arg0: quiralvek.Mode) -> None"])
        self.assertEqual(
            signatures(RobotPair.Stop),
            ["Stop(self: quiralbivek.RobotPair, arg0: Tuple[bool, bool]) -> None",
             "Stop(self: quiralbivek.RobotPair) -> None"])
        self.assertEqual(
            signatures(RobotPair.StopPlan),
            ["StopPlan(self: quiralbivek.RobotPair, arg0: Tuple[bool, bool]) -> None",
             "StopPlan(self: quiralbivek.RobotPair) -> None"])
        self.assertEqual(
            signatures(RobotPair.ExecutePlan),
            ["ExecutePlan(self: quiralbivek.RobotPair, indices: Tuple[int, int], "
             "continue_exec: bool = False, block_until_started: bool = True) -> None",
             "ExecutePlan(self: quiralbivek.RobotPair, names: Tuple[str, str], "
             "continue_exec: bool = False, block_until_started: bool = True) -> None"])
        self.assertEqual(
            signatures(RobotPair.ClearFault),
            ["ClearFault(self: quiralbivek.RobotPair, timeout_sec: int = 30) -> Tuple[bool, bool]"])
        self.assertEqual(
            signatures(RobotPair.SetGlobalVariables),
            ["SetGlobalVariables(self: quiralbivek.RobotPair, arg0: Tuple[%s, %s]) -> None"
             % (PARAM_DICT, PARAM_DICT)])
        self.assertEqual(
            signatures(RobotPair.ExecutePrimitive),
            ["ExecutePrimitive(self: quiralbivek.RobotPair, primitive_names: Tuple[str, str], "
             "input_params: Tuple[%s, %s], block_until_started: bool = True) -> None"
             % (PARAM_DICT, PARAM_DICT)])
        self.assertEqual(
            signatures(RobotPair.SendJointPosition),
            ["SendJointPosition(self: quiralbivek.RobotPair, "
             "arg0: Tuple[List[float], List[float]], arg1: Tuple[List[float], List[float]], "
             "arg2: Tuple[List[float], List[float]], arg3: Tuple[List[float], List[float]]) "
             "-> None"])
        self.assertEqual(
            signatures(RobotPair.SetJointImpedance),
            ["SetJointImpedance(self: quiralbivek.RobotPair, K_q: Tuple[List[float], List[float]], "
             "Z_q: Tuple[List[float], List[float]] = ([], [])) -> None"])
        self.assertEqual(
            signatures(RobotPair.SendCartesianMotionForce),
            ["SendCartesianMotionForce(self: quiralbivek.RobotPair, "
             "poses: Tuple[List[float[7]], List[float[7]]], "
             "wrenches: Tuple[List[float[6]], List[float[6]]] = "
             "([0.0, 0.0, 0.0, 0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 0.0, 0.0, 0.0]), "
             "velocities: Tuple[List[float[6]], List[float[6]]] = "
             "([0.0, 0.0, 0.0, 0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 0.0, 0.0, 0.0]), "
             "max_linear_vel: Tuple[float, float] = (0.5, 0.5), "
             "max_angular_vel: Tuple[float, float] = (1.0, 1.0), "
             "max_linear_acc: Tuple[float, float] = (2.0, 2.0), "
             "max_angular_acc: Tuple[float, float] = (5.0, 5.0)) -> None"])
        self.assertEqual(
            signatures(RobotPair.SendMultiCartesianMotionForce),
            ["SendMultiCartesianMotionForce(self: quiralbivek.RobotPair, "
             "cart_cmds: Tuple[List[quiralvek.NrtCartesianCmd], List[quiralvek.NrtCartesianCmd]], "
             "joint_pos: Tuple[List[List[float]], List[List[float]]]) -> None"])
        self.assertEqual(
            signatures(RobotPair.SetCartesianImpedance),
            ["SetCartesianImpedance(self: quiralbivek.RobotPair, "
             "K_x: Tuple[List[float[6]], List[float[6]]], "
             "Z_x: Tuple[List[float[6]], List[float[6]]] = "
             "([0.7, 0.7, 0.7, 0.7, 0.7, 0.7], [0.7, 0.7, 0.7, 0.7, 0.7, 0.7])) -> None"])
        self.assertEqual(
            signatures(RobotPair.SetNullSpaceObjectives),
            ["SetNullSpaceObjectives(self: quiralbivek.RobotPair, "
             "linear_manipulability: Tuple[float, float] = (0.0, 0.0), "
             "angular_manipulability: Tuple[float, float] = (0.0, 0.0), "
             "ref_positions_tracking: Tuple[float, float] = (0.5, 0.5)) -> None"])
        self.assertEqual(
            signatures(RobotPair.SetForceControlAxis),
            ["SetForceControlAxis(self: quiralbivek.RobotPair, "
             "enabled_axes: Tuple[List[bool[6]], List[bool[6]]], "
             "max_linear_vel: Tuple[List[float[3]], List[float[3]]] = "
             "([1.0, 1.0, 1.0], [1.0, 1.0, 1.0])) -> None"])
        self.assertEqual(
            signatures(RobotPair.SetForceControlFrame),
            ["SetForceControlFrame(self: quiralbivek.RobotPair, "
             "root_coord: Tuple[quiralvek.CoordType, quiralvek.CoordType], "
             "T_in_root: Tuple[List[float[7]], List[float[7]]] = "
             "([0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0])) -> None"])
        self.assertEqual(
            signatures(RobotPair.SetDigitalOutputs),
            ["SetDigitalOutputs(self: quiralbivek.RobotPair, "
             "arg0: Tuple[Dict[int, bool], Dict[int, bool]]) -> None"])
        self.assertEqual(
            signatures(RobotPair.digital_inputs),
            ["digital_inputs(self: quiralbivek.RobotPair) -> "
             "Tuple[List[bool[18]], List[bool[18]]]"])
        self.assertEqual(signatures(RobotPair.__repr__),
                         ["__repr__(self: quiralbivek.RobotPair) -> str"])


class ConstructionTest(unittest.TestCase):
    """Construction failures that are decided before any robot is reached."""

    def assertRaisesText(self, exception, text, *args, **kwargs):
        with self.assertRaises(exception) as caught:
            RobotPair(*args, **kwargs)
        self.assertIs(type(caught.exception), exception)
        self.assertEqual(str(caught.exception), text)

    def test_arguments_that_do_not_convert(self):
        for args, kwargs in [
            ((None,), {}),
            ((("Varno4-1",),), {}),
            ((("Varno4-1", "Varno4-2", "Varno4-3"),), {}),
            ((("Varno4-1", 2),), {}),
            ((("Varno4-1", "Varno4-2"), ([0, 0, 0], [0, 0])), {}),
            ((("Varno4-1", "Varno4-2"), ([0, 0, 0],)), {}),
            ((("Varno4-1", "Varno4-2"),), {"network_interface_whitelist": "127.0.0.1"}),
            ((("Varno4-1", "Varno4-2"),), {"whitelist": ["127.0.0.1"]}),
            ((), {}),
        ]:
            with self.subTest(args=args, kwargs=kwargs):
                with self.assertRaises(TypeError) as caught:
                    RobotPair(*args, **kwargs)
                self.assertTrue(str(caught.exception).startswith(
                    "__init__(): incompatible constructor arguments. "
                    "The following argument types are supported:"), str(caught.exception))
                self.assertIn("Invoked with: ", str(caught.exception))

    def test_errors_of_the_arms(self):
        # Both serial numbers malformed: the first arm's error leaves.
        self.assertRaisesText(
            ValueError,
            "[quiral::bivek::RobotPair](first) Format of the provided robot serial number "
            "[bad] is invalid",
            ("bad", "worse"), network_interface_whitelist=["127.0.0.1"])
        self.assertRaisesText(
            RuntimeError,
            "[quiral::bivek::RobotPair](first) Robot model [Foo] is not supported",
            ["Foo-1", "Bar-2"], ([0.0, 0.0, 0.0], [0.0, 0.0, 0.0]), ["127.0.0.1"])
        self.assertRaisesText(
            ValueError,
            "[quiral::bivek::RobotPair] Serial numbers [Varno4-7] and [Varno4_7] name the same "
            "robot",
            ("Varno4-7", "Varno4_7"))
        self.assertRaisesText(
            ValueError,
            "[quiral::bivek::RobotPair] Input parameter [translations_in_world] contains "
            "non-finite value",
            robots_sn=("Varno4-1", "Varno4-2"),
            translations_in_world=([0.0, float("nan"), 0.0], [0.0, 0.0, 0.0]))


class RegistrationFailureTest(unittest.TestCase):
    """A native type of the module registered already by another module of
    the same registry: the import fails with the registry's own text."""

    def test_import_fails_with_the_registry_text(self):
        script = """
import json, sys
sys.path.insert(0, sys.argv[1])
import quiral_registry_clash
try:
    import quiralbivek
    outcome = {"type": None}
except BaseException as error:
    outcome = {"type": type(error).__name__, "error": str(error),
               "cause": repr(error.__cause__)}
outcome["imported"] = "quiralbivek" in sys.modules
print(json.dumps(outcome))
"""
        result = subprocess.run([sys.executable, "-c", script,
                                 os.environ["QUIRAL_TEST_MODULE_DIR"]],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        outcome = json.loads(result.stdout)
        self.assertEqual(outcome["type"], "ImportError", outcome)
        self.assertEqual(outcome["error"],
                         'generic_type: type "RobotPair" is already registered!')
        self.assertEqual(outcome["cause"], "None")
        self.assertFalse(outcome["imported"])


class VersionGateTest(unittest.TestCase):
    """The module built for 3.10, loaded by path under Python 3.11."""

    def test_other_interpreter_is_refused(self):
        python311 = os.environ.get("QUIRAL_PYTHON311", "")
        self.assertTrue(python311 and os.access(python311, os.X_OK),
                        "QUIRAL_PYTHON311 must name a Python 3.11 interpreter (is %r)" % python311)
        script = """
import importlib.machinery, importlib.util, json, sys
path = sys.argv[1]
loader = importlib.machinery.ExtensionFileLoader("quiralbivek", path)
spec = importlib.util.spec_from_file_location("quiralbivek", path, loader=loader)
outcome = {"version": sys.version, "error": None, "type": None}
try:
    importlib.util.module_from_spec(spec)
except BaseException as error:
    outcome["type"] = type(error).__name__
    outcome["error"] = str(error)
outcome["imported"] = "quiralbivek" in sys.modules
print(json.dumps(outcome))
"""
        result = subprocess.run([python311, "-c", script, quiralbivek.__file__],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        outcome = json.loads(result.stdout)
        self.assertTrue(outcome["version"].startswith("3.11"), outcome["version"])
        self.assertEqual(outcome["type"], "ImportError")
        self.assertEqual(
            outcome["error"],
            "Python version mismatch: module was compiled for Python 3.10, but the interpreter "
            "version is incompatible: %s." % outcome["version"])
        self.assertFalse(outcome["imported"])


if __name__ == "__main__":
    unittest.main()
