#!/usr/bin/env bash
# Builds the product DLL and the optimised host with the counter it runs natively, and shows
# the host's built-in demo. Installs only what that needs (Debian, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo

cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686-dll >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release-host >/dev/null
echo "Built: build/windows-i686/COUNTreset1.mvm (the product, for the 32-bit Windows host),"
echo "       build/release/mvmhost and build/release/COUNTreset1.mvm (the same counter for this machine)"
echo
# The counter beside the host, shown on the terminal and written to demo.csv and demo.png here.
build/release/mvmhost demo
