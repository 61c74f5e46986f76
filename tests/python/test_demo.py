"""The demo script ends its simulators also when it does not run to its
end. (Its complete run is the CTest entry python_dual_arm_demo.)"""

import os
import queue
import re
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import unittest

from sim_harness import sim_path, wait_until

DEMO = os.path.join(os.path.dirname(__file__), "..", "..", "python", "demo", "dual_arm_demo.py")


def alive(pid):
    """Whether a process (not a zombie) with this id exists."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class DemoStopTest(unittest.TestCase):
    def start_demo(self):
        demo = subprocess.Popen([sys.executable, DEMO, "--sim", sim_path()],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.finish, demo)
        lines = queue.Queue()

        def read():
            for line in demo.stdout:
                lines.put(line)
            lines.put(None)

        threading.Thread(target=read, daemon=True).start()
        return demo, lines

    @staticmethod
    def finish(demo):
        if demo.poll() is None:
            demo.kill()
        demo.wait()
        demo.stdout.close()
        demo.stderr.close()

    def read_until(self, lines, pattern, timeout=30.0):
        """The first line matching `pattern`, with the demo's earlier lines."""
        seen = []
        while True:
            line = lines.get(timeout=timeout)
            self.assertIsNotNone(line, "the demo ended early:\n" + "".join(seen))
            seen.append(line)
            match = re.search(pattern, line)
            if match:
                return match

    def test_terminated_demo_stops_the_simulators(self):
        for signal_number, status in ((signal.SIGTERM, 128 + signal.SIGTERM),
                                      (signal.SIGINT, 130)):
            with self.subTest(signal=signal_number):
                demo, lines = self.start_demo()
                sim_pid = int(self.read_until(lines, r"quiral_sim is running \(pid (\d+)\)")[1])
                self.assertTrue(alive(sim_pid))
                self.read_until(lines, r"^\[3/8\]")
                demo.send_signal(signal_number)
                self.assertEqual(demo.wait(timeout=30), status, demo.stderr.read())
                self.assertTrue(wait_until(lambda: not alive(sim_pid), 5.0),
                                "quiral_sim %d outlived the demo" % sim_pid)

    def test_failed_demo_stops_the_simulators(self):
        # A stand-in that reports ready but runs no controller: connecting
        # the pair fails, and the demo still ends the stand-in.
        with tempfile.TemporaryDirectory() as folder:
            fake = os.path.join(folder, "quiral_sim")
            with open(fake, "w") as script:
                script.write("#!%s\n" % sys.executable + textwrap.dedent("""
                    import json, sys
                    serials = sys.argv[2::2][:2]
                    print(json.dumps({"event": "ready", "serials": serials}), flush=True)
                    for line in sys.stdin:
                        if json.loads(line).get("cmd") == "quit":
                            print(json.dumps({"id": json.loads(line)["id"], "ok": True}))
                            break
                    """))
            os.chmod(fake, 0o755)
            demo = subprocess.run([sys.executable, DEMO, "--sim", fake],
                                  capture_output=True, text=True, timeout=120)
        self.assertEqual(demo.returncode, 1, demo.stdout + demo.stderr)
        self.assertIn("Demo failed: RuntimeError: [quiral::bivek::RobotPair](first)", demo.stderr)
        fake_pid = int(re.search(r"quiral_sim is running \(pid (\d+)\)", demo.stdout)[1])
        self.assertTrue(wait_until(lambda: not alive(fake_pid), 5.0))

        # No simulator at all: a message, nothing started.
        demo = subprocess.run([sys.executable, DEMO, "--sim", "/nonexistent/quiral_sim"],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(demo.returncode, 2)
        self.assertIn("no simulator at /nonexistent/quiral_sim", demo.stderr)

if __name__ == "__main__":
    unittest.main()
