#!/usr/bin/env bash
# Soak run: builds the soak program (Release, in ./build-soak; or in the
# build directory $SOAK_BUILD_DIR as that is already configured, with the
# benchmarks on, as scripts/run-tests.sh leaves ./build) and runs it for
# MINUTES inside the private network namespace. Exits with the program's status: 0 for a
# clean run; 1 for errors, missed sequence numbers beyond the tolerance,
# growing memory or threads, or a hang (the report on standard output says
# which). SOAK_JOBS caps the build jobs (default: one per core).
#
#   scripts/soak.sh 2
set -euo pipefail
if [[ $# -ne 1 || ! "$1" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
  echo "usage: soak.sh MINUTES" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${SOAK_BUILD_DIR:-$root/build-soak}"
if [[ -z "${SOAK_BUILD_DIR:-}" ]]; then
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUIRAL_BUILD_TESTS=OFF -DQUIRAL_BUILD_PYTHON=OFF -DQUIRAL_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build_dir" --parallel "${SOAK_JOBS:-$(nproc)}" --target quiral_soak
exec "$root/scripts/netns-run" "$build_dir/bin/quiral_soak" "$1"
