#!/usr/bin/env bash
# Installs the Debian packages a build needs, for the given feature sets (default: all).
#   bash scripts/setup.sh [build] [host] [fuzz] [bench] [wine] [demo]
set -euo pipefail

declare -A sets=(
    [build]="cmake ninja-build g++ libgtest-dev g++-multilib g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 qemu-user-static file"
    [host]="libcli11-dev libsndfile1-dev gnuplot-nox"
    [fuzz]="clang libclang-rt-14-dev"
    [bench]="libbenchmark-dev python3 mawk time"
    [wine]="wine wine64 wine32:i386"
    [demo]="cmake ninja-build g++ g++-mingw-w64-i686 libgtest-dev libcli11-dev libsndfile1-dev gnuplot-nox"
)
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=(build host fuzz bench wine)

packages=()
for set in "${wanted[@]}"; do
    [ -n "${sets[$set]+x}" ] || { echo "setup.sh: unknown set '$set'" >&2; exit 2; }
    packages+=(${sets[$set]})
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

need_i386=false
for p in "${missing[@]}"; do [[ $p == *:i386 ]] && need_i386=true; done
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. As root, run:" >&2
    $need_i386 && echo "  dpkg --add-architecture i386 && apt-get update" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
if $need_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
# A mirror in mid-sync fails an update for a while; if it keeps failing, the lists already
# fetched may still hold every package, and the install says so if they do not.
for try in 1 2 3 4 5; do
    apt-get update -q && break
    echo "setup.sh: apt-get update failed (try $try of 5)" >&2
    [ "$try" -lt 5 ] && sleep 20
done
install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        -o Acquire::Retries=5 "$@" >/dev/null
}
install "${missing[@]}" && exit 0
# A mirror whose i386 lists lag its amd64 ones cannot give 32-bit packages the versions their
# 64-bit twins have from the security suite. The release's own versions stand in both lists:
# take those, where that removes nothing.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -n "$codename" ] &&
    plan=$(apt-get install -s -q -t "$codename" --no-install-recommends "${missing[@]}" 2>/dev/null) &&
    ! grep -q '^Remv ' <<<"$plan"; then
    echo "setup.sh: WARNING: installing $codename's own versions, which both architectures have" >&2
    install -t "$codename" "${missing[@]}" && exit 0
fi
# Else the rest still installs; the tests that need the 32-bit packages say they skipped.
native=()
for p in "${missing[@]}"; do [[ $p == *:i386 ]] || native+=("$p"); done
[ ${#native[@]} -lt ${#missing[@]} ] || exit 1
echo "setup.sh: WARNING: the archive cannot install the i386 packages now; installing the rest" >&2
[ ${#native[@]} -eq 0 ] || install "${native[@]}"
