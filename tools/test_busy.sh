#!/usr/bin/env bash
# The non-window tests on a loaded machine: builds the plain build folder, then runs the suite
# RUNS times (default 3) with one ctest job per core beside three busy processes per core. Prints
# each run's failures and a summary; fails when any run failed. Run by hand, not by tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
cores=$(nproc)

cmake -S . -B build -G Ninja -DLUMO_SANITIZE= >/dev/null
ninja -C build

spinner_pids=()
stop_spinners() {
    [ ${#spinner_pids[@]} -eq 0 ] || kill "${spinner_pids[@]}" 2>/dev/null || true
}
trap stop_spinners EXIT
trap "exit 1" INT TERM  # through the EXIT trap
for _ in $(seq $((3 * cores))); do
    sh -c 'while :; do :; done' &
    spinner_pids+=($!)
done

mkdir -p build/Testing
failed_runs=0
declare -A failed_tests
for run in $(seq "$runs"); do
    failed_list=build/Testing/Temporary/LastTestsFailed.log
    rm -f "$failed_list"
    if (cd build && env -u DISPLAY LUMO_MSGBOX=auto ctest -j "$cores" -LE window --output-on-failure \
            >"Testing/busy_run_$run.log" 2>&1); then
        echo "run $run: passed"
    else
        failed_runs=$((failed_runs + 1))
        echo "run $run: failed (build/Testing/busy_run_$run.log):"
        if [ ! -f "$failed_list" ]; then
            echo "    (no test named: ctest itself failed)"
            continue
        fi
        while IFS=: read -r _ name; do
            echo "    $name"
            failed_tests[$name]=1
        done <"$failed_list"
    fi
done

names="${!failed_tests[*]}"
echo "busy test: $runs runs beside $((3 * cores)) busy processes, $failed_runs failed; failing tests: ${names:-none}"
[ "$failed_runs" -eq 0 ]
