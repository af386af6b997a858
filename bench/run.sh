#!/usr/bin/env bash
# Builds the benchmarks (preset `bench`) and runs them: 5 repetitions of every case, JSON in
# build/bench/results.json, then the table of rates and ratios.
#   bash bench/run.sh           the full run, a few minutes; take figures on a quiet machine
#   bash bench/run.sh --brief   one short pass, to show it still builds and runs
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
out=build/bench/results.json
if [ "${1:-}" = "--brief" ]; then
    args=(--benchmark_min_time=0.002 --benchmark_repetitions=1)
else
    args=(--benchmark_min_time=0.2 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
fi
echo "Running build/bench/count_bench ${args[*]} (load: $(cut -d' ' -f1-3 /proc/loadavg))"
build/bench/count_bench "${args[@]}" --benchmark_format=json >"$out"
python3 bench/ratios.py "$out"
