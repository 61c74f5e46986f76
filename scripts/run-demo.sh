#!/usr/bin/env bash
# Builds the project (library and Python modules, no tests) and runs the
# dual-arm demo: a Python 3.10 script that starts two simulated robot
# controllers and drives them as one pair, all inside the private network
# namespace. The simulators are stopped at the end, also on failure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh" -DQUIRAL_BUILD_TESTS=OFF -DQUIRAL_BUILD_BENCH=OFF -DQUIRAL_BUILD_PYTHON=ON
python="$("$root/scripts/find-python.sh" 3.10)"
echo "run-demo: $("$python" --version) from $python"
export PYTHONPATH="$build_dir/python${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1
exec "$root/scripts/netns-run" "$python" "$root/python/demo/dual_arm_demo.py" \
  --sim "$build_dir/bin/quiral_sim"
