#!/usr/bin/env bash
# Builds the project and runs every test with CTest inside the private
# network namespace. Fails on any failed, skipped or missing test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh" -DQUIRAL_BUILD_TESTS=ON -DQUIRAL_BUILD_BENCH=ON
# Most tests wait on the network or on a simulated controller, so a few
# more run at once than there are cores.
jobs=$(( $(nproc) * 2 ))
log="$build_dir/ctest-output.log"
set +e
"$root/scripts/netns-run" ctest --test-dir "$build_dir" --output-on-failure \
  --no-tests=error --timeout 300 -j "$jobs" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
if [[ $status -ne 0 ]]; then
  exit "$status"
fi
if grep -q '\*\*\*Skipped\|Not Run' "$log"; then
  echo "run-tests: some tests were skipped or not run" >&2
  exit 1
fi
