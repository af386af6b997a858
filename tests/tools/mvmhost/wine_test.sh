#!/usr/bin/env bash
# The Windows host on the Windows DLL under wine, against the native host on the native
# library: one wine process runs every check of wine_checks.batch (a 32-bit one takes about
# a minute to start under emulation), and every CSV it writes must equal the native one byte
# for byte. Both sides then run mvmhost check --strict on each MODULE_LIBRARY given (a file of
# this build, beside a native build of the same name), which must pass.
#   wine_test.sh ARCH WINDOWS_MVMHOST WINDOWS_DLL NATIVE_BUILD_DIR WINE_PREFIX TEST_DIR [MODULE_LIBRARY...]
# ARCH is x86_64 (wine64) or i686 (32-bit wine). Exit 77: skipped, when this machine cannot
# run 32-bit programs and this user may not teach the kernel to.
set -u
arch=$1 exe=$2 dll=$3 native=$4 prefix=$5 tests=$6
shift 6
checked=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
die() { echo "FAIL: $*"; exit 1; }
skip() {
    echo "################################################################################"
    echo "SKIPPED: the $arch Windows build was NOT run under wine: $*"
    echo "################################################################################"
    exit 77
}

[ -x "$native/mvmhost" ] && [ -f "$native/COUNTreset1.mvm" ] ||
    die "no native build in $native to compare with: build the native preset first"

if [ "$arch" = x86_64 ]; then
    loader=/usr/lib/wine/wine64
    [ -x "$loader" ] || die "wine64 is missing: bash scripts/setup.sh wine"
