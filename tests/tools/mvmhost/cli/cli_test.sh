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

# A build without the target's libsndfile writes CSV files only; the WAV cases then use CSV
# where the kind of file does not matter and are skipped where it does.
wav=wav
if "${run[@]}" render "$lib" --samples 1 --out "$work/probe.wav" 2>&1 | grep -q "CSV files only"; then
    wav=csv
    echo "SKIP: the cases that need WAV files (this build writes CSV files only)"
fi
rm -f "$work/probe.wav"

# Files as people hand them over, beside the data files in every fresh directory: a CSV file
# with a byte-order mark, one with '#' in its name, one without an extension, a header without
# rows, a WAV file named .csv, an empty WAV file, and a directory named like a CSV file.
made="$work/made"
mkdir -p "$made/folder.csv"
{ printf '\xEF\xBB\xBF'; cat "$data/count_to_reset.csv"; } >"$made/bom.csv"
cp "$data/count_to_reset.csv" "$made/take#2.csv"
cp "$data/count_to_reset.csv" "$made/no_extension"
head -1 "$data/count_to_reset.csv" >"$made/header_only.csv"
# 44-byte header of a WAV file of 16-bit mono at 44100 Hz with no samples, then one that has two.
wav_header() { printf 'RIFF%bWAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xAC\0\0\x88\x58\x01\0\x02\0\x10\0data%b' "$1" "$2"; }
wav_header '\x24\0\0\0' '\0\0\0\0' >"$made/empty.wav"
{ wav_header '\x28\0\0\0' '\x04\0\0\0'; printf '\0\x10\0\x20'; } >"$made/sound.csv"

