#!/usr/bin/env bash
# Builds the module for every target and runs it in the bundled host on its built-in demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build host

for preset in windows-i686 windows-x86_64 linux-i686 native; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
echo "Built: $(ls build/*/COUNTreset1.mvm | tr '\n' ' ')"
echo
# The counter beside the host, shown on the terminal and written to demo.csv and demo.png here.
build/native/mvmhost demo
