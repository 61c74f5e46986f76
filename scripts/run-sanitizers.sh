#!/usr/bin/env bash
# Builds the project with sanitizers and runs its tests under them:
#
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer: every C++ test, in
#         ./build-asan;
#   tsan  ThreadSanitizer: the tests labelled "concurrency" (the target
#         tests_concurrency builds them), in ./build-tsan.
#
#   scripts/run-sanitizers.sh            both, asan first
#   scripts/run-sanitizers.sh tsan       only the one named
#
# Both builds use clang++ (quicker to build than g++ with the sanitizers
# on) and leave out the benchmarks, the fuzz sub-build (the fuzz targets
# carry their own sanitizers) and the Python modules: the Python
# interpreter is not built with the sanitizers and cannot load an
# instrumented module without having their run time preloaded, so the
# Python tests do not run here. Every process of the project is
# instrumented, the simulated controller included; Fast-DDS, Fast-CDR,
# spdlog and GoogleTest are not. Tests run through scripts/netns-run like
# in scripts/run-tests.sh; a sanitizer report fails the test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cxx="${CXX_FOR_SANITIZERS:-clang++}"
jobs="$(nproc)"

# Reports name no inlined frames: the standard library's long inlined
# template names overflow the symbolizer's buffer and garble the stacks.
symbolize="symbolize_inline_frames=0"

# build_and_test <name> <compile and link flags> <build target> [ctest args...]
build_and_test() {
  local name="$1" flags="$2" target="$3"
  shift 3
  local build_dir="$root/build-$name"
  echo "run-sanitizers: $name: building into $build_dir"
  # CMAKE_CXX_FLAGS also go to every link step (and to the installed-package
  # test's consumer program). Line tables are all the reports need for their
  # file:line, and build much quicker than full debug information.
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS="$flags" \
    -DQUIRAL_BUILD_TESTS=ON -DQUIRAL_BUILD_BENCH=OFF -DQUIRAL_BUILD_PYTHON=OFF -DQUIRAL_FUZZ_TESTS=OFF
  cmake --build "$build_dir" --parallel "$jobs" --target "$target"
  echo "run-sanitizers: $name: testing"
  local log="$build_dir/ctest-output.log"
  set +e
  "$root/scripts/netns-run" ctest --test-dir "$build_dir" --output-on-failure \
    --no-tests=error --timeout 300 -j "$jobs" "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  set -e
  if [[ $status -ne 0 ]]; then
    exit "$status"
  fi
  if grep -q '\*\*\*Skipped\|Not Run' "$log"; then
    echo "run-sanitizers: $name: some tests were skipped or not run" >&2
    exit 1
  fi
}

run_asan() {
  # The DDS library deletes one of its own reader objects through a pointer
  # to a smaller type with a sized delete, wholly inside the library: that
  # one check is off, every other one of AddressSanitizer stays on.
  # Leaks are checked at every process's exit; scripts/lsan.supp names the
  # ones wholly inside the DDS library.
  export ASAN_OPTIONS="new_delete_type_mismatch=0:detect_leaks=1:$symbolize"
  export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:$symbolize"
  build_and_test asan \
    "-O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all" \
    all
}

run_tsan() {
  # halt_on_error: a race in the simulated controller stops it, so the test
  # driving it fails too.
  export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp:halt_on_error=1:second_deadlock_stack=1:$symbolize"
  build_and_test tsan "-O1 -fsanitize=thread" tests_concurrency \
    -L concurrency
}

if [[ $# -eq 0 ]]; then
  set -- asan tsan
fi
for which in "$@"; do
  case "$which" in
    asan) run_asan ;;
    tsan) run_tsan ;;
    *) echo "usage: run-sanitizers.sh [asan] [tsan]" >&2; exit 2 ;;
  esac
done
echo "run-sanitizers: clean"
