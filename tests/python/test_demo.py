"""The demo script ends its simulators also when it does not run to its end.
(Its complete run is the CTest entry python_dual_arm_demo.)"""

import os
import queue
import re
import signal
import subprocess
import sys
import tempfile
import threading
import unittest

from sim_harness import sim_path, wait_until

DEMO = os.path.join(os.path.dirname(__file__), "..", "..", "python", "demo", "dual_arm_demo.py")
SIM_PID = r"quiral_sim is running \(pid (\d+)\)"

# A stand-in simulator that reports ready but runs no controller.
FAKE_SIM = """
import json, sys
print(json.dumps({"event": "ready", "serials": sys.argv[2::2][:2]}), flush=True)
for line in sys.stdin:
    if json.loads(line).get("cmd") == "quit":
        print(json.dumps({"id": json.loads(line)["id"], "ok": True}))
        break
"""


def alive(pid):
    """Whether a process (not a zombie) with this id exists."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def read_lines(stream, lines):
    for line in stream:
        lines.put(line)
    lines.put("")  # the end


class DemoStopTest(unittest.TestCase):
    def test_terminated_demo_stops_the_simulators(self):
        for signal_number, status in ((signal.SIGTERM, 128 + signal.SIGTERM),
                                      (signal.SIGINT, 130)):
            with self.subTest(signal=signal_number):
                demo = subprocess.Popen([sys.executable, DEMO, "--sim", sim_path()],
                                        stdout=subprocess.PIPE, text=True)
                self.addCleanup(lambda demo=demo: demo.poll() is None and demo.kill())
                lines = queue.Queue()
                threading.Thread(target=read_lines, args=(demo.stdout, lines), daemon=True).start()

                def read_until(pattern):
                    line = ""
                    while not re.search(pattern, line):
                        line = lines.get(timeout=30)
                        self.assertTrue(line, "the demo ended early")
                    return re.search(pattern, line)

                sim_pid = int(read_until(SIM_PID)[1])
                self.assertTrue(alive(sim_pid))
                read_until(r"^\[3/10\]")
                demo.send_signal(signal_number)
                self.assertEqual(demo.wait(timeout=30), status)
                demo.stdout.close()
                self.assertTrue(wait_until(lambda: not alive(sim_pid), 5.0),
                                "quiral_sim %d outlived the demo" % sim_pid)

    def test_failed_demo_stops_the_simulators(self):
        # Connecting the pair to the stand-in fails; the demo still ends it.
        with tempfile.TemporaryDirectory() as folder:
            fake = os.path.join(folder, "quiral_sim")
            with open(fake, "w") as script:
                script.write("#!%s\n%s" % (sys.executable, FAKE_SIM))
            os.chmod(fake, 0o755)
            demo = subprocess.run([sys.executable, DEMO, "--sim", fake],
                                  capture_output=True, text=True, timeout=120)
        self.assertEqual(demo.returncode, 1, demo.stdout + demo.stderr)
        self.assertIn("Demo failed: RuntimeError: [quiral::bivek::RobotPair](first)", demo.stderr)
        fake_pid = int(re.search(SIM_PID, demo.stdout)[1])
        self.assertTrue(wait_until(lambda: not alive(fake_pid), 5.0))


if __name__ == "__main__":
    unittest.main()