# A fresh directory holding the data files; the command runs there.
fresh() { local dir; dir=$(mktemp -d -p "$work"); cp "$data"/*.csv "$dir"/; cp -r "$made"/. "$dir"/; echo "$dir"; }

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
    cut -d, -f4- "$dir/$file" | cmp -s - "$dir/out.csv" ||
        fail "$what: outputs differ from the file: $(diff <(cut -d, -f4- "$dir/$file") "$dir/out.csv" | head -5)"
}

documented count_to_reset.csv --set reset@=3
documented count_to_reset.csv --set reset@=3 --block 3 --split-seed 9
documented count_to_reset.csv --set reset@=3 --block 1
documented high_from_start.csv
documented both_edges.csv
documented step_of_the_edge.csv
documented retriggered.csv --set reset@=1
documented at_the_threshold.csv
documented 'take#2.csv' --set reset@=3   # a name that exists as it stands is not cut at '#'
documented no_extension --set reset@=3   # text without an extension is read as CSV
documented bom.csv --set reset@=3        # a byte-order mark before the header

# Ctrl-C, SIGTERM and a hang-up in the middle of a long render, in a module that hangs and in a
# picture helper that hangs: exit 130, 143 and 129, no unfinished file, no helper left running.
#   signalled SIGNAL STATUS [RENDER-ARGS...]   (a long render of the counter when none)
hung_helper="$work/hung_helper"
mkdir -p "$hung_helper"
printf '#!/usr/bin/env bash\nexec -a mvmhost-test-hung-gnuplot sleep 1000\n' >"$hung_helper/gnuplot"
chmod +x "$hung_helper/gnuplot"
signalled() {
    local signal=$1 status=$2; shift 2
    [ $# -gt 0 ] || set -- "$lib" --in upCOUNT=noise:seed=1 --samples 2000000000 --out a.csv --out b.csv
    cases=$((cases + 1))
    local dir; dir=$(fresh)
    local before; before=$(ls -A "$dir")
    set -m  # its own process group, as a job a person starts: SIGINT is not ignored there
    (cd "$dir" && PATH="$hung_helper:$PATH" exec "${run[@]}" render "$@") >/dev/null 2>"$work/err" &
    local pid=$!
    set +m
    for _ in $(seq 100); do ls "$dir"/*.part* >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 0.3
    kill -s "$signal" "$pid"
    # A host that does not end is itself the fault: killed after 10 s, it shows as exit 137.
    { sleep 10; kill -s KILL "$pid"; } >/dev/null 2>&1 &
    local watchdog=$!
    wait "$pid"
    local got=$?
    # SIGKILL: a subshell stopped by a signal it may handle runs this script's EXIT trap first,
    # which would remove the whole work directory.
    kill -s KILL "$watchdog" 2>/dev/null
    local what="SIG$signal during render $*"
    [ "$got" -eq "$status" ] || fail "$what: exit $got, not $status ($(cat "$work/err"))"
    grep -q "interrupted" "$work/err" || fail "$what: stderr says $(cat "$work/err")"
    [ "$(ls -A "$dir")" = "$before" ] || fail "$what: left $(ls -A "$dir" | tr '\n' ' ')"
    ! pgrep -f mvmhost-test-hung-gnuplot >/dev/null || fail "$what: left gnuplot running"
}
signalled INT 130
signalled TERM 143
signalled HUP 129
signalled INT 130 "$faulty/hang.mvm" --out a.csv --out "b.$wav"
signalled TERM 143 "$faulty/hang.mvm" --out a.csv
signalled INT 130 "$lib" --samples 100 --plot a.png --out a.csv
signalled TERM 143 "$lib" --samples 100 --plot a.svg

# The progress bar, on a terminal only: the share done, the time taken and the time to go; -q
# hides it. Each render is stopped after a second and a half, as a person would stop it.
if command -v script >/dev/null && [ $# -eq 0 ]; then
    cases=$((cases + 1))
    long=(timeout -s INT 1.5 "$host" render "$lib" --in upCOUNT=noise:seed=1 --samples 2000000000 --out "$work/long.csv")
    script -qec "$(printf '%q ' "${long[@]}")" /dev/null >"$work/tty" </dev/null
    grep -Eq '\] +[0-9]+%  [0-9]{2}:[0-9]{2}:[0-9]{2} \[[0-9]{2}:[0-9]{2}:[0-9]{2}\]' "$work/tty" ||
        fail "the progress bar shows no elapsed and remaining time: $(tr '\r' '\n' <"$work/tty" | head -3)"
    script -qec "$(printf '%q ' "${long[@]}" -q)" /dev/null >"$work/tty" </dev/null
    ! grep -q '%' "$work/tty" || fail "-q shows a progress bar: $(tr '\r' '\n' <"$work/tty" | head -3)"
fi

# counted SAMPLES CYCLES ARGS...: lengths and times as people type them give that many samples,
# and a clock fed to upCOUNT (written with the inputs) rises that many times ('-': not asked).
counted() {
    local samples=$1 cycles=$2; shift 2
    cases=$((cases + 1))
    local dir; dir=$(fresh)
    (cd "$dir" && "${run[@]}" render "$lib" "$@" --with-inputs --out o.csv --quiet >"$work/out" 2>"$work/err")
    local got=$?
    local what="render $*"
    [ "$got" -eq 0 ] || { fail "$what: exit $got: $(cat "$work/err")"; return; }
    local rows=$(($(wc -l <"$dir/o.csv") - 1))
    [ "$rows" -eq "$samples" ] || fail "$what: $rows samples, not $samples"
    [ "$cycles" = - ] && return
    local rises
    rises=$(awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "upCOUNT") c = i; next }
                     { high = $c >= 0.333; if (high && !was) n++; was = high } END { print n + 0 }' "$dir/o.csv")
    [ "$rises" -eq "$cycles" ] || fail "$what: upCOUNT rises $rises times, not $cycles"
}

counted 480 - --samples 480
counted 441 - --samples 10ms
counted 44 - --samples 1ms  # 44.1 samples
counted 1 - --samples 0.034ms  # 1.4994
counted 66150 - --samples "1.5 s"
counted 12000 - --samples 250ms --rate 48000
counted 15000 - --samples 2:30 --rate 100
counted 36000 - --samples 1:00:00 --rate 10
counted 8000 - --rate 8000  # one second unless told
counted 300 - --set reset@=3@2:00 --rate 2 --samples 2:30
counted 10 2 --in upCOUNT=steps:0,5@2ms,0@4ms,5@5ms --rate 1000 --samples 10ms
counted 1000 15 --in upCOUNT=clock:period=100ms,delay=0.5s --samples 2s --rate 500
counted 44100 441 --in upCOUNT=clock:hz=440.1  # 100.2045 samples a period
counted 600000 1280 --in upCOUNT=clock:bpm=128 --samples 10:00 --rate 1000  # 468.75 a period, no drift

# batch: words quoted as in a shell (a path with blanks), every line run however the one
# before it ended, each failure one line on stderr, and the worst status.
cases=$((cases + 1))
dir=$(fresh)
mkdir "$dir/with blanks" && cp "$data/count_to_reset.csv" "$dir/with blanks/in put.csv"
cat >"$dir/lines.batch" <<EOF
# the documented run, from and to files with blanks in their names

render "$lib" --in "upCOUNT=with blanks/in put.csv" --in 'upZERO=with blanks/in put.csv' --in "bySTEP=with blanks/in put.csv" --set reset@=3 --out "out put.csv" -q
render "$lib" --in "upCOUNT=unclosed --out x.csv
render "$lib" --samples 0 --out y.csv
info "$lib"
EOF
(cd "$dir" && "${run[@]}" batch lines.batch >"$work/out" 2>"$work/err")
got=$?
[ "$got" -eq 2 ] || fail "batch: exit $got, not the worst line's 2"
[ "$(grep '^batch: line' "$work/out" | tr '\n' ' ')" = \
  "batch: line 3: exit 0 batch: line 4: exit 2 batch: line 5: exit 2 batch: line 6: exit 0 " ] ||
    fail "batch: lines and statuses: $(grep '^batch' "$work/out" | tr '\n' ' ')"
{ [ "$(wc -l <"$work/err")" -eq 2 ] && grep -qF 'lines.batch:4: a " is not closed' "$work/err"; } ||
    fail "batch: stderr: $(cat "$work/err")"
cut -d, -f4- "$data/count_to_reset.csv" | cmp -s - "$dir/out put.csv" || fail "batch: the quoted run's outputs differ"
[ ! -e "$dir/x.csv" ] && [ ! -e "$dir/y.csv" ] || fail "batch: a failed line left a file"

# The demo, and the render it says is the same run.
cases=$((cases + 1))
dir=$(fresh)
if (cd "$dir" && "${run[@]}" demo "$lib" --out-dir shown >"$work/demo" 2>"$work/err"); then
    for word in edge reset zero "reset@ 8 -> 3" "5 V for 3 samples" "the outputs stream"; do
        grep -qF -- "$word" "$work/demo" || fail "demo: its view shows no '$word'"
    done
    ! grep -v '^loaded from' "$work/demo" | grep -q '.\{81\}' || fail "demo: lines wider than 80 columns"
    [ -s "$dir/shown/demo.csv" ] || fail "demo: no demo.csv"
    [ -s "$dir/shown/demo.png" ] || grep -q "no picture" "$work/demo" || fail "demo: no picture, and no word why"
    same=$(sed -n '/^the same run:/,$p' "$work/demo" | sed '1d; s/\\$//' | tr -s '\n ' ' ' |
        sed 's/^ *mvmhost render LIB //')
    # shellcheck disable=SC2086
    (cd "$dir" && "${run[@]}" render "$lib" $same --quiet) || fail "demo: its same run failed"
    cmp -s "$dir/demo.csv" "$dir/shown/demo.csv" || fail "demo: the same run renders another CSV"
else
    fail "demo: exit $?: $(cat "$work/err")"
fi

# A picture of a render: drawn from every signal, an SVG one on a background of its own.
if command -v gnuplot >/dev/null && [ $# -eq 0 ]; then
    cases=$((cases + 1))
    dir=$(fresh)
    if (cd "$dir" && "${run[@]}" render "$lib" --in upCOUNT=clock:period=10 --samples 200000 --plot p.svg -q \
        2>"$work/err"); then
        grep -q '<rect x="0" y="0" width="1100" height="900" fill="#ffffff"' "$dir/p.svg" ||
            fail "render --plot p.svg: the picture has no background"
        grep -q 'RESETpulse' "$dir/p.svg" || fail "render --plot p.svg: RESETpulse is not drawn"
    else
        fail "render --plot p.svg: $(cat "$work/err")"
    fi
fi
expect 2 "cannot draw p.jpg: name the picture .png or .svg" render "$lib" --samples 10 --plot p.jpg
expect 2 "are the same file" render "$lib" --samples 10 --out p.svg.csv --plot p.svg --out ./p.svg
expect 2 "--set reset@=6@0: --set reset@=5 already sets reset@ for the start" render "$lib" --set reset@=5 --set reset@=6@0 --out o.csv
expect 2 "--samples: give a sample count or a time" render "$lib" --samples "" --out o.csv
expect 2 "one second at 1e-30 Hz is not one sample; choose a length with --samples" render "$lib" --rate 1e-30 --out o.csv

cases=$((cases + 1))
"${run[@]}" --version | grep -Eqx 'mvmhost [0-9]+\.[0-9]+\.[0-9]+' || fail "--version: $("${run[@]}" --version 2>&1)"
# Every help fits a terminal of 80 columns and names what each value is.
for command in "" info render demo check fuzz compare batch; do
    cases=$((cases + 1))
    help=$("${run[@]}" $command --help 2>&1)
    wide=$(awk 'length($0) > 80' <<<"$help")
    [ -z "$wide" ] || fail "mvmhost $command --help: lines over 80 columns: $wide"
    ! grep -qw "TEXT\|UINT\|FLOAT" <<<"$help" || fail "mvmhost $command --help: a value shown as a type"
done

expect 2 "give a command; mvmhost --help lists them"
expect 2 "render does not take '--bogus'" render "$lib" --bogus --out o.csv
# The option parser's own words never reach the user; counts and seeds all read alike.
expect 2 "there is no option '--Version' before a command; did you mean --version?" --Version
expect 2 "--plot is given more than once" render "$lib" --plot a.png --plot b.png
expect 2 "--out needs a value after it" render "$lib" --out
expect 2 "info does not take 'x'" info "$lib" x
expect 2 "--chunks 1e3: give a whole number of chunks from 1 to 18446744073709551615" fuzz "$lib" --chunks 1e3
for n in -1 18446744073709551616 0 ""; do
  expect 2 "--chunks $n: give a whole number of chunks" fuzz "$lib" --chunks "$n"
done
for n in -1 18446744073709551616; do
  expect 2 "--seed $n: a seed is a whole number from 0 to 18446744073709551615" fuzz "$lib" --seed "$n"
  expect 2 "--seed $n: a seed is a whole number" check "$lib" --seed "$n"
  expect 2 "--seed $n: a seed is a whole number" compare "$lib" "$lib" --seed "$n"
done
expect 2 "the seeds run out after 2 chunks from that seed" fuzz "$lib" --seed 18446744073709551613 --chunks 3
expect 2 "--reproduce -1: give a whole number" fuzz "$lib" --reproduce -1
expect 2 "--jobs 0: give a whole number of jobs from 1 to 1024" fuzz "$lib" --jobs 0
expect 2 "--duration x: give a positive number of seconds" fuzz "$lib" --duration x
expect 2 "cannot open nope.mvm: no such file" info nope.mvm
expect 2 "cannot load count_to_reset.csv" info count_to_reset.csv
expect 2 "it exports no getModuleProperties" info "$faulty/no_exports.mvm"
expect 2 "the library holds no module at index 0" info "$faulty/no_module.mvm"
expect 2 "makeModule(0, 1) answered null" info "$faulty/null_instance.mvm"
expect 2 "makeModule(0, 1) answered null" render "$faulty/null_instance.mvm" --out o.csv
expect 2 "wrote outside the buffer of plug out" render "$faulty/overrun.mvm" --samples 2048 --out o.csv
expect 1 "mvmhost: the module crashed (signal 11, Segmentation fault) in its process routine at sample 2048" \
    render "$faulty/crash.mvm" --out o.csv --out "o2.$wav" --plot o.png
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
# Outputs that are an input or each other, however the names are spelled, and files that are
# not what their names say.
expect 2 "--out ./o.csv and --out o.csv are the same file" render "$lib" --samples 10 --out o.csv --out ./o.csv
expect 2 "are the same file" render "$lib" --samples 10 --out folder.csv/../o.wav --out O.csv --out o.wav
expect 2 "is an input of the render" render "$lib" --in upCOUNT=./count_to_reset.csv --out count_to_reset.csv
expect 2 "is an input of the render" render "$lib" --in "upCOUNT=count_to_reset.csv#2" --out x.csv --out folder.csv/../count_to_reset.csv
expect 2 "sound.csv holds a WAV file, not CSV text" render "$lib" --in upCOUNT=sound.csv --out o.csv
expect 2 "cannot read folder.csv: it is a directory, not a file" render "$lib" --in upCOUNT=folder.csv --out o.csv
expect 2 "cannot read folder.csv: it is a directory, not a file" render "$lib" --inputs folder.csv --out o.csv
expect 2 "cannot write folder.csv: it is a directory" render "$lib" --samples 10 --out folder.csv
expect 2 "cannot draw folder.csv: it is a directory" render "$lib" --samples 10 --plot folder.csv
expect 2 "cannot make no_extension: it is a file, not a directory" demo "$lib" --out-dir no_extension
expect 2 "header_only.csv holds no samples" render "$lib" --inputs header_only.csv --out o.csv
expect 2 "empty.wav holds" render "$lib" --in upCOUNT=empty.wav --out o.csv
expect 2 "clock: give period=N" render "$lib" --in upCOUNT=clock: --out o.csv
expect 2 "--rate 0: give a positive number of samples per second" render "$lib" --rate 0 --out o.csv
expect 2 "--samples -5: give a sample count or a time (10s, 250ms, 2:30); a length is never negative" render "$lib" --samples -5 --out o.csv
expect 2 "--samples 0: a render needs at least 1 sample" render "$lib" --samples 0 --out o.csv
expect 2 "--samples 0.01ms (0 samples at 44100 Hz): a render needs at least 1 sample" render "$lib" --samples 0.01ms --out o.csv
expect 2 "--samples 2:75: give a sample count or a time" render "$lib" --samples 2:75 --out o.csv
expect 2 "a render holds at most 2147483647 samples" render "$lib" --samples 3000000000 --out o.csv
expect 2 "1e40 V is beyond the range of a float sample (about 3.4e39 V)" render "$lib" --in upCOUNT=1e40 --out o.csv
expect 2 "1e400 V is beyond the range of a float sample" render "$lib" --in upCOUNT=1e400 --out o.csv
expect 2 "clock: low=-1e40 is beyond the range of a float sample" render "$lib" --in upCOUNT=clock:period=4,low=-1e40 --out o.csv
expect 2 "--rate 1e40: at most 10000000 samples per second" render "$lib" --rate 1e40 --out o.csv
expect 2 "--rate fast: give a positive number of samples per second" render "$lib" --rate fast --out o.csv
expect 2 "--out o.wav: a WAV file holds a whole number of samples per second, not 44100.5" render "$lib" --rate 44100.5 --samples 10 --out o.wav
expect 2 "--block 0: give a whole number of samples from 1 to 1048576" render "$lib" --block 0 --out o.csv
expect 2 "--event 5:DataEvent:1: expected CLOCK:TYPE:P1:P2" render "$lib" --event 5:DataEvent:1 --out o.csv
expect 2 "--event 5:DataEvent:1:2147483648: P2 '2147483648' is not a 32-bit whole number" render "$lib" --event 5:DataEvent:1:2147483648 --out o.csv
expect 2 "--event 2s:2:1:1: the render ends at sample 44099" render "$lib" --event 2s:2:1:1 --out o.csv
expect 2 "--event 1:40:2:1:1: the render ends at sample 99" render "$lib" --rate 100 --samples 100 --event 1:40:2:1:1 --out o.csv
expect 2 "--plugs many: give a whole number of plugs from 0 to 4096" render "$lib" --plugs many --out o.csv
expect 2 "--plugs 4097: give a whole number of plugs from 0 to 4096" compare "$lib" "$lib" --plugs 4097
expect 2 "--split-seed -1: a seed is a whole number from 0 to 18446744073709551615" render "$lib" --split-seed -1 --out o.csv
expect 2 "--split-seed 18446744073709551616: a seed is a whole number" render "$lib" --split-seed 18446744073709551616 --out o.csv
expect 2 "clock: period= is given twice" render "$lib" --in upCOUNT=clock:period=4,period=5 --out o.csv
expect 2 "clock: give one of period=, hz= and bpm=" render "$lib" --in upCOUNT=clock:hz=5,bpm=300 --out o.csv
expect 2 "clock: hz=30000 is faster than half the sample rate (44100 Hz)" render "$lib" --in upCOUNT=clock:hz=30000 --out o.csv
expect 2 "--set reset@=4@10: --set reset@=3@10 already changes reset@ at sample 10" render "$lib" --set reset@=3@10 --set reset@=4@10 --samples 20 --out o.csv
expect 2 "--set reset@=4@10ms: --set reset@=3@10 already changes reset@ at sample 10" render "$lib" --rate 1000 --set reset@=3@10 --set reset@=4@10ms --samples 20 --out o.csv
expect 2 "--set reset@=4: --set reset@=3 already sets reset@ for the start" render "$lib" --set reset@=3 --set reset@=4 --out o.csv
expect 2 "the render ends at sample 99" render "$lib" --set reset@=3@2s --rate 50 --samples 100 --out o.csv
expect 2 "the steps fed to upZERO change at sample 500; the render ends at sample 99" render "$lib" --in upZERO=steps:0,5@500 --samples 100 --out o.csv
expect 2 "OUTclimb is an output; --set chooses the item of a list input" render "$lib" --set OUTclimb=3 --out o.csv
expect 2 "there is no command 'Render'; did you mean 'render'?" Render "$lib"
expect 2 "there is no command 'frobnicate'; the commands: info, render" frobnicate
expect 2 "'a\x01b\x1b[31m\xff' is neither" render "$lib" --in "upCOUNT=$(printf 'a\001b\033[31m\377')" --out o.csv
# What a render prints on success shows such bytes escaped too.
cases=$((cases + 1))
dir=$(fresh)
(cd "$dir" && "${run[@]}" render "$lib" --samples 10 --out "$(printf 'a\033[31m.csv')" >"$work/out" 2>&1)
{ grep -qF 'wrote a\x1b[31m.csv' "$work/out" && ! grep -q "$(printf '\033')" "$work/out"; } ||
    fail "render: a name's control bytes reach the terminal raw: $(cat -v "$work/out")"
expect 2 "cannot read .: it is a directory, not a file" batch .
expect 2 "--seed -1: a seed is a whole number from 0 to 18446744073709551615" check "$lib" --seed -1
expect 2 "--seed 99999999999999999999: a seed is a whole number" check "$lib" --seed 99999999999999999999
expect 2 "--time-limit 0: give a positive number of seconds" check "$lib" --time-limit 0
expect 2 "--time-limit -3: give a positive number of seconds" check "$lib" --time-limit -3
expect 2 "--time-limit soon: give a positive number of seconds" check "$lib" --time-limit soon
expect 2 "--time-limit 1e40: at most 86400 s (a day)" check "$lib" --time-limit 1e40
for n in 0 -2 two 2.5 1e9; do
  expect 2 "--repeat $n: give a whole number of runs from 1 to 1000000" check "$lib" --repeat "$n"
done
expect 2 "--json needs a file name" check "$lib" --json ""
# A render that fails half-way drops every file it was writing.
expect 2 "wrote outside the buffer" render "$faulty/overrun.mvm" --samples 4096 --out a.csv --out b.csv
# And one whose last file cannot be completed keeps none: here the WAV file outgrows a file
# size limit that the CSV file, the same samples in fewer bytes, stays under.
unlimited=("${run[@]}")
run=(bash -c 'ulimit -f 100 && trap "" XFSZ && exec "$@"' limited "${unlimited[@]}")
if [ "$wav" = wav ]; then
    expect 2 "cannot write b.wav: the file outgrew what this file system or the file size limit (ulimit -f) allows; nothing is left" render "$lib" --samples 20000 --out a.csv --out b.wav
    expect 2 "cannot write empty.wav: the file outgrew what this file system or the file size limit (ulimit -f) allows; the empty.wav that was there is kept as it was" render "$lib" --samples 20000 --out a.csv --out empty.wav
fi
run=("${unlimited[@]}")

# No command writes over its library or an input, however the output is named: the library,
# a link to it, or a file of the demo's --out-dir that is the library.
cases=$((cases + 1))
dir=$(fresh)
cp "$lib" "$dir/lib.mvm" && ln -s lib.mvm "$dir/demo.csv" && ln -s lib.mvm "$dir/p.png" && ln -s ../lib.mvm "$dir/folder.csv/demo.png"
sum=$(cksum <"$dir/lib.mvm")
while IFS='|' read -r part args; do
    # shellcheck disable=SC2086
    (cd "$dir" && "${run[@]}" $args >/dev/null 2>"$work/err")
    got=$?
    { [ "$got" -eq 2 ] && grep -qF -- "$part" "$work/err"; } || fail "mvmhost $args: exit $got: $(cat "$work/err")"
done <<'EOF_TABLE'
--json lib.mvm is an input of the check (lib.mvm)|check lib.mvm --json lib.mvm --only stretch-geometry
--json ./demo.csv is an input of the check (lib.mvm)|check lib.mvm --json ./demo.csv --only stretch-geometry
--out demo.csv is an input of the render (lib.mvm)|render lib.mvm --samples 10 --out demo.csv
--plot p.png is an input of the render (lib.mvm)|render lib.mvm --samples 10 --plot p.png
--out ./lib.mvm is an input of the render (lib.mvm)|render lib.mvm --samples 10 --out ./lib.mvm
demo.csv in --out-dir . is an input of the demo (lib.mvm)|demo lib.mvm --out-dir .
demo.png in --out-dir folder.csv is an input of the demo (lib.mvm)|demo lib.mvm --out-dir folder.csv
EOF_TABLE
[ "$(cksum <"$dir/lib.mvm")" = "$sum" ] && [ -L "$dir/demo.csv" ] || fail "an output replaced the library"

# An output replaced keeps what the old file had: its mode, its owner (where one may set it),
# a symbolic link written through, hard links joined; the old content until the new is whole.
cases=$((cases + 1))
dir=$(fresh)
(cd "$dir" && echo old >t.csv && chmod 640 t.csv && ln t.csv hard.csv && ln -s t.csv link.csv &&
    if [ "$(id -u)" -eq 0 ]; then chown 65534:65534 t.csv; fi)
owner=$(stat -c %u:%g "$dir/t.csv")
for out in link.csv t.csv hard.csv; do
    (cd "$dir" && "${run[@]}" render "$lib" --in "upCOUNT=clock:period=3" --samples "${#out}" --out "$out" -q) ||
        fail "render --out $out: exit $?"
    [ -L "$dir/link.csv" ] || fail "render --out $out: the symbolic link was replaced"
    [ "$(stat -c %a:%u:%g:%h "$dir/t.csv")" = "640:$owner:2" ] ||
        fail "render --out $out: mode, owner or links changed: $(stat -c %a:%u:%g:%h "$dir/t.csv")"
    cmp -s "$dir/t.csv" "$dir/hard.csv" && [ "$(wc -l <"$dir/t.csv")" -eq $((${#out} + 1)) ] ||
        fail "render --out $out: the file and its hard link differ or hold the old samples"
done
(cd "$dir" && echo old >m.csv && chmod 600 m.csv && if [ "$(id -u)" -eq 0 ]; then chown 65534 m.csv; fi)
owner=$(stat -c %u "$dir/m.csv")
(cd "$dir" && "${run[@]}" render "$lib" --samples 3 --out m.csv -q) || fail "render --out m.csv: exit $?"
[ "$(stat -c %a:%u:%h "$dir/m.csv")" = "600:$owner:1" ] && grep -q OUTclimb "$dir/m.csv" ||
    fail "render --out m.csv: a file renamed into place lost its mode or owner: $(stat -c %a:%u:%h "$dir/m.csv")"

# A directory nobody may write to; root may write anywhere, so it is not tried as root.
if [ "$(id -u)" -ne 0 ]; then
    mkdir "$work/locked" && chmod 555 "$work/locked"
    expect 2 "cannot make $work/locked/demo: permission denied" demo "$lib" --out-dir "$work/locked/demo"
    expect 2 "$work/locked/demo.csv: " demo "$lib" --out-dir "$work/locked"
    grep -qi "permission denied" "$work/err" || fail "demo: an unwritable --out-dir: $(cat "$work/err")"
else
    echo "SKIP: the unwritable --out-dir cases (run as root)"
fi

# "-" is standard input for --in and --inputs and standard output for --out; a pipe, a FIFO and
# a process substitution are read without rewinding; a file named "-" is reached as ./-.
cases=$((cases + 1))
dir=$(fresh)
want=$(cut -d, -f4- "$data/count_to_reset.csv")
both=(--in upZERO=count_to_reset.csv --in bySTEP=count_to_reset.csv --set reset@=3)
(cd "$dir" && cp count_to_reset.csv ./- && mkfifo fifo &&
    "${run[@]}" render "$lib" "${both[@]}" --in upCOUNT=count_to_reset.csv --with-inputs --out "in.$wav" -q)
while IFS='|' read -r what feed; do
    got=$(cd "$dir" && eval "$feed" 2>"$work/err")
    [ "$got" = "$want" ] || fail "$what: $(head -3 <<<"$got") $(cat "$work/err")"
done <<'EOF_TABLE'
CSV on standard input|"${run[@]}" render "$lib" "${both[@]}" --in upCOUNT=- --out - <count_to_reset.csv
CSV through a pipe, --inputs -|cut -d, -f1-3 count_to_reset.csv | "${run[@]}" render "$lib" --inputs - --set reset@=3 --out -
CSV from a process substitution|"${run[@]}" render "$lib" "${both[@]}" --in upCOUNT=<(cat count_to_reset.csv) --out -
CSV from a FIFO written late|{ sleep 0.3; timeout 5 sh -c 'cat count_to_reset.csv >fifo' >/dev/null; } & "${run[@]}" render "$lib" "${both[@]}" --in upCOUNT=fifo --out -
standard input by column number|cat "in.$wav" | "${run[@]}" render "$lib" "${both[@]}" --in upCOUNT=-#1 --out -
a file named -|"${run[@]}" render "$lib" "${both[@]}" --in upCOUNT=./- --out -
EOF_TABLE
# Ctrl-C while a FIFO waits for its writer: exit 130 and nothing left.
set -m
(cd "$dir" && exec "${run[@]}" render "$lib" --in upCOUNT=fifo --out o.csv) 2>"$work/err" &
pid=$!
set +m
sleep 0.5 && kill -s INT "$pid"
wait "$pid"
got=$?
[ "$got" -eq 130 ] && [ ! -e "$dir/o.csv" ] || fail "Ctrl-C while a FIFO waits: exit $got: $(cat "$work/err")"
(cd "$dir" && "${run[@]}" render "$lib" --samples 3 --out /dev/null) || fail "render --out /dev/null: exit $?"
(cd "$dir" && "${run[@]}" render "$lib" --in upCOUNT=- --in upZERO=- --out o.csv <count_to_reset.csv 2>"$work/err")
[ $? -eq 2 ] && grep -q "standard input is read once" "$work/err" && [ ! -e "$dir/o.csv" ] ||
    fail "two inputs from one standard input: $(cat "$work/err")"
(cd "$dir" && "${run[@]}" render "$lib" --inputs - --out o.csv <header_only.csv 2>"$work/err")
grep -qx "mvmhost: standard input holds no samples: it has a header row and nothing after it" "$work/err" ||
    fail "a header without rows on standard input: $(cat "$work/err")"
# A header of very many columns is read in linear time: a twice-named column at the end of
# 100000 is found at once.
awk 'BEGIN { for (i = 0; i < 100000; i++) printf "c%d,", i; print "c0"; print 1 }' >"$dir/wide.csv"
(cd "$dir" && timeout 20 "${run[@]}" render "$lib" --inputs wide.csv --out o.csv 2>"$work/err")
grep -q "wide.csv:1: column 'c0' appears twice" "$work/err" || fail "a wide header: $(head -c 300 "$work/err")"

# A library cut short (a copy that did not finish) is refused before it is loaded, by every
# command, where loading it would end in SIGBUS.
size=$(stat -c %s "$lib")
for bytes in 100 20000 $((size / 2)); do
    head -c "$bytes" "$lib" >"$work/cut.mvm"
    for command in info render check fuzz compare; do
        args=("$work/cut.mvm")
        [ "$command" = render ] && args+=(--samples 10 --out o.csv)
        [ "$command" = compare ] && args+=("$lib")
        [ "$command" = fuzz ] && args+=(--chunks 1)
        expect 2 "cannot load $work/cut.mvm: the file is cut short ($bytes bytes where its headers describe" "$command" "${args[@]}"
    done
done

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
