#!/usr/bin/env bash
# mvmhost compare end to end: the counter against its per-sample build over a million samples
# (identical), against a planted one-sample difference and against late state announcements
# (different, each named and reproduced by its seed), and against a library with other plugs
# (cannot run).
#   compare_test.sh MVMHOST LIBRARY_DIR [EMULATOR]
set -u
mvmhost=$1 dir=$2
shift 2
run() { "$@" "$mvmhost" "${args[@]}"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
counter=$dir/COUNTreset1.mvm

# case|second library|options|exit|what standard output or error must say
cases=(
    "per-sample|COUNTreset1PerSample.mvm|--seed 7|0|^identical: 1000000 samples on 2 outputs, [0-9]+ process calls, [0-9]+ changes, [0-9]+ announcements, then 131072 samples in [0-9]+ calls of up to 65536 \(seed 7\)$"
    "per-sample, short blocks|COUNTreset1PerSample.mvm|--seed 8 --block 3 --samples 200000|0|^identical: 200000 samples"
    "planted sample|counter_planted_sample.mvm|--seed 9|1|^different: sample 654321, OUTclimb: [-0-9.e+]+ \(0x[0-9A-F]{8}, [-0-9.]+ V\) from .*COUNTreset1.mvm, [-0-9.e+]+ \(0x[0-9A-F]{8}, [-0-9.]+ V\) from .*counter_planted_sample.mvm$"
    "long call|counter_long_call_sample.mvm|--seed 12|1|^different: in blocks of 65536 samples, each in one call: sample 0, OUTclimb: "
    "one sample|COUNTreset1PerSample.mvm|--seed 13 --samples 1|0|^identical: 1 sample on 2 outputs, .* then 1 sample in 1 call of up to 65536"
    "late announcement|counter_late_announcement.mvm|--seed 10|1|^different: state announcement at sample ([0-9]+): .*COUNTreset1.mvm announces OUTclimb [A-Za-z]+ from clock ([0-9]+); .*counter_late_announcement.mvm announces OUTclimb [A-Za-z]+ from clock [0-9]+$"
    "other plugs|faulty_plain.mvm|--seed 11|2|^mvmhost: cannot compare: .*COUNTreset1.mvm has 6 plugs, .*faulty_plain.mvm 3$"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name other options status said <<<"$row"
    read -ra args <<<"compare $counter $dir/$other $options"
    out=$(run "$@" 2>&1)
    got=$?
    if [ $got -ne "$status" ] || ! grep -Eq "$said" <<<"$out"; then
        fail "$name: exit $got (want $status): $out"
        continue
    fi
    echo "$name: $(head -n 1 <<<"$out")"
    [ "$status" -eq 1 ] || continue
    # The line it prints runs the same session again, and finds the same difference.
    again=$(sed -n 's/^seed [0-9]*; again: mvmhost //p' <<<"$out")
    read -ra args <<<"$again"
    replay=$(run "$@" 2>&1)
    [ "$(head -n 1 <<<"$replay")" = "$(head -n 1 <<<"$out")" ] || fail "$name: the replay says: $replay"
done
# A late announcement is dated one sample after the counter's.
out=$("$@" "$mvmhost" compare "$counter" "$dir/counter_late_announcement.mvm" --seed 10 2>&1 | head -n 1)
[[ $out =~ from\ clock\ ([0-9]+)\;.*from\ clock\ ([0-9]+)$ ]] && [ $((BASH_REMATCH[1] + 1)) -eq "${BASH_REMATCH[2]}" ] ||
    fail "late announcement: the clocks: $out"

[ $failures -eq 0 ] && echo "all compare cases passed"
[ $failures -eq 0 ]
