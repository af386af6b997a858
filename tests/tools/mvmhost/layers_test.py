#!/usr/bin/env python3
"""Every include of mvmhost's layers points down: a folder sees only the folders below it."""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
TOOL = "tools/mvmhost/"
BELOW = {
    "base": set(),
    "runtime": {"base", "host"},
    "contract": {"runtime", "base", "host"},
    "signal_io": {"runtime", "base", "host"},
    "check": {"contract", "runtime", "base", "host", "framework/enum_list"},
    "fuzz": {"contract", "runtime", "base", "host"},
    "kit": {"signal_io", "runtime", "base", "host"},
    "commands": {"signal_io", "contract", "runtime", "base", "host", "framework/enum_list"},
    "cli": {"commands", "check", "fuzz", "signal_io", "runtime", "base"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    if path.startswith(TOOL):
        return path[len(TOOL):].split("/")[0]
    if path.startswith("framework/enum_list/"):
        return "framework/enum_list"
    return path.split("/")[0]


faults = []
folder = ROOT / TOOL
for source in sorted(folder.rglob("*")):
    if source.suffix not in (".h", ".cpp"):
        continue
    rel = source.relative_to(folder)
    if len(rel.parts) == 1:
        faults.append(f"{TOOL}{rel}: a source file outside the layers")
        continue
    own = rel.parts[0]
    if own not in BELOW:
        faults.append(f"{TOOL}{rel}: {own}/ is no layer")
        continue
    for target in INCLUDE.findall(source.read_text()):
        seen = layer_of(target)
        if seen != own and seen not in BELOW[own]:
            faults.append(f"{TOOL}{rel}: includes {target}, which {own}/ may not see")
for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
