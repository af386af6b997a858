#!/usr/bin/env bash
# Builds the benchmarks and runs them, then prints the tables of rates and ratios.
#
# x86-64 (preset `bench`, Google Benchmark): 5 repetitions of every case, in two runs: every
# case walking 2^20 samples per input stream (the inputs stream from the shared cache), and the
# periodic cases walking 2^17 (the inputs stay in this core's cache, as a host's block buffers
# do). JSON in build/bench/.
#
# The 32-bit product (bench/paired_host.cpp): the linux-i686 library natively and the
# windows-i686 DLL under 32-bit wine, each paired in one process with the per-sample build of
# the same sources (MV_COUNT_PER_SAMPLE, built in build/<preset>-per-sample). Where 32-bit
# programs run only under emulation it says so instead of giving figures. Output in
# build/bench32/.
#   bash bench/run.sh           the full runs, 4 to 9 minutes; take figures on a quiet machine
#   bash bench/run.sh --brief   one short pass of each, to show they still build and run
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j2

run() {  # run <json> <walk> [benchmark arguments...]
    local out=$1 walk=$2
    shift 2
    echo "Running count_bench --walk=$walk $* (load: $(load))"
    build/bench/count_bench --walk="$walk" "$@" --benchmark_format=json >"$out"
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

# bench32 <preset> [count_paired arguments...]: the shipped library against the per-sample
# build, both of this preset.
bench32() {
    local preset=$1
    shift
    local out=build/bench32/$preset
    cmake --preset "$preset" >/dev/null
    cmake --preset "$preset" -B "build/$preset-per-sample" -DMV_COUNT_PER_SAMPLE=ON \
        -DMV_TESTS=OFF >/dev/null
    cmake --build --preset "$preset" --target count_paired count_reset_mvm -j2 >/dev/null
    cmake --build "build/$preset-per-sample" --target count_reset_mvm -j2 >/dev/null
    rm -rf "$out" && mkdir -p "$out"
    cp "build/$preset/COUNTreset1.mvm" "$out/COUNTreset1.mvm"
    cp "build/$preset-per-sample/COUNTreset1.mvm" "$out/COUNTreset1-per-sample.mvm"
    echo "## $preset: shipped / per-sample build, paired (load before: $(load))"
    case $preset in
    linux-i686)
        cp build/$preset/count_paired "$out/"
        (cd "$out" && ./count_paired ./COUNTreset1.mvm ./COUNTreset1-per-sample.mvm "$@") |
            tee "$out/results.txt"
        ;;
    windows-i686)
        cp build/$preset/count_paired.exe "$out/"
        # The prefix the Windows tests use, made the way they make it when there is none yet.
        export WINEPREFIX=$PWD/build/wine-prefix WINEDEBUG=-all
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
            wineserver -w
        fi
        (cd "$out" && /usr/lib/wine/wine count_paired.exe COUNTreset1.mvm \
            COUNTreset1-per-sample.mvm "$@" | tr -d '\r') | tee "$out/results.txt"
        wineserver -w
        ;;
    esac
    echo "(load after: $(load))"
}

run32() {  # run32 [count_paired arguments...]
    printf 'int main(void) { return 0; }\n' >build/probe32.c
    if ! gcc -m32 -o build/probe32 build/probe32.c 2>/dev/null || ! build/probe32 2>/dev/null; then
        echo "## linux-i686: emulated, not measured (this kernel runs 32-bit programs only under qemu)"
        echo "## windows-i686: emulated, not measured"
        return
    fi
    bench32 linux-i686 "$@"
    if [ -x /usr/lib/wine/wine ]; then
        bench32 windows-i686 "$@"
    else
        echo "## windows-i686: not measured: 32-bit wine is missing (bash scripts/setup.sh wine)"
    fi
}

if [ "${1:-}" = "--brief" ]; then
    run build/bench/results.json 1048576 --benchmark_min_time=0.002 --benchmark_repetitions=1
    python3 bench/ratios.py build/bench/results.json
    run32 --runs 1 --turns 3 --turn-samples 16384
    exit 0
fi
full=(--benchmark_min_time=0.2 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
run build/bench/results.json 1048576 "${full[@]}"
run build/bench/results-cached.json 131072 "${full[@]}" --benchmark_filter='^(clock64|edge2|const0)/'
echo
echo "## x86-64: inputs walking 2^20 samples (streaming from the shared cache)"
python3 bench/ratios.py build/bench/results.json
echo
echo "## x86-64: inputs walking 2^17 samples (in this core's cache); noise needs 2^20 and is left out"
python3 bench/ratios.py build/bench/results-cached.json
echo
run32
