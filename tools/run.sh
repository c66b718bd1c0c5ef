#!/usr/bin/env bash
# Runs the winding explanation program. Installs the Debian packages that are missing, builds the
# program into build/ and starts it in a window on the user's display. Without a display it runs
# the program under a private X server instead: it saves a screenshot beside the build
# (build/winding.png), presses the two keys the program waits for and reports the exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
ensure_packages "${lumo_packages[@]}"

cmake -S . -B build -G Ninja -DLUMO_SANITIZE="" >/dev/null
ninja -C build winding

if [ -n "${DISPLAY:-}" ]; then
    exec build/winding "$@"
fi

start_xvfb
build/winding "$@" &
program=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^EXPLANATION$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "the program's window did not appear" >&2
    kill "$program" 2>/dev/null || true
    exit 1
fi
sleep 1  # the screen is complete well within this
xwd -silent -id "$window" | xwdtopnm 2>/dev/null | pnmtopng >build/winding.png
echo "screenshot of the window: build/winding.png"
xdotool key --window "$window" space 2>/dev/null  # ends the key wait
sleep 0.5
xdotool key --window "$window" space 2>/dev/null  # answers "Press any key to continue"
status=0
wait "$program" || status=$?
echo "the program ended with exit code $status"
exit "$status"
