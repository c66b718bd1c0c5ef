#!/usr/bin/env bash
# Builds the runtime and runs every test: the unit and threaded tests, the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, and
# the window tests under a private Xvfb. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
ensure_packages "${lumo_packages[@]}"

jobs=$(nproc)
build() {  # folder, sanitizers
    cmake -S . -B "$1" -G Ninja -DLUMO_SANITIZE="$2" >/dev/null
    ninja -C "$1"
}
run_tests() {  # folder, ctest arguments...
    local dir=$1
    shift
    (cd "$dir" && env -u DISPLAY LUMO_MSGBOX=auto ctest --output-on-failure -j "$jobs" "$@")
}

build build ""
run_tests build -LE window

build build-asan "address,undefined"
run_tests build-asan -LE window

build build-tsan "thread"
# The runtime's threads: suites named ...Threaded, with the real threads.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" run_tests build-tsan -R Threaded -LE window

if ls build/tests/test_window >/dev/null 2>&1; then
    start_xvfb
    (cd build && LUMO_MSGBOX=auto ctest --output-on-failure -L window)
fi
