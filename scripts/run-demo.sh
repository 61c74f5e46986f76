#!/usr/bin/env bash
# Builds the project and runs the demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh" -DQUIRAL_BUILD_TESTS=OFF -DQUIRAL_BUILD_BENCH=OFF
"$root/scripts/netns-run" "$build_dir/bin/quiral_tables_demo"
