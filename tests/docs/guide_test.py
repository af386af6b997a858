#!/usr/bin/env python3
"""docs/writing-a-module.md as a newcomer follows it: every piece of code in it stands in the
template module as written, and every command runs, in order, in a fresh copy of the tree.
    guide_test.py SOURCE_DIR WORK_DIR"""
import os
import re
import shutil
import subprocess
import sys
import time

GUIDE = "docs/writing-a-module.md"
TEMPLATE = "modules/mixer"
TEMPLATE_TEST = "tests/modules/mixer"  # the test-kit examples come from the template's test


def blocks(text):
    """(language, lines) of every fenced block."""
    return [(m.group(1), m.group(2).split("\n")) for m in re.finditer(r"^```(\w*)\n(.*?)\n```$", text, re.M | re.S)]


def contains(haystack, needle):
    return any(haystack[i:i + len(needle)] == needle for i in range(len(haystack) - len(needle) + 1))


def tracked_files(source):
    try:
        listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                check=True, capture_output=True).stdout.decode().split("\0")
        return [f for f in listed if f and os.path.isfile(os.path.join(source, f))]
    except (OSError, subprocess.CalledProcessError):  # not a git checkout: all but the builds
        found = []
        for root, dirs, files in os.walk(source):
            dirs[:] = [d for d in dirs if d not in ("build", ".git")]
            found += [os.path.relpath(os.path.join(root, f), source) for f in files]
        return found


def template_wording(source):
    """The template's own descriptions, which a scaffolded copy must not carry: the header's
    opening comment, the about text and the notes of its CMakeLists.txt."""
    def read(name):
        with open(os.path.join(source, TEMPLATE, name)) as f:
            return f.read().split("\n")
    header, code, cmake = read("mixer_module.h"), read("mixer_module.cpp"), read("CMakeLists.txt")
    wording = [line for line in header[:header.index("#pragma once")] if line.startswith("//")]
    about = code.index("const char kAboutText[] =")
    wording += code[about + 2:code.index("", about)]  # past the identifier line
    wording += [line for line in cmake if line.startswith("#")]
    return [re.sub(r"^(//|#)\s*(\w+1:)?\s*|^\s*\"|(\\n)?\";?$", "", line).strip() for line in wording]


def scaffolded(source, work, tree):
    """Every file the scaffold made in the commands' run: the tree's modules that the source
    has not, and the module projects beside the tree."""
    made = [os.path.join(tree, "modules", m) for m in os.listdir(os.path.join(tree, "modules"))
            if not os.path.exists(os.path.join(source, "modules", m))]
    made += [os.path.join(work, d) for d in os.listdir(work) if os.path.isdir(os.path.join(work, d, "src"))]
    for folder in made:
        for root, dirs, files in os.walk(folder):
            dirs[:] = [d for d in dirs if d != "build"]
            yield from (os.path.join(root, f) for f in files)


def main():
    source, work = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, GUIDE)) as f:
        guide = blocks(f.read())
    failures = []
    template = {}
    for folder in (TEMPLATE, TEMPLATE_TEST):
        for name in sorted(os.listdir(os.path.join(source, folder))):
            with open(os.path.join(source, folder, name)) as f:
                template[os.path.join(folder, name)] = f.read().split("\n")
    for language, lines in guide:
        if language in ("cpp", "cmake") and not any(contains(t, lines) for t in template.values()):
            failures.append(f"this {language} block is not in {TEMPLATE} or {TEMPLATE_TEST}:\n" + "\n".join(lines))
    commands = [lines for language, lines in guide if language == "sh"]
    if not commands:
        failures.append("the guide has no commands")

    tree = os.path.join(work, "tree")
    shutil.rmtree(work, ignore_errors=True)
    for f in tracked_files(source):
        os.makedirs(os.path.dirname(os.path.join(tree, f)), exist_ok=True)
        shutil.copy2(os.path.join(source, f), os.path.join(tree, f))
    start = time.monotonic()
    for lines in commands:
        script = "\n".join(lines)
        print("$ " + script.replace("\n", "\n  "), flush=True)
        run = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=tree, capture_output=True, text=True)
        print("\n".join((run.stdout + run.stderr).strip().split("\n")[-4:]), flush=True)
        if run.returncode != 0:
            failures.append(f"exit {run.returncode}: {script}\n{run.stdout[-3000:]}{run.stderr[-3000:]}")
            break
    print(f"the guide's commands took {time.monotonic() - start:.0f} s")
    wording = template_wording(source)
    for path in scaffolded(source, work, tree):
        with open(path) as f:
            text = f.read()
        failures += [f"{path} keeps the template's words: {w}" for w in wording if w and w in text]
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
