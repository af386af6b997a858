#!/usr/bin/env bash
# Builds every preset and runs every test. Installs what it needs on Debian (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build host fuzz wine bench

echo "=== fuzz (list reader, bounded)"
bash tests/framework/enum_list/fuzz/run.sh "${MV_FUZZ_SECONDS:-60}" 2>&1 | tail -n 3

# release: the optimised host, on which the command-line tests run once more.
presets=(native release linux-i686 windows-i686 windows-x86_64)
# Every build before any test: the Windows builds' tests under wine compare with the native one.
for preset in "${presets[@]}"; do
    echo "=== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# The benchmarks only have to build and run; their figures are not pass/fail.
echo "=== bench (one brief pass)"
bash bench/run.sh --brief

for preset in "${presets[@]}"; do
    echo "=== test $preset"
    ctest --preset "$preset"
done
