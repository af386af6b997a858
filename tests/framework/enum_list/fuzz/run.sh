#!/usr/bin/env bash
# Builds the fuzz preset and fuzzes the list reader for a bounded time.
#   bash tests/framework/enum_list/fuzz/run.sh [seconds]    (default 60)
# Exits non-zero when the fuzzer finds a crash, a hang or undefined behaviour;
# the input that caused it is left in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../../../.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# New inputs go to a scratch corpus so the committed seeds stay small and reviewed.
work=build/fuzz/corpus/enum_list
mkdir -p "$work" build/fuzz/artifacts
build/fuzz/tests/framework/enum_list/fuzz/enum_list_fuzz \
    -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -dict=tests/framework/enum_list/fuzz/enum_list.dict -artifact_prefix=build/fuzz/artifacts/ \
    "$work" tests/framework/enum_list/fuzz/corpus/enum_list
