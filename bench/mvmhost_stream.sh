#!/usr/bin/env bash
# mvmhost on long inputs: peak memory and time of renders from a 10-minute 48 kHz stereo WAV
# file and from a 100 MB CSV file, beside mawk summing every number of the same CSV file.
# Figures hold only for a quiet machine; every row is measured in the one run.
#   bash bench/mvmhost_stream.sh [BUILD_DIR...]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build/release)
command -v mawk >/dev/null || { echo "mawk is missing: bash scripts/setup.sh bench" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seeded inputs: 16-bit stereo noise, and three columns a clock, zeroes and steps would give.
python3 - "$work" <<'PY'
import random, struct, sys, wave
work = sys.argv[1]
random.seed(13)
frames = 10 * 60 * 48000
with wave.open(f"{work}/in.wav", "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
    chunk = 48000
    for _ in range(frames // chunk):
        w.writeframes(random.randbytes(4 * chunk))
target = 100 * 1024 * 1024
with open(f"{work}/in.csv", "w") as f:
    f.write("upCOUNT,upZERO,bySTEP\n")
    rows = [f"{0.5 if i % 64 < 32 else 0},{1 if i % 9973 == 0 else 0},{random.random():.7g}\n" for i in range(4096)]
    size = 0
    while size < target:
        block = "".join(rows)
        f.write(block)
        size += len(block)
PY
csv_mb=$(du -m "$work/in.csv" | cut -f1)
rows=$(($(wc -l <"$work/in.csv") - 1))

measure() {  # label, command...: peak resident memory in MB and seconds of wall time
    local label=$1; shift
    /usr/bin/time -f "%M %e" -o "$work/time" "$@" >/dev/null
    read -r kb seconds <"$work/time"
    printf '| %-44s | %7.1f | %6.2f |\n' "$label" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$seconds"
    echo "$seconds" >"$work/last"
}

echo "inputs: in.wav 10 min, 48 kHz, 2 channels; in.csv $csv_mb MB, $rows rows of 3 columns"
echo
echo "| run | peak MB | seconds |"
echo "|---|---|---|"
measure "mawk, summing every number of in.csv" mawk -F, '{ for (i = 1; i <= NF; i++) s += $i } END { print s }' "$work/in.csv"
awk_seconds=$(cat "$work/last")
for build in "${builds[@]}"; do
    host=$build/mvmhost lib=$build/COUNTreset1.mvm
    name=$(basename "$build")
    measure "$name: WAV in, WAV out (10 min)" "$host" render "$lib" --in "upCOUNT=$work/in.wav#1" \
        --in "bySTEP=$work/in.wav#2" --out "$work/out.wav" -q
    measure "$name: WAV in, WAV out, --plot (10 min)" "$host" render "$lib" --in "upCOUNT=$work/in.wav#1" \
        --in "bySTEP=$work/in.wav#2" --out "$work/out.wav" --plot "$work/out.png" -q
    measure "$name: CSV in, CSV out ($csv_mb MB)" "$host" render "$lib" --inputs "$work/in.csv" \
        --out "$work/out.csv" -q
    printf '| %-44s | %7s | %6.2fx |\n' "$name: CSV render time / mawk time" "" \
        "$(awk -v a="$(cat "$work/last")" -v b="$awk_seconds" 'BEGIN { print a / b }')"
done