else
    loader=/usr/lib/wine/wine
    if [ ! -x "$loader" ]; then
        if [ "$(id -u)" -eq 0 ]; then
            apt-get install -s -q wine32:i386 >/dev/null 2>&1 && die "32-bit wine is missing: bash scripts/setup.sh wine"
            skip "32-bit wine (wine32:i386) cannot be installed from this machine's package lists (apt-get install -s wine32:i386 says why)"
        fi
        skip "32-bit wine (wine32:i386) is not installed, and installing it needs root"
    fi
    # Wine re-executes itself, so a kernel that cannot run i386 programs must hand them to qemu.
    printf 'int main(void) { return 0; }\n' >"$work/probe.c"
    gcc -m32 -o "$work/probe" "$work/probe.c" 2>/dev/null || die "gcc -m32 cannot build a program: install g++-multilib"
    if ! "$work/probe" 2>/dev/null; then
        [ "$(id -u)" -eq 0 ] || skip "this kernel cannot run 32-bit programs, and registering qemu-i386 for them needs root"
        binfmt=/proc/sys/fs/binfmt_misc
        [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt || die "cannot mount $binfmt"
        [ -e $binfmt/qemu-i386 ] || printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >$binfmt/register ||
            die "cannot register qemu-i386 with binfmt_misc"
        "$work/probe" || die "32-bit programs still do not run after registering qemu-i386"
        echo "registered qemu-i386 for 32-bit programs"
    fi
fi

# One prefix for both Windows builds, made by the 64-bit loader (the 32-bit one hangs under qemu).
export WINEPREFIX=$prefix WINEDEBUG=-all
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
    start=$(now)
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    wineserver -w
    [ -f "$prefix/system.reg" ] || die "wineboot made no prefix in $prefix"
    echo "made the wine prefix in $(since "$start") s"
fi

for side in native windows; do
    mkdir -p "$work/$side"
    cp "$tests"/cli/data/*.csv "$tests/wine_checks.batch" "$work/$side/"
done
cp "$native/COUNTreset1.mvm" "$work/native/"
cp "$dll" "$work/windows/COUNTreset1.mvm"
aligned=faulty_assumes_aligned_stack.mvm
# The faulty modules the Windows build makes, beside their native builds.
for faulty in "$(dirname "$dll")"/faulty_*.mvm; do
    [ "$(basename "$faulty")" = "$aligned" ] && continue
    [ -f "$native/$(basename "$faulty")" ] || die "no native $(basename "$faulty") in $native"
    cp "$faulty" "$work/windows/"
    cp "$native/$(basename "$faulty")" "$work/native/"
done
for lib in "${checked[@]}"; do
    name=$(basename "$lib")
    [ -f "$native/$name" ] || die "no native $name in $native"
    cp "$lib" "$work/windows/$name"
    cp "$native/$name" "$work/native/$name"
    for side in native windows; do echo "check $name --strict" >>"$work/$side/wine_checks.batch"; done
done

# A fault only 32-bit Windows hosts meet, checked last: the Windows host runs its checks in
# one process, which the crash ends. The native side, where stack-alignment does not apply,
# checks the plain module under its name. Its status is judged apart from the others.
aligned_line=
if [ -f "$(dirname "$dll")/$aligned" ]; then
    cp "$(dirname "$dll")/$aligned" "$work/windows/"
    cp "$native/faulty_plain.mvm" "$work/native/$aligned"
    for side in native windows; do echo "check $aligned --seed 1 --only stack-alignment" >>"$work/$side/wine_checks.batch"; done
    aligned_line=$(wc -l <"$work/windows/wine_checks.batch")
fi

(cd "$work/native" && "$native/mvmhost" batch wine_checks.batch >batch.out 2>batch.err)
start=$(now)
(cd "$work/windows" && "$loader" "$exe" batch wine_checks.batch >batch.out 2>batch.err)
status=$?
seconds=$(since "$start")
wineserver -w

all_statuses() { tr -d '\r' <"$1" | grep '^batch: line'; }
statuses() { all_statuses "$1" | grep -v "^batch: line ${aligned_line:-0}:"; }
[ -n "$(statuses "$work/native/batch.out")" ] || die "the native batch printed no statuses: $(cat "$work/native/batch.err")"
[ -n "$(statuses "$work/windows/batch.out")" ] ||
    die "the Windows host printed nothing (exit $status): $(head -c 500 "$work/windows/batch.err")"
diff <(statuses "$work/native/batch.out") <(statuses "$work/windows/batch.out") >"$work/statuses.diff" ||
    die "exit statuses differ (native <, windows >): $(cat "$work/statuses.diff")"
failed_checks=$(statuses "$work/windows/batch.out" | tail -n "${#checked[@]}" | grep -v ': exit 0$')
[ "${#checked[@]}" -eq 0 ] || [ -z "$failed_checks" ] || die "mvmhost check --strict failed: $failed_checks"

if [ -n "$aligned_line" ]; then
    tr -d '\r' <"$work/windows/batch.out" | tail -n 3 | grep -q '^FAIL  stack-alignment  .*crashed' ||
        die "stack-alignment did not catch $aligned: $(tr -d '\r' <"$work/windows/batch.out" | tail -n 3)"
fi
# stack-alignment applies on 32-bit Windows only: there it passes on every library but the
# one built to fail it.
if [ "$arch" = i686 ]; then
    others=$(tr -d '\r' <"$work/windows/batch.out" | grep -E '^(FAIL|SKIP|WARN)  stack-alignment ')
    expected=0
    [ -n "$aligned_line" ] && expected=1
    [ "$(grep -c . <<<"$others")" -eq "$expected" ] && ! grep -qv '^FAIL' <<<"$others" ||
        die "stack-alignment did not pass on Windows: $others"
fi
# Every check reaches the same verdict on both sides: none skips on Windows for want of a
# way to count allocations.
verdicts() { tr -d '\r' <"$1" | grep -E '^(PASS|FAIL|SKIP|WARN)  ' | grep -v '  stack-alignment ' | awk '{ print $1, $2 }'; }
diff <(verdicts "$work/native/batch.out") <(verdicts "$work/windows/batch.out") >"$work/verdicts.diff" ||
    die "check verdicts differ (native <, windows >): $(tr '\n' ' ' <"$work/verdicts.diff")"

# What the checks wrote: every CSV there that is not one of the data files.
written() { (cd "$1" && find . -name '*.csv' | sed 's|^\./||' | sort | comm -23 - <(cd "$tests/cli/data" && ls *.csv | sort)); }
compared=0
for file in $(written "$work/native"); do
    [ -f "$work/windows/$file" ] || die "the Windows host did not write $file"
    cmp -s "$work/native/$file" "$work/windows/$file" ||
        die "$file differs: $(diff "$work/native/$file" "$work/windows/$file" | head -4 | tr '\n' ' ')"
    compared=$((compared + 1))
done
[ "$compared" -ge 5 ] || die "only $compared CSV files were written"
[ "$(written "$work/windows")" = "$(written "$work/native")" ] ||
    die "the Windows host wrote other files: $(written "$work/windows" | tr '\n' ' ')"

echo "PASS: $arch mvmhost.exe under wine: $(statuses "$work/windows/batch.out" | wc -l) commands in one process in $seconds s; $compared CSV files identical to the native renders; $(verdicts "$work/windows/batch.out" | wc -l) check verdicts as native; check --strict passed on:$(for lib in "${checked[@]}"; do printf " %s" "$(basename "$lib")"; done)"
