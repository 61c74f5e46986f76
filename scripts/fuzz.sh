#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz: the message decoders and the
# text parsers) with clang++ and the address and undefined-behaviour
# sanitizers into ./build-fuzz, and runs every target for SECONDS:
#
#   scripts/fuzz.sh SECONDS [TARGET...]
#
# TARGET names a subset (vek_msgs__RPCRequest, param_value, ...); without
# one every target runs. FUZZ_JOBS targets run at a time (half the cores by
# default). Corpora stay in ./fuzz-corpus (git-ignored) from run to run:
# found/<target> gathers the inputs that reach new code, findings/<target>
# the inputs of a finding, logs/<target>.log each run's output. Prints one
# line per target (runs executed, coverage, result) and exits non-zero when
# any target found a crash, hang, leak, sanitizer report or uncaught
# exception, naming the target and its reproducer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"
shift
jobs="${FUZZ_JOBS:-$(( $(nproc) / 2 > 0 ? $(nproc) / 2 : 1 ))}"
build="$root/build-fuzz"
corpus="$root/fuzz-corpus"
bin="$build/fuzz"

cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="${CXX_FOR_FUZZ:-clang++}" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE= >/dev/null
ninja -C "$build" -j "${FUZZ_BUILD_JOBS:-3}"

# The target lists, as the build knows them.
list_targets() {
  printf 'include(%s)\nforeach(t IN LISTS %s)\n  message("${t}")\nendforeach()\n' \
    "$root/tests/fuzz/targets.cmake" "$1" >"$build/list_targets.cmake"
  cmake -P "$build/list_targets.cmake" 2>&1
}
mapfile -t decoders < <(list_targets QUIRAL_FUZZ_DECODERS)
mapfile -t parsers < <(list_targets QUIRAL_FUZZ_PARSERS)
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${decoders[@]}" "${parsers[@]}")

"$bin/fuzz_seeds" "$corpus" "${parsers[@]}"
mkdir -p "$corpus/logs"

run_target() {
  local target="$1" seeds="$corpus/seeds/$1"
  [[ -d "$root/tests/fuzz/seeds/$target" ]] && seeds="$root/tests/fuzz/seeds/$target"
  mkdir -p "$corpus/found/$target" "$corpus/findings/$target"
  local status=0
  "$bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$corpus/findings/$target/" \
    "$corpus/found/$target" "$seeds" >"$corpus/logs/$target.log" 2>&1 || status=$?
  echo "$status" >"$corpus/logs/$target.status"
}

echo "fuzz: ${#targets[@]} targets, ${seconds} s each, $jobs at a time"
running=0
for target in "${targets[@]}"; do
  [[ -x "$bin/fuzz_$target" ]] || { echo "fuzz: no target $target" >&2; exit 2; }
  if (( running >= jobs )); then
    wait -n
    running=$(( running - 1 ))
  fi
  run_target "$target" &
  running=$(( running + 1 ))
done
wait

failed=0
printf '%-40s %12s %8s %8s  %s\n' target runs cov ft result
for target in "${targets[@]}"; do
  log="$corpus/logs/$target.log"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)"
  ft="$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)"
  result=ok
  if [[ "$(cat "$corpus/logs/$target.status")" != 0 ]]; then
    failed=1
    result="FINDING, reproducer: $(sed -n 's/.*Test unit written to //p' "$log" | tail -n1)"
    result+=" (log: $log)"
  fi
  printf '%-40s %12s %8s %8s  %s\n' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit "$failed"
