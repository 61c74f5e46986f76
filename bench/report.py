"""Collects the figures the benchmarks printed ("BENCH <name> <value> <unit>"
lines in their logs; "<bench>.<n>.log" is the n-th run of a benchmark that
runs several times, the logs of one n making one run, and a log without a
number belongs to every run) and prints one table: each figure
beside its anchor, the ratio of the two and its target. The ratio is taken
within each run, figure and anchor measured together, and its median over
the runs shown; figure and anchor show their medians. Writes the same rows,
and every figure with its runs, as JSON.

  report.py --json FILE LOG...
"""

import argparse
import json
import re
import statistics
import sys

# Anywhere in a line: console output may leave colour codes before it.
FIGURE = re.compile(r"BENCH (\S+) (\S+) (\S+)\s*$")
RUN_NUMBER = re.compile(r"\.(\d+)\.log$")

# (figure, anchor, what the anchor is, target ratio or None). A figure
# whose anchor is None is shown alone, with its target as an absolute
# ceiling.
ROWS = [
    ("rpc.api_sim.p50", "rpc.raw_echo.p50", "raw DDS request/echo, 2 processes", 1.2),
    ("rpc.api_sim.p99", "rpc.raw_echo.p99", "raw DDS request/echo, 2 processes", None),
    ("rpc.raw_sim.p50", "rpc.raw_echo.p50", "raw request/echo (simulator's hop)", None),
    ("rpc.api_sim.p50", "rpc.raw_sim.p50", "raw request to the simulator (client's share)", 1.2),
    ("rpc.api_sim.p99", "rpc.raw_sim.p99", "raw request to the simulator (client's share)", None),
    ("rpc.mw_client.mean", "rpc.mw_raw.mean", "raw DDS round trip, same echo server", None),
    ("stream.api.p50", "stream.raw.p50", "raw best-effort writer, same message", 1.1),
    ("stream.api.p99", "stream.raw.p99", "raw best-effort writer, same message", 1.1),
    ("stream.api.missed", "stream.raw.missed", "raw best-effort writer, same message", None),
    ("cpu.robot_idle", "cpu.raw_idle", "raw client, same subscriptions + heartbeat", 2.0),
    ("cpu.robot_stream", "cpu.raw_stream", "raw client, same subscriptions + heartbeat", 2.0),
    ("model.api_cycle", "model.kdl_cycle", "KDL, same queries", None),
    ("model.multibody_cycle", "model.kdl_cycle", "KDL, same queries", None),
    ("collision.checker", "collision.fcl", "the same FCL calls made directly", 1.2),
    ("codec.encode.rpc_1mb", "codec.copy.rpc_1mb", "copy of the encoded bytes", None),
    ("codec.decode.rpc_1mb", "codec.copy.rpc_1mb", "copy of the encoded bytes", None),
    ("codec.encode.basic_stream", "codec.copy.basic_stream", "copy of the encoded bytes", None),
    ("codec.decode.basic_stream", "codec.copy.basic_stream", "copy of the encoded bytes", None),
    ("call.python.states.p50", "call.cpp.states.p50", "the same C++ call", None),
    ("call.python.plan_list.p50", "call.cpp.plan_list.p50", "the same C++ call", None),
]
# Each message that carries lists, decoded against its own encoding.
ROWS += [("codec.decode." + message, "codec.encode." + message, "encode of the same message", 1.1)
         for message in ("basic_stream", "extra_stream", "joint_commands", "motion_commands",
                         "operations_reply", "data_reply")]


def read_runs(paths):
    """The logs' figures (name -> (value, unit)) grouped as they were
    measured, and the same per run."""
    numbered, once = {}, {}
    for path in paths:
        number = RUN_NUMBER.search(path)
        figures = numbered.setdefault(number[1], {}) if number else once
        with open(path) as log:
            for line in log:
                found = FIGURE.search(line)
                if found:
                    figures[found[1]] = (float(found[2]), found[3])
    groups = list(numbered.values()) + [once]
    return groups, [dict(once, **figures) for figures in numbered.values()] or [once]


def summarise(groups):
    """Name -> median value, unit and its values, one per measurement."""
    values = {}
    for figures in groups:
        for name, (value, unit) in figures.items():
            values.setdefault(name, (unit, []))[1].append(value)
    return {name: {"value": statistics.median(v), "unit": unit, "runs": v}
            for name, (unit, v) in values.items()}


def rows(runs, figures):
    out = []
    for figure, anchor, anchor_text, target in ROWS:
        value, base = figures.get(figure), figures.get(anchor)
        ratios = [run[figure][0] / run[anchor][0] for run in runs
                  if figure in run and anchor in run and run[anchor][0] > 0]
        ratio = statistics.median(ratios) if ratios else None
        out.append({"figure": figure, "value": value and value["value"],
                    "unit": value and value["unit"], "anchor": anchor,
                    "anchor_is": anchor_text, "anchor_value": base and base["value"],
                    "ratio": ratio, "target": target,
                    "met": None if target is None or ratio is None else ratio <= target})
    return out


def number(value):
    return "-" if value is None else "%.4g" % value


def print_table(table):
    header = ("figure", "value", "unit", "anchor", "anchor value", "ratio", "target")
    lines = [header]
    for row in table:
        target = "-" if row["target"] is None else "<= %.3gx%s" % (
            row["target"], "" if row["met"] is None else (" ok" if row["met"] else " MISSED"))
        lines.append((row["figure"], number(row["value"]), row["unit"] or "-",
                      row["anchor_is"], number(row["anchor_value"]),
                      "-" if row["ratio"] is None else "%.3fx" % row["ratio"], target))
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for n, line in enumerate(lines):
        print("  ".join(cell.ljust(widths[i]) for i, cell in enumerate(line)).rstrip())
        if n == 0:
            print("  ".join("-" * w for w in widths))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json", required=True)
    parser.add_argument("logs", nargs="+")
    args = parser.parse_args()
    groups, runs = read_runs(args.logs)
    figures = summarise(groups)
    table = rows(runs, figures)
    print_table(table)
    with open(args.json, "w") as out:
        json.dump({"rows": table, "figures": figures}, out, indent=1)
    print("\nJSON: %s" % args.json)
    return 0 if all(row["value"] is not None for row in table) else 1


if __name__ == "__main__":
    sys.exit(main())
