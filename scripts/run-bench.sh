#!/usr/bin/env bash
# Builds the benchmarks (Release, in ./build-bench or $BUILD_DIR), runs each
# inside a private network namespace of its own and prints one table: every
# figure beside its anchor, measured in the same run, with the ratio and
# its target. Writes the same as JSON for comparison between runs.
#
#   scripts/run-bench.sh [--quick] [--json FILE]
#
# The benchmarks that talk over DDS run three times and each of their
# figures counts with its median: the load of a shared machine moves them
# from run to run. --quick runs them once, with shorter streaming and CPU
# windows and shorter Google Benchmark runs. Default JSON file:
# <build dir>/bench-report.json. Each benchmark's full output is kept in
# <build dir>/bench-logs/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build-bench}"
quick=0
json=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --quick) quick=1 ;;
    --json) json="$2"; shift ;;
    *) echo "usage: run-bench.sh [--quick] [--json FILE]" >&2; exit 2 ;;
  esac
  shift
done
json="${json:-$build_dir/bench-report.json}"
python="$("$root/scripts/find-python.sh" 3.10)"

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIRAL_BUILD_BENCH=ON \
  -DQUIRAL_BUILD_TESTS=OFF "-DPython_EXECUTABLE=$python" >/dev/null
benches=(vek_remote_call_bench middleware_rpc_round_trip_bench vek_motion_bench vek_cpu_bench
         vek_multibody_bench bivek_collision_bench msgs_codec_bench bivek_pair_call_bench)
ninja -C "$build_dir" -j"${BENCH_JOBS:-3}" "${benches[@]}" quiral_sim_bin quiralvek quiralbivek \
  >/dev/null

logs="$build_dir/bench-logs"
rm -rf "$logs"
mkdir -p "$logs"
quick_args=()
gbench_args=(--benchmark_color=false)
repeats=3
if [[ $quick == 1 ]]; then
  quick_args=(--quick)
  gbench_args+=(--benchmark_min_time=0.2)
  repeats=1
fi
# One benchmark: its output into the logs, its standard error shown only
# when it fails.
run() {
  local name="$1"
  shift
  echo "running $name" >&2
  if ! "$root/scripts/netns-run" --fresh "$@" >"$logs/$name.log" 2>"$logs/$name.err"; then
    echo "$name failed:" >&2
    tail -n 20 "$logs/$name.err" >&2
    return 1
  fi
}
bin="$build_dir/bin"
status=0
for ((i = 1; i <= repeats; ++i)); do
  run "vek_remote_call_bench.$i" "$bin/vek_remote_call_bench" || status=1
  run "middleware_rpc_round_trip_bench.$i" "$bin/middleware_rpc_round_trip_bench" \
    --benchmark_color=false || status=1
  run "vek_motion_bench.$i" "$bin/vek_motion_bench" "${quick_args[@]}" || status=1
  run "vek_cpu_bench.$i" "$bin/vek_cpu_bench" "${quick_args[@]}" || status=1
  run "bivek_pair_call_bench.$i" "$bin/bivek_pair_call_bench" || status=1
  run "python_call_bench.$i" env "PYTHONPATH=$build_dir/python:$root/tests/python" \
    "QUIRAL_SIM=$bin/quiral_sim" "$python" "$root/bench/python/call_bench.py" || status=1
done
run vek_multibody_bench "$bin/vek_multibody_bench" "${gbench_args[@]}" || status=1
run bivek_collision_bench "$bin/bivek_collision_bench" --benchmark_color=false || status=1
run msgs_codec_bench "$bin/msgs_codec_bench" "${gbench_args[@]}" || status=1

"$python" "$root/bench/report.py" --json "$json" "$logs"/*.log
exit $status
