#!/usr/bin/env bash
# Runs a Windows program of a module project's tests under wine, in the project's own prefix,
# made on first use (20 s to 2 min), so nothing of the user's ~/.wine is read or changed.
#   mv_wine.sh PREFIX ARCH PROGRAM [ARG...]
# ARCH is i686 (32-bit wine) or x86_64 (wine64). Exit 77, for CTest's SKIP_RETURN_CODE: this
# machine cannot run it (no 32-bit wine, or a kernel without 32-bit programs).
set -u
prefix=$1 arch=$2
shift 2
skip() { echo "SKIPPED: not run under wine: $*"; exit 77; }

if [ "$arch" = x86_64 ]; then
    loader=/usr/lib/wine/wine64
else
    loader=/usr/lib/wine/wine
fi
[ -x "$loader" ] || skip "$loader is missing (bash scripts/setup.sh wine, in the SDK)"
if [ "$arch" != x86_64 ]; then
    probe=$(mktemp -d)
    printf 'int main(void) { return 0; }\n' >"$probe/p.c"
    gcc -m32 -o "$probe/p" "$probe/p.c" 2>/dev/null && "$probe/p" 2>/dev/null
    ran=$?
    rm -rf "$probe"
    [ $ran -eq 0 ] || skip "this machine runs no 32-bit programs (the SDK's docs/building.md says how)"
fi

export WINEPREFIX=$prefix WINEDEBUG=-all
mkdir -p "$(dirname "$prefix")"
# The 64-bit loader makes the prefix for both builds (the 32-bit one hangs under emulation).
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
    echo "making the wine prefix $prefix (once)"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    wineserver -w
    [ -f "$prefix/system.reg" ] || { echo "wineboot made no prefix in $prefix"; exit 1; }
fi
exec 9>&-
"$loader" "$@"
status=$?
wineserver -w
exit $status
