#!/bin/sh
# A Linux module library exports exactly the two entry points, undecorated.
set -eu
lib=$1
exports=$(nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "W" || $2 == "D" || $2 == "B" { print $3 }' | sort)
expected=$(printf 'getModuleProperties\nmakeModule\n')
if [ "$exports" != "$expected" ]; then
    echo "unexpected exports in $lib:"; echo "$exports"; exit 1
fi
echo "exports OK: $(echo "$exports" | tr '\n' ' ')"
