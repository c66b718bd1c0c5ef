#!/usr/bin/env bash
# The winding program's start and idle figures, under a private X server: the median over five
# starts of the time from exec to the first complete picture in the window, and the processor time
# of all its threads over 10 s while it waits for a key at line 96 and at the end prompt.
# Run by hand: bench/window_figures.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
runs=${1:-5}

cmake -S . -B build-bench -G Ninja -DLUMO_BENCH=ON -DLUMO_TESTS=OFF >/dev/null
ninja -C build-bench winding window_probe >/dev/null

start_xvfb
starts=()
for _ in $(seq "$runs"); do
    starts+=("$(build-bench/bench/window_probe build-bench/winding --start-only | awk '/first_frame_ms/ {print $2}')")
done
median=$(printf '%s\n' "${starts[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
echo "first complete frame, ms (each run): ${starts[*]}"
echo "first complete frame, ms (median):   $median"
build-bench/bench/window_probe build-bench/winding | awk '
    /cpu_ms_key_wait/   {$1 = ""; print "processor time over 10 s at line 96, ms:        " $0}
    /cpu_ms_end_prompt/ {$1 = ""; print "processor time over 10 s at the end prompt, ms: " $0}'
