#!/usr/bin/env bash
# mvmhost as a person runs it: the counter's documented runs from files a person wrote, the
# demo, and every kind of bad input, each ending in one line on stderr, exit status 2 and no
# file left behind.
#   cli_test.sh MVMHOST COUNTER_LIBRARY FAULTY_LIBRARY_DIR DATA_DIR [EMULATOR...]
set -u
host=$1 lib=$2 faulty=$3 data=$4
shift 4
run=("$@" "$host")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 cases=0

fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# A fresh directory holding the data files; the command runs there.
fresh() { local dir; dir=$(mktemp -d -p "$work"); cp "$data"/*.csv "$dir"/; echo "$dir"; }

# expect STATUS STDERR-PART ARGS...: a failure leaves exactly one line and no new file.
expect() {
    local status=$1 part=$2; shift 2
    cases=$((cases + 1))
    local dir; dir=$(fresh)
    local before; before=$(ls -A "$dir")
    (cd "$dir" && "${run[@]}" "$@" >"$work/out" 2>"$work/err")
    local got=$?
    local what="mvmhost $*"
    [ "$got" -eq "$status" ] || fail "$what: exit $got, not $status ($(head -c 300 "$work/err"))"
    grep -qF -- "$part" "$work/err" || fail "$what: stderr lacks '$part': $(head -c 300 "$work/err")"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$what: stderr is not one line: $(cat "$work/err")"
    [ "$(ls -A "$dir")" = "$before" ] || fail "$what: left files behind: $(ls -A "$dir" | tr '\n' ' ')"
}

# documented FILE ARGS...: the module's outputs equal the OUTclimb and RESETpulse columns
# that a person wrote beside the inputs.
documented() {
    local file=$1; shift
    cases=$((cases + 1))
    local dir; dir=$(fresh)
    (cd "$dir" && "${run[@]}" render "$lib" --in "upCOUNT=$file" --in "upZERO=$file" --in "bySTEP=$file" \
        "$@" --out out.csv --quiet >"$work/out" 2>"$work/err")
    local got=$?
    local what="render $file $*"
    [ "$got" -eq 0 ] || { fail "$what: exit $got: $(cat "$work/err")"; return; }
    [ ! -s "$work/out" ] && [ ! -s "$work/err" ] || fail "$what: --quiet printed something"
    cut -d, -f4- "$data/$file" | cmp -s - "$dir/out.csv" ||
        fail "$what: outputs differ from the file: $(diff <(cut -d, -f4- "$data/$file") "$dir/out.csv" | head -5)"
}

documented count_to_reset.csv --set reset@=3
documented count_to_reset.csv --set reset@=3 --block 3 --split-seed 9
documented count_to_reset.csv --set reset@=3 --block 1
documented high_from_start.csv
documented both_edges.csv
documented step_of_the_edge.csv
documented retriggered.csv --set reset@=1
documented at_the_threshold.csv

# The demo, and the render it says is the same run.
cases=$((cases + 1))
dir=$(fresh)
if (cd "$dir" && "${run[@]}" demo "$lib" --out-dir shown >"$work/demo" 2>"$work/err"); then
    for word in edge reset zero "reset@ 8 -> 3" "5 V for 3 samples"; do
        grep -qF -- "$word" "$work/demo" || fail "demo: its view shows no '$word'"
    done
    [ -s "$dir/shown/demo.csv" ] || fail "demo: no demo.csv"
    [ -s "$dir/shown/demo.png" ] || grep -q "no picture" "$work/demo" || fail "demo: no picture, and no word why"
    same=$(sed -n 's/^the same run: mvmhost render LIB //p' "$work/demo")
    # shellcheck disable=SC2086
    (cd "$dir" && "${run[@]}" render "$lib" $same --quiet) || fail "demo: its same run failed"
    cmp -s "$dir/demo.csv" "$dir/shown/demo.csv" || fail "demo: the same run renders another CSV"
else
    fail "demo: exit $?: $(cat "$work/err")"
fi

expect 2 "A subcommand is required"
expect 2 "The following argument was not expected: --bogus" render "$lib" --bogus --out o.csv
expect 2 "cannot open nope.mvm: no such file" info nope.mvm
expect 2 "cannot load count_to_reset.csv" info count_to_reset.csv
expect 2 "it exports no getModuleProperties" info "$faulty/no_exports.mvm"
expect 2 "the library holds no module at index 0" info "$faulty/no_module.mvm"
expect 2 "makeModule(0, 1) answered null" info "$faulty/null_instance.mvm"
expect 2 "makeModule(0, 1) answered null" render "$faulty/null_instance.mvm" --out o.csv
expect 2 "wrote outside the buffer of plug out" render "$faulty/overrun.mvm" --samples 2048 --out o.csv
expect 2 "no plug named 'upCOUNTX'" render "$lib" --in upCOUNTX=1 --out o.csv
expect 2 "OUTclimb is an output" render "$lib" --in OUTclimb=1 --out o.csv
expect 2 "no item labelled '1000'" render "$lib" --set reset@=1000 --out o.csv
expect 2 "no item labelled 'eight'" render "$lib" --set reset@=eight --out o.csv
expect 2 "upCOUNT is not a list input" render "$lib" --set upCOUNT=1 --out o.csv
expect 2 "not_numbers.csv:3: 'x' is not a number" render "$lib" --inputs not_numbers.csv --out o.csv
expect 2 "cannot read missing.csv: no such file" render "$lib" --in upCOUNT=missing.csv --out o.csv
expect 2 "holds 10 samples; the render needs 20" render "$lib" --in upCOUNT=count_to_reset.csv --samples 20 --out o.csv
expect 2 "differ in length" render "$lib" --in upCOUNT=count_to_reset.csv --in upZERO=both_edges.csv --out o.csv
expect 2 "the render ends at sample 9" render "$lib" --in upCOUNT=count_to_reset.csv --set reset@=3@10 --out o.csv
expect 2 "cannot write missing/o.csv" render "$lib" --samples 10 --out missing/o.csv
expect 2 "cannot write o.txt: name it .csv" render "$lib" --samples 10 --out o.txt
expect 2 "--out o.csv is given twice" render "$lib" --samples 10 --out o.csv --out o.csv
expect 2 "clock: give period=N" render "$lib" --in upCOUNT=clock: --out o.csv
expect 2 "--rate must be a positive number" render "$lib" --rate 0 --out o.csv
# A render that fails half-way drops every file it was writing.
expect 2 "wrote outside the buffer" render "$faulty/overrun.mvm" --samples 4096 --out a.csv --out b.csv

# mvmhost check: 0 when every check passes, 1 when one fails, 2 when it cannot start.
expect 2 "cannot open nope.mvm: no such file" check nope.mvm
expect 2 "there is no check named 'bogus'" check "$lib" --only bogus
checked() {
    local status=$1; shift
    cases=$((cases + 1))
    "${run[@]}" check "$@" --seed 1 >"$work/out" 2>"$work/err"
    local got=$?
    local what="mvmhost check $*"
    [ "$got" -eq "$status" ] || fail "$what: exit $got, not $status: $(grep -m3 FAIL "$work/out")"
    head -1 "$work/out" | grep -q "seed 1" || fail "$what: the seed is not printed"
    tail -1 "$work/out" | grep -Eq '^[0-9]+ passed, [0-9]+ failed' || fail "$what: no closing line"
}
checked 0 "$lib"
checked 1 "$faulty/overrun.mvm" --only stretch-geometry

echo "$cases cases, $failed failed"
[ "$failed" -eq 0 ]
