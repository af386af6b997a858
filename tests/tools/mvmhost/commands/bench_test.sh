#!/usr/bin/env bash
# mvmhost bench end to end, in short runs: no figure is held to a speed, only the exit status
# on a module many times slower than the counter (slower: 1, faster: 0), the table and the
# JSON file's shape, and the refusals.
#   bench_test.sh MVMHOST LIBRARY_DIR SPINNING_LIBRARY [EMULATOR]
set -u
mvmhost=$1 dir=$2 spinning=$3
shift 3
counter=$dir/COUNTreset1.mvm
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench() { "$@" "$mvmhost" bench "${args[@]}" 2>&1; }

# case|arguments|exit|what the output must say
cases=(
    "slow way round|$counter $spinning --block 64 --fail-slower 10|1|^B is slower than A by more than 10%: silence 64 \(B/A [0-9.]+\), held 64"
    "fast way round|$spinning $counter --block 64 --fail-slower 10|0|^B is nowhere slower than A by more than 10%$"
    "alone|$counter --block 16 --block 1024|0|^noise +1024 +[0-9.]+ +[0-9.]+$"
    "B needed|$counter --fail-slower 10|2|^mvmhost: --fail-slower needs a second library B"
    "bad block|$counter --block 0|2|^mvmhost: --block 0: give a whole number of samples from 1 to"
    "bad share|$counter $spinning --fail-slower ten|2|^mvmhost: --fail-slower ten: give a percentage"
    "other plugs|$counter $dir/faulty_plain.mvm|2|^mvmhost: cannot pair .*: A has 6 plugs, B 3$"
    "no library|$work/none.mvm|2|^mvmhost: .*none.mvm"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name arguments status said <<<"$row"
    read -ra args <<<"$arguments --seconds 0.2"
    out=$(bench "$@")
    got=$?
    if [ $got -ne "$status" ] || ! grep -Eq "$said" <<<"$out"; then
        fail "$name: exit $got (want $status): $out"
    else
        echo "$name: exit $got"
    fi
done

# The JSON file: one result per input and block, each figure a number; never onto a library.
args=("$counter" "$spinning" --block 16 --block 64 --seconds 0.2 --json "$work/bench.json")
bench "$@" >/dev/null || fail "json: exit $?"
python3 - "$work/bench.json" <<'PY' || fail "json: the file's contents"
import json, sys
results = json.load(open(sys.argv[1]))["results"]
assert [(r["input"], r["block"]) for r in results] == [
    (i, b) for i in ("silence", "held", "clock", "noise") for b in (16, 64)], results
for r in results:
    assert all(isinstance(r[k], float) and r[k] > 0 for k in ("a_ns", "b_ns", "ratio")), r
    assert abs(r["ratio"] - r["b_ns"] / r["a_ns"]) < 0.5 * r["ratio"], r
PY
cp "$counter" "$work/copy.mvm"
args=("$work/copy.mvm" --block 16 --seconds 0.1 --json "$work/copy.mvm")
out=$(bench "$@")
[ $? -eq 2 ] && grep -q "is a library of the bench" <<<"$out" && cmp -s "$counter" "$work/copy.mvm" ||
    fail "json onto the library: $out"

[ $failures -eq 0 ] && echo "all bench cases passed"
[ $failures -eq 0 ]
