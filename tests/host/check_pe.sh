#!/bin/sh
# A Windows module library: the right machine, exactly the two undecorated exports under the
# library's own name, and imports from Windows system DLLs only (the runtime is linked in).
set -eu
objdump=$1 lib=$2 name=$3 processor=$4
dump=$(mktemp); trap 'rm -f "$dump"' EXIT
"$objdump" -p "$lib" > "$dump"
fail() { echo "FAIL: $*"; exit 1; }

case $processor in
    i686) grep -q 'file format pei-i386' "$dump" || fail "not a PE32 i386 file" ;;
    x86_64) grep -q 'file format pei-x86-64' "$dump" || fail "not a PE32+ x86-64 file" ;;
    *) fail "unknown processor $processor" ;;
esac
grep -q 'DLL$' "$dump" || grep -q 'DLL' "$dump" || fail "not flagged as a DLL"

grep -q "^Name 0*[0-9a-f]* $name\$" "$dump" || grep -q "Name .* $name\$" "$dump" ||
    fail "export table does not name the library $name"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^[ \t]*\[/ { print $NF; next } on { on = 0 }' "$dump" | sort)
[ "$exports" = "$(printf 'getModuleProperties\nmakeModule')" ] ||
    fail "exports are not exactly getModuleProperties and makeModule: $(echo $exports)"

imports=$(awk '/DLL Name:/ { print tolower($3) }' "$dump" | sort -u)
for dll in $imports; do
    case $dll in
        kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll|api-ms-win-*.dll|ucrtbase.dll) ;;
        *) fail "imports from non-system DLL $dll" ;;
    esac
done
echo "PE OK: $processor, exports $(echo $exports), imports $(echo $imports)"
