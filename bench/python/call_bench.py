"""The Python side of bivek_pair_call_bench: the same two RobotPair calls,
states() and plan_list(), through the Python module against two simulated
controllers, timed alike. Prints call.python.<call>.p50/p99 in microseconds
as "BENCH <name> <value> <unit>" lines.

Run inside the network namespace, with the module and tests/python (for the
simulator harness) on PYTHONPATH and QUIRAL_SIM naming the simulator:
  scripts/netns-run python3.10 bench/python/call_bench.py
"""

import time

import quiralvek  # noqa: F401  registers the single-robot types
import quiralbivek
from sim_harness import SimProcess, unique_serial

CALLS = 2000


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p * (len(ordered) - 1) + 0.5))]


def main():
    serials = (unique_serial("Varno4"), unique_serial("Varno10"))
    sim = SimProcess(serials, ["--initial-state", "ready"])
    try:
        pair = quiralbivek.RobotPair(serials, network_interface_whitelist=["127.0.0.1"])
        calls = {"states": pair.states, "plan_list": pair.plan_list}
        times = {name: [] for name in calls}
        for _ in range(CALLS):
            for name, call in calls.items():
                t0 = time.perf_counter_ns()
                call()
                times[name].append((time.perf_counter_ns() - t0) * 1e-3)
        for name, us in times.items():
            for p, label in ((0.5, "p50"), (0.99, "p99")):
                print("BENCH call.python.%s.%s %.6g us" % (name, label, percentile(us, p)),
                      flush=True)
        del pair
    finally:
        sim.quit()


if __name__ == "__main__":
    main()
