#!/usr/bin/env bash
# Configures and builds the project with Ninja into ./build (or $BUILD_DIR).
# Extra arguments are passed to CMake's configure step.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

cmake -S "$root" -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
