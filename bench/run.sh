#!/usr/bin/env bash
# Builds the benchmarks (preset `bench`) and runs them, 5 repetitions of every case, then
# prints the tables of rates and ratios. Two runs: every case walking 2^20 samples per input
# stream (the inputs stream from the shared cache), and the periodic cases walking 2^17 (the
# inputs stay in this core's cache, as a host's block buffers do). JSON in build/bench/.
#   bash bench/run.sh           the full runs, about four minutes; take figures on a quiet machine
#   bash bench/run.sh --brief   one short pass, to show it still builds and runs
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j2

run() {  # run <json> <walk> [benchmark arguments...]
    local out=$1 walk=$2
    shift 2
    echo "Running count_bench --walk=$walk $* (load: $(cut -d' ' -f1-3 /proc/loadavg))"
    build/bench/count_bench --walk="$walk" "$@" --benchmark_format=json >"$out"
}

if [ "${1:-}" = "--brief" ]; then
    run build/bench/results.json 1048576 --benchmark_min_time=0.002 --benchmark_repetitions=1
    python3 bench/ratios.py build/bench/results.json
    exit 0
fi
full=(--benchmark_min_time=0.2 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
run build/bench/results.json 1048576 "${full[@]}"
run build/bench/results-cached.json 131072 "${full[@]}" --benchmark_filter='^(clock64|edge2|const0)/'
echo
echo "## Inputs walking 2^20 samples (streaming from the shared cache)"
python3 bench/ratios.py build/bench/results.json
echo
echo "## Inputs walking 2^17 samples (in this core's cache); noise needs 2^20 and is left out"
python3 bench/ratios.py build/bench/results-cached.json
