#!/usr/bin/env bash
# Configures and builds the project with Ninja into ./build (or $BUILD_DIR).
# Extra arguments are passed to CMake's configure step. The Python modules
# are built for the Python 3.10 interpreter that scripts/find-python.sh
# finds (unless -DQUIRAL_BUILD_PYTHON=OFF is given).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

python_args=()
if [[ " $* " != *" -DQUIRAL_BUILD_PYTHON=OFF "* ]]; then
  python="$("$root/scripts/find-python.sh" 3.10)"
  python_args=("-DPython_EXECUTABLE=$python")
fi

cmake -S "$root" -B "$build_dir" -G Ninja "${python_args[@]}" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
