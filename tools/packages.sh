# Installs the Debian packages the build and the tests need, when they are missing.
# Sourced by the set-up commands; uses sudo when not root.
lumo_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
               freeglut3-dev libglew-dev libglu1-mesa-dev libx11-dev libxi-dev libxtst-dev
               libgl1-mesa-dri libpixman-1-dev zlib1g-dev libx86emu-dev xvfb x11-apps x11-utils xdotool xauth netpbm
               clang libclang-rt-14-dev xclip)

ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# A private X server for the window tests; sets DISPLAY and stops the server when the shell exits.
start_xvfb() {
    local n
    for n in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    lumo_xvfb_pid=$!
    trap 'kill $lumo_xvfb_pid 2>/dev/null || true' EXIT
    export DISPLAY=":$n"
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}
