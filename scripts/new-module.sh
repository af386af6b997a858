#!/usr/bin/env bash
# Makes a new module under your name from the template (modules/mixer), builds it and checks it:
#   bash scripts/new-module.sh NAME --out DIR [--preset P] [--jobs N]
#       DIR: a module project of its own that finds this SDK (its CMakePresets.json records
#       where) and copies none of it: the module in src/, a behaviour test in tests/, presets
#       native, release, linux-i686, windows-i686 and windows-x86_64. Builds it for P there,
#       runs its test and mvmhost check --strict.
#   bash scripts/new-module.sh NAME [--preset P] [--jobs N]
#       modules/NAME inside this repository, added to its build: for modules that ship with
#       it. P: release, native or linux-i686. Builds it and runs mvmhost check.
# P is release by default, which reuses what scripts/demo.sh built. --jobs N (default: every
# core) goes to every build. NAME is lower case with underscores (tremolo, step_gate): the
# target NAME, the class NameModule, the library Name1.mvm, the identifier name1.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
sdk=$(pwd -P)
usage() { echo "usage: bash scripts/new-module.sh NAME [--out DIR] [--preset P] [--jobs N]" >&2; exit 2; }
die() { echo "new-module.sh: $*" >&2; exit 2; }
[ $# -ge 1 ] || usage
name=$1 preset=release out="" jobs=$(nproc)
shift
while [ $# -gt 0 ]; do
    case $1 in
    --preset) [ $# -ge 2 ] || usage; preset=$2; shift 2 ;;
    --out) [ $# -ge 2 ] || usage; out=$(cd "$here" && realpath -m "$2"); shift 2 ;;
    --jobs) [ $# -ge 2 ] || usage; jobs=$2; shift 2 ;;
    *) usage ;;
    esac
done
[[ $jobs =~ ^[1-9][0-9]*$ ]] || die "--jobs $jobs: give a number of jobs, 1 or more"
if [ -n "$out" ]; then
    presets="native release linux-i686 windows-i686 windows-x86_64"
else
    presets="native release linux-i686"
fi
[[ " $presets " == *" $preset "* ]] || die "--preset $preset: one of $presets here"
[[ $name =~ ^[a-z][a-z0-9]*(_[a-z0-9]+)*$ ]] ||
    die "'$name': give a lower-case name, words joined by underscores (step_gate)"
template=mixer
[ "$name" != "$template" ] || die "$name is the template's own name"

# step_gate -> StepGate (the class and the library) and stepGate (the identifier).
camel=$(sed -E 's/(^|_)([a-z0-9])/\U\2/g' <<<"$name")
ident=$(sed -E 's/^(.)/\L\1/' <<<"$camel")
start=$SECONDS
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs

# The template's code under the new names; its own descriptions become placeholders.
copy_module() {
    local dest=$1 include=$2 file base
    mkdir -p "$dest"
    for file in modules/$template/*; do
        base=$(basename "$file")
        sed -e "s/\"${template}1\"/\"${ident}1\"/g" -e "s|modules/$template/${template}_module.h|$include|" \
            -e "s/${template}/${name}/g" -e "s/Mixer/${camel}/g" "$file" |
            awk -v ident="${ident}1" -v cmake=$([ "$base" = CMakeLists.txt ] && echo 1 || echo 0) '
                FNR == 1 && /^\/\// { print "// " ident ": TODO: what the module does, in a line or two."; head = 1 }
                head && /^\/\// { next }
                { head = 0 }
                cmake && /^#/ && !code { next }        # the template notes of CMakeLists.txt
                { code = 1 }
                /^const char kAboutText\[\] =/ { print; about = 1
                    print "    \"" ident "\\n\""; print "    \"TODO: what the module does, for the host'"'"'s about box.\";"; next }
                about { if (/;$/) about = 0; next }
                { print }' >"$dest/${base//$template/$name}"
    done
}

# The SDK's mvmhost for a preset: built already, or what building it costs, once.
host_note() {
    local exe=build/$1/mvmhost
    [[ $1 == windows-* ]] && exe=$exe.exe
    if [ -x "$exe" ]; then
        echo "reusing $sdk/$exe"
    else
        echo "$sdk/$exe is not built yet: it is built first, once (about 2 min on two cores, 5 for native)"
    fi
}

if [ -z "$out" ]; then
    dir=modules/$name
    [ ! -e "$dir" ] || die "$dir exists already"
    copy_module "$dir" "modules/$name/${name}_module.h"
    # Beside the other modules, in the root's list of folders.
    line="add_subdirectory(modules/$name)"
    last=$(grep -n '^add_subdirectory(modules/' CMakeLists.txt | tail -n 1 | cut -d: -f1)
    sed -i "${last}a $line" CMakeLists.txt
    echo "made $dir (class ${camel}Module, library ${camel}1.mvm) and added it to CMakeLists.txt"
    echo "building ${name}_mvm in build/$preset with $jobs jobs; $(host_note "$preset")"
    cmake --preset "$preset" >/dev/null
    cmake --build "build/$preset" -j "$jobs" --target "${name}_mvm" mvmhost
    emulator=()
    if [ "$preset" = linux-i686 ]; then
        emulator=($(sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p' "build/$preset/CMakeCache.txt" | tr ';' ' '))
    fi
    "${emulator[@]}" "build/$preset/mvmhost" check "build/$preset/${camel}1.mvm"
    echo "build/$preset/${camel}1.mvm builds and passes mvmhost check ($((SECONDS - start)) s)"
    exit 0
fi

[ ! -e "$out" ] || [ -z "$(ls -A "$out")" ] || die "$out exists and is not empty"
project=scripts/module-project
copy_module "$out/src" "${name}_module.h"
rm "$out/src/CMakeLists.txt"  # the project's own CMakeLists.txt builds it
mkdir -p "$out/tests"
fill() { sed -e "s/@name@/$name/g" -e "s/@Camel@/$camel/g" -e "s/@ident@/$ident/g" -e "s|@sdk@|$sdk|g" "$project/$1" >"$out/$2"; }
fill CMakeLists.txt CMakeLists.txt
fill CMakePresets.json CMakePresets.json
fill README.md README.md
fill gitignore .gitignore
fill test.cpp "tests/${name}_test.cpp"
echo "made $out: ${camel}1.mvm (class ${camel}Module) in src/, its test in tests/, finding the SDK in $sdk"
echo "building the $preset preset with $jobs jobs: $(host_note "$preset");"
echo "then the framework, the test kit and GoogleTest from source in $out/build/$preset (about a minute the first time, seconds after an edit)"
cd "$out"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs"
ctest --preset "$preset"
echo "$out: ${camel}1.mvm builds for $preset and passes its test and mvmhost check --strict ($((SECONDS - start)) s); its README.md has the project's two commands"
