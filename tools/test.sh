#!/usr/bin/env bash
# Builds the runtime and runs every test: the unit and threaded tests, the example programs built
# against the installed runtime (tools/check_example.sh), the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, a
# short bounded run of each libFuzzer harness (clang, with both sanitizers), and the window tests
# under a private Xvfb. Checks first that no source includes a folder above its own, then installs
# missing Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/check_layers.sh
source tools/packages.sh
ensure_packages "${lumo_packages[@]}"

jobs=$(nproc)
build() {  # folder, sanitizers, further cmake arguments...
    local dir=$1 sanitize=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja -DLUMO_SANITIZE="$sanitize" "$@" >/dev/null
    ninja -C "$dir"
}
run_tests() {  # folder, ctest arguments...
    local dir=$1
    shift
    (cd "$dir" && env -u DISPLAY LUMO_MSGBOX=auto ctest --output-on-failure -j "$jobs" "$@")
}

build build ""
run_tests build -LE window
# The runtime installed into a temporary prefix, and each example built against it both ways.
tools/check_example.sh build

build build-asan "address,undefined"
run_tests build-asan -LE window

build build-tsan "thread"
# The runtime's threads: suites named ...Threaded, with the real threads.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" run_tests build-tsan -R Threaded -LE window

# Fuzzing: 30 s per harness, all harnesses at once, each from the corpus kept in the build folder;
# any finding fails the run and shows that harness's log.
CXX=clang++ build build-fuzz "address,undefined" -DLUMO_FUZZ=ON -DLUMO_TESTS=OFF
fuzz_names=()
fuzz_pids=()
for harness in build-fuzz/fuzz/fuzz_*; do
    name=${harness##*/fuzz_}
    mkdir -p "build-fuzz/corpus/$name"
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
    "$harness" "${dict[@]}" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 "build-fuzz/corpus/$name" \
        >"build-fuzz/$name.log" 2>&1 &
    fuzz_names+=("$name")
    fuzz_pids+=($!)
done
fuzz_failed=0
for i in "${!fuzz_pids[@]}"; do
    if wait "${fuzz_pids[$i]}"; then
        echo "fuzz ${fuzz_names[$i]}: $(grep -E '^Done ' "build-fuzz/${fuzz_names[$i]}.log")"
    else
        cat "build-fuzz/${fuzz_names[$i]}.log"
        fuzz_failed=1
    fi
done
[ "$fuzz_failed" -eq 0 ]

if ls build/tests/test_window >/dev/null 2>&1; then
    start_xvfb
    (cd build && LUMO_MSGBOX=auto ctest --output-on-failure -L window)
fi
