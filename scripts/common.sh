# Shared by run.sh and test.sh: Debian packages and the build.

VX310_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libqt6sql6-sqlite libxcb1-dev
    libmodbus-dev
    libmosquitto-dev
    # the publisher's tests: a real broker, its clients, certificates made at test time
    mosquitto mosquitto-clients openssl
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-microhei
    xvfb xauth
    mbpoll
    # the desktop-file validators, the .deb build and its smoke run
    desktop-file-utils appstream dpkg-dev file sqlite3
)

# The packages of the list given (the build's own when none is) that are not installed.
vx310_missing_packages() {
    local p list=("$@")
    [ ${#list[@]} -eq 0 ] && list=("${VX310_PACKAGES[@]}")
    for p in "${list[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# Installs what is missing of the list given (the build's own when none is) when run as root;
# otherwise names the command and stops.
vx310_ensure_packages() {
    local missing
    missing=$(vx310_missing_packages "$@" | tr '\n' ' ')
    [ -z "${missing// /}" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y $missing" >&2
        exit 1
    fi
    echo "Installing Debian packages: $missing"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

# What the Windows build's tests run on besides the toolchain: wine, the installer maker, pgrep for
# the packages' test, and the Linux build's simulator and fonts, which the list above has.
VX310_WINDOWS_TEST_PACKAGES=(wine64 nsis procps)

# Where packaging/windows/build-toolchain.sh puts the Windows toolchain.
vx310_windows_toolchain() {
    echo "${VX310_WIN_TOOLCHAIN:-$HOME/.cache/vx310/win64}"
}

# True when the toolchain holds every piece the Windows build needs.
vx310_windows_toolchain_ready() {
    local stamps
    stamps="$(vx310_windows_toolchain)/stamps"
    [ -f "$stamps/qt6-base" ] && [ -f "$stamps/libmodbus" ] && [ -f "$stamps/mosquitto" ] &&
        [ -f "$stamps/googletest" ] && [ -f "$stamps/mingw-runtime" ]
}

vx310_build() {
    local preset=${1:-default}
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
}
