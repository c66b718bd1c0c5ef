#!/usr/bin/env bash
# Installs the runtime of a build folder (default: build) into a temporary prefix, compiles every
# installed header in one unit against the installed include path, builds each example program of
# examples/ out of tree once with find_package(lumo) and once with pkg-config, runs both without a
# display and compares what they write with the expected text beside the example.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
flags=(-std=c++20 -Wall -Wextra -Werror -ffp-contract=off)

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# Module-internal headers and the tree's own program stay in the tree.
if find "$prefix" -name '*_internal.h' -o -name 'winding*' | grep .; then
    echo "installed what stays in the tree" >&2
    exit 1
fi

# Both ways of building against the runtime hand a program the stack probes; pkg-config hands them
# where a build compiles, not only where it links. grep reads to the end: -q could break the pipe.
for flags_of in "cat $prefix/lib/cmake/lumo/lumoTargets.cmake" "pkg-config --cflags lumo"; do
    $flags_of | grep -- -fstack-clash-protection >/dev/null || { echo "no stack probes in $flags_of" >&2; exit 1; }
done

# Every installed header in one unit: one that includes a header left out fails here.
(cd "$prefix/include" && find lumo -name '*.h' | sort | sed 's/.*/#include <&>/') >"$prefix/headers.cpp"
g++ "${flags[@]}" -fsyntax-only $(pkg-config --cflags lumo) "$prefix/headers.cpp"

# Each example out of tree, once with find_package(lumo) and once with pkg-config. It writes its files
# beside itself and reads its input file as standard input; nothing may reach standard error (a
# message box). Every file of its expected/ folder, standard output included as "stdout", must match.
check_example() {  # example folder
    local example=$1 name=${1##*/}
    cmake -S "$example" -B "$prefix/$name/with-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_FLAGS=-Werror >/dev/null
    ninja -C "$prefix/$name/with-cmake" >/dev/null
    # As a build does it: compiled with the flags of --cflags, then linked with those of --libs.
    mkdir "$prefix/$name/with-pkg-config"
    local built="$prefix/$name/with-pkg-config/$name"
    g++ "${flags[@]}" $(pkg-config --cflags lumo) -c -o "$built.o" "$example/$name.cpp"
    g++ -o "$built" "$built.o" $(pkg-config --libs lumo)
    local input=/dev/null
    [ -f "$example/input" ] && input=$example/input
    for way in with-cmake with-pkg-config; do
        local dir="$prefix/$name/$way" code=0
        env -u DISPLAY "$dir/$name" <"$input" >"$dir/stdout" 2>"$dir/stderr" || code=$?
        if [ "$code" -ne 0 ] || [ -s "$dir/stderr" ]; then
            echo "$name built $way: exit code $code, standard error:" >&2
            cat "$dir/stderr" >&2
            exit 1
        fi
        for file in "$example"/expected/*; do
            diff "$file" "$dir/${file##*/}" || { echo "$name built $way: ${file##*/} differs" >&2; exit 1; }
        done
        echo "$name built $way: same output"
    done
}
for example in examples/*/; do check_example "${example%/}"; done
