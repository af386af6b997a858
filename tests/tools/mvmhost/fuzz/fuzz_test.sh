#!/usr/bin/env bash
# mvmhost fuzz end to end: our counter over a fixed list of chunks with no finding, each
# planted fault found within the first 200 chunks of seed 1 and replayed by its reproduce
# line, and Ctrl-C ending the children.
#   fuzz_test.sh MVMHOST LIBRARY_DIR COUNTER_CHUNKS
set -u
mvmhost=$1 dir=$2 chunks=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$mvmhost" fuzz "$dir/COUNTreset1.mvm" --seed 1 --chunks "$chunks" --jobs 2 >"$work/counter.out" 2>&1
status=$?
[ $status -eq 0 ] && grep -q "^$chunks chunks (seeds 1 to $chunks) .*: nothing found$" "$work/counter.out" ||
    fail "the counter: exit $status: $(head -c 2000 "$work/counter.out")"
tail -n 1 "$work/counter.out"

# fault|what the finding must say
faults=(
    "faulty_reads_odd_tail|crashed \(.*(SEGV|Segmentation fault)"
    "faulty_close_unprocessed|crashed \(.*(null pointer|SEGV|Segmentation fault)"
    "faulty_leaky|[0-9]+ heap blocks still held after the chunk closed every instance"
    "faulty_nan_when_held|answered NaN .* from ordinary inputs since open"
)
for row in "${faults[@]}"; do
    name=${row%%|*} said=${row#*|}
    lib=$dir/$name.mvm
    "$mvmhost" fuzz "$lib" --seed 1 --chunks 200 --jobs 2 >"$work/$name.out" 2>&1
    status=$?
    found=$(sed -n 's/^FOUND in chunk \([0-9]*\): .*/\1/p' "$work/$name.out")
    if [ $status -ne 1 ] || [ -z "$found" ] || ! grep -Eq "^FOUND in chunk $found: $said" "$work/$name.out" ||
        ! grep -q "^  to replay it in one process: mvmhost fuzz $lib --reproduce $found$" "$work/$name.out" ||
        ! grep -q "^    #[0-9]* instance " "$work/$name.out"; then
        fail "$name: exit $status: $(head -c 2000 "$work/$name.out")"
        continue
    fi
    [ "$found" -le 200 ] || fail "$name: found only in chunk $found"
    echo "$name: $(grep '^FOUND' "$work/$name.out")"
    # The replay runs the same actions in this one process, so it goes down the same way.
    "$mvmhost" fuzz "$lib" --reproduce "$found" >"$work/$name.replay" 2>&1
    replayed=$?
    [ $replayed -ne 0 ] || fail "$name: chunk $found replayed without a finding: $(tail -n 3 "$work/$name.replay")"
done

# Ctrl-C: the children end, and what ran is printed.
"$mvmhost" fuzz "$dir/COUNTreset1.mvm" --duration 60 --jobs 2 >"$work/interrupted.out" 2>&1 &
fuzzer=$!
sleep 2
children=
for _ in $(seq 20); do  # chunks are short: catch some running
    children=$(pgrep -P $fuzzer) && break
    sleep 0.05
done
kill -INT $fuzzer
for _ in $(seq 50); do kill -0 $fuzzer 2>/dev/null || break; sleep 0.1; done
if kill -0 $fuzzer 2>/dev/null; then
    fail "Ctrl-C did not end the fuzzer within 5 s"
    kill -KILL $fuzzer
fi
wait $fuzzer
status=$?
[ $status -eq 130 ] && grep -q "interrupted, nothing found" "$work/interrupted.out" ||
    fail "Ctrl-C: exit $status: $(tail -n 3 "$work/interrupted.out")"
[ -n "$children" ] || fail "no chunk process was running to be ended"
for child in $children; do
    ! kill -0 "$child" 2>/dev/null || fail "Ctrl-C left the chunk process $child running"
done

[ $failures -eq 0 ] && echo "PASS: mvmhost fuzz" || exit 1
