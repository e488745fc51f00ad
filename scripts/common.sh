# Shared set-up for the README's commands: Debian packages and the build.
# Sourced, not run.

QUILLMOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUILLMOR_BUILD=${QUILLMOR_BUILD:-$QUILLMOR_ROOT/build}

# libxkbcommon-dev: Qt's CMake package looks for it and says "Could NOT find XKB" without it.
QUILLMOR_PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
    libssh-dev openssh-client
    qt6-httpserver-dev qt6-websockets-dev libsodium-dev openssl
    fonts-dejavu-core
)

# Qt wants a private runtime folder and warns on every start without one ("XDG_RUNTIME_DIR not
# set"), as happens for root on a machine without a login session.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$QUILLMOR_BUILD/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
fi

quillmor_install_packages() {
    local missing=()
    local p
    for p in "${QUILLMOR_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Two cores is the norm here: the build uses what the machine has, at most four jobs.
quillmor_build() {
    local jobs
    jobs=$(nproc 2>/dev/null || echo 2)
    [ "$jobs" -gt 4 ] && jobs=4
    cmake -S "$QUILLMOR_ROOT" -B "$QUILLMOR_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$QUILLMOR_BUILD" -j "$jobs"
}
