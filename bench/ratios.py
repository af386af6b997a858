#!/usr/bin/env python3
"""Prints the benchmark's table of rates and ratios from its JSON output.

    python3 bench/ratios.py build/bench/results.json
    python3 bench/ratios.py --markdown build/bench/results.json   # rows for docs/performance.md

Rates are samples per nanosecond, medians over the repetitions; ratios are taken between
routines of the same run. `paired` is the median ratio of the per-sample routine's time to
the shipped routine's over alternating batches of the same samples.
"""
import json
import statistics
import sys
from collections import defaultdict

ROUTINES = ["per_sample", "shipped", "sse2", "memcpy8"]
PAIRED_FLOOR = 0.97

# (case, block, what, at least): the targets the routines are held to; and every case, paired,
# at least PAIRED_FLOOR (calls shorter than a window run the per-sample loop itself).
TARGETS = [
    ("clock64", 64, "shipped/per_sample", 3.5),
    ("clock64", 1024, "shipped/per_sample", 6.0),
    ("clock64", 65536, "shipped/per_sample", 6.0),
    ("clock64", 1024, "shipped/memcpy8", 0.5),
    ("clock64", 1024, "sse2/per_sample", 3.5),
    ("const0", 1024, "shipped/per_sample", 6.0),
    ("const0", 1024, "shipped/memcpy8", 0.7),
    ("noise", 64, "shipped/per_sample", 3.0),
    ("noise", 1024, "shipped/per_sample", 3.0),
    ("noise", 65536, "shipped/per_sample", 3.0),
    ("edge2", 64, "shipped/per_sample", 0.9),
    ("edge2", 1024, "shipped/per_sample", 0.9),
    ("edge2", 65536, "shipped/per_sample", 0.9),
]


def main(path, markdown=False):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    # Medians where the run has aggregates, else the value of each run's iterations.
    values = defaultdict(list)
    medians = {}
    for run in runs:
        name = run["run_name"].replace("/manual_time", "")
        counter = "paired_ratio" if "/paired/" in name else "samples_per_ns"
        if counter not in run:
            continue
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                medians[name] = run[counter]
        else:
            values[name].append(run[counter])
    for name, vs in values.items():
        medians.setdefault(name, statistics.median(vs))

    cases, blocks = [], []
    for name in medians:
        case, _, block = name.split("/")
        if case not in cases:
            cases.append(case)
        if int(block) not in blocks:
            blocks.append(int(block))
    blocks.sort()

    def rate(case, routine, block):
        return medians.get(f"{case}/{routine}/{block}")

    def ratio(case, what, block):
        if what == "paired":
            return medians.get(f"{case}/paired/{block}")
        a, b = what.split("/")
        ra, rb = rate(case, a, block), rate(case, b, block)
        return ra / rb if ra and rb else None

    def fmt(x, width=8, digits=2):
        return f"{x:{width}.{digits}f}" if x is not None else " " * (width - 1) + "-"

    if markdown:
        for case in cases:
            for block in blocks:
                cells = [rate(case, "per_sample", block), rate(case, "shipped", block),
                         ratio(case, "shipped/per_sample", block), ratio(case, "paired", block),
                         ratio(case, "sse2/per_sample", block),
                         ratio(case, "shipped/memcpy8", block)]
                print(f"| {case} | {block} | " +
                      " | ".join("-" if c is None else f"{c:.2f}" for c in cells) + " |")
        return

    print("samples per ns (median)              | ratios")
    print(f"{'case':8} {'block':>6} {'per-smp':>8} {'shipped':>8} {'sse2':>8} {'memcpy8':>8} |"
          f" {'ship/ps':>8} {'paired':>8} {'sse2/ps':>8} {'ship/mc':>8}")
    for case in cases:
        for block in blocks:
            rates = "".join(fmt(rate(case, r, block), 9) for r in ROUTINES)
            ratios = "".join(fmt(ratio(case, w, block), 9) for w in
                             ["shipped/per_sample", "paired", "sse2/per_sample", "shipped/memcpy8"])
            print(f"{case:8} {block:6d}{rates} |{ratios}")
    print()
    print("targets (ratios of one run; figures, not pass/fail):")
    for case, block, what, least in TARGETS:
        if case not in cases or block not in blocks:
            continue
        got = ratio(case, what, block)
        paired = ratio(case, "paired", block) if what == "shipped/per_sample" else None
        mark = "-" if got is None else "met" if got >= least else "MISSED"
        extra = f"  (paired {paired:.2f})" if paired is not None else ""
        print(f"  {case:8} {block:6d} {what:19} >= {least:4.1f}: {fmt(got, 6)}  {mark}{extra}")
    paired = [(ratio(c, "paired", b), c, b) for c in cases for b in blocks
              if ratio(c, "paired", b) is not None]
    if paired:
        got, case, block = min(paired)
        mark = "met" if got >= PAIRED_FLOOR else "MISSED"
        print(f"  slowest paired: {case} {block} at {got:.2f} (at least {PAIRED_FLOOR}: {mark})")


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--markdown"]
    main(args[0] if args else "build/bench/results.json", "--markdown" in sys.argv[1:])
