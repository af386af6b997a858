#!/usr/bin/env python3
"""README.md's examples run as written: every mvmhost command line in its code blocks, every
source form of its Sources table and every --set it shows, each expected to succeed. Module
libraries the examples only name (some/Other.mvm, old/MyFilter1.mvm) are copies of the counter.
    readme_test.py SOURCE_DIR BUILD_DIR WORK_DIR"""
import os
import re
import shlex
import shutil
import subprocess
import sys

README = "README.md"
COUNTER = "COUNTreset1.mvm"
# The length of a fuzz run an example asks for, cut to what a test affords.
SHORT_FUZZ = "3"


def command_lines(text):
    """The indented code lines that run mvmhost from a build folder, continuations joined."""
    lines, joined = [], ""
    for line in text.split("\n"):
        if not line.startswith("    "):
            joined = ""
            continue
        joined += line.strip()
        if joined.endswith("\\"):
            joined = joined[:-1] + " "
            continue
        if re.match(r"build/\w[\w-]*/mvmhost ", joined):
            lines.append(re.sub(r"\s+#.*$", "", joined))
        joined = ""
    return lines


def table_sources(text):
    """The forms of the Sources table that hold no placeholder (T, V, FILE...)."""
    table = text[text.index("\nSources "):]
    table = table[:table.index("\n\n", table.index("\n|"))]
    forms = []
    for row in re.findall(r"^\| (`.*?) \|", table, re.M):
        for form in re.findall(r"`([^`]+)`", row):
            if not re.search(r"[A-Z\[]", re.sub(r"(?<=\d)V$", "", form)):
                forms.append(form)
    return forms


def main():
    source, build, work = sys.argv[1:4]
    with open(os.path.join(source, README)) as f:
        readme = f.read()
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    counter = os.path.join(build, COUNTER)

    def local(path):
        """A path as an example names it: build folders are this build; other libraries, copies."""
        mapped = re.sub(r"^build/[\w-]+/", build + "/", path)
        if mapped != path and os.path.exists(mapped):
            return mapped
        if path.endswith(".mvm"):
            copy = os.path.join(work, "named", path)
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            if not os.path.exists(copy):
                shutil.copy(counter, copy)
            return copy
        return mapped

    runs = []
    for line in command_lines(readme):
        words = shlex.split(line)
        if "--duration" in words:
            words[words.index("--duration") + 1] = SHORT_FUZZ
        runs.append((line, [local(w) for w in words]))
    if len(runs) < 5:
        sys.exit(f"FAIL: only {len(runs)} command lines found in {README}")
    mvmhost = os.path.join(build, "mvmhost")
    forms = table_sources(readme)
    sets = sorted(set(re.findall(r"`(--set [^`A-Z]+)`", readme)))
    if len(forms) < 3 or not sets:
        sys.exit(f"FAIL: the Sources table or the --set examples of {README} were not found")
    for form in forms:
        runs.append((f"--in upCOUNT={form}", [mvmhost, "render", counter, "--in", "upCOUNT=" + form,
                                               "-q", "--out", "o.csv"]))
    for given in sets:
        runs.append((given, [mvmhost, "render", counter, *shlex.split(given), "-q", "--out", "o.csv"]))

    failures = 0
    for shown, argv in runs:
        done = subprocess.run(argv, cwd=work, capture_output=True, text=True, timeout=300)
        if done.returncode != 0:
            failures += 1
            last = (done.stderr.strip().split("\n") or [""])[-1]
            print(f"FAIL: {shown}: exit {done.returncode}: {last}")
    print(f"{len(runs)} README examples, {failures} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
