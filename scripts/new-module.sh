#!/usr/bin/env bash
# Makes a new module from the template (modules/mixer), adds it to the build, builds it and
# runs mvmhost check on it:
#   bash scripts/new-module.sh NAME [--preset native|release|linux-i686]
# NAME is lower case with underscores (tremolo, step_gate): the folder modules/NAME, the
# target NAME, the class NameModule, the library Name1.mvm, the identifier name1.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: bash scripts/new-module.sh NAME [--preset native|release|linux-i686]" >&2; exit 2; }
[ $# -ge 1 ] || usage
name=$1 preset=native
shift
while [ $# -gt 0 ]; do
    case $1 in
    --preset) [ $# -ge 2 ] || usage; preset=$2; shift 2 ;;
    *) usage ;;
    esac
done
case $preset in native | release | linux-i686) ;; *) echo "new-module.sh: --preset $preset: mvmhost check runs here in native, release or linux-i686" >&2; exit 2 ;; esac
[[ $name =~ ^[a-z][a-z0-9]*(_[a-z0-9]+)*$ ]] ||
    { echo "new-module.sh: '$name': give a lower-case name, words joined by underscores (step_gate)" >&2; exit 2; }
template=mixer
[ "$name" != "$template" ] || { echo "new-module.sh: $name is the template's own name" >&2; exit 2; }
dir=modules/$name
[ ! -e "$dir" ] || { echo "new-module.sh: $dir exists already" >&2; exit 2; }

# step_gate -> StepGate (the class and the file) and stepGate (the identifier).
camel=$(sed -E 's/(^|_)([a-z0-9])/\U\2/g' <<<"$name")
lower=$(sed -E 's/^(.)/\L\1/' <<<"$camel")
start=$SECONDS

mkdir -p "$dir"
for file in modules/$template/*; do
    base=$(basename "$file")
    sed -e "s/\"${template}1\"/\"${lower}1\"/g" -e "s/${template}/${name}/g" -e "s/Mixer/${camel}/g" \
        "$file" >"$dir/${base//$template/$name}"
done
# Beside the other modules, in the root's list of folders.
line="add_subdirectory(modules/$name)"
last=$(grep -n '^add_subdirectory(modules/' CMakeLists.txt | tail -n 1 | cut -d: -f1)
sed -i "${last}a $line" CMakeLists.txt
echo "made $dir (class ${camel}Module, library ${camel}1.mvm) and added it to CMakeLists.txt"

cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target "${name}_mvm" mvmhost
emulator=()
if [ "$preset" = linux-i686 ]; then
    emulator=($(sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p' "build/$preset/CMakeCache.txt" | tr ';' ' '))
fi
"${emulator[@]}" "build/$preset/mvmhost" check "build/$preset/${camel}1.mvm"
echo "build/$preset/${camel}1.mvm builds and passes mvmhost check ($((SECONDS - start)) s)"
