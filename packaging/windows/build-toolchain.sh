#!/usr/bin/env bash
# Builds what the Windows build of the station links against, for x86_64-w64-mingw32, from
# Debian's own source packages: Qt 6 (Core, Gui, Widgets, Sql with SQLite, PrintSupport, Network,
# Test and their Windows plugins), libmodbus, OpenSSL's libraries and libmosquitto's client library
# with TLS, and GoogleTest for the suites that run under wine.
#
# Everything is installed into one prefix, ${VX310_WIN_TOOLCHAIN:-$HOME/.cache/vx310/win64}.
# Each piece leaves a stamp holding the Debian source version and the recipe it was built with,
# and is skipped while that stamp still matches, so the script can simply be run again. A piece is
# built from the newest version of its source package that can be fetched: a mirror may list a
# version before it holds all of its files.
#
# Environment: VX310_WIN_TOOLCHAIN (prefix), VX310_WIN_JOBS (parallel jobs, default: all cores).
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
toolchain_file=$here/mingw-w64.cmake
prefix=${VX310_WIN_TOOLCHAIN:-$HOME/.cache/vx310/win64}
jobs=${VX310_WIN_JOBS:-$(nproc)}
triple=x86_64-w64-mingw32
export VX310_WIN_TOOLCHAIN=$prefix

packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev
    cmake ninja-build make pkg-config dpkg-dev xz-utils
    # Qt's host tools of the same version
    qt6-base-dev qt6-base-dev-tools
    # the tablet headers the windows platform plugin is compiled against
    libwine-dev
    # the SQLite amalgamation is generated with tclsh
    tcl
    # libmodbus ships without a generated configure script
    autoconf automake libtool
    # GoogleTest's own sources, built for Windows like the rest
    libgtest-dev
    # what the Windows build is packed and tested with
    "${VX310_WINDOWS_TEST_PACKAGES[@]}"
)

# Source packages come from the same suites as the binary packages this machine runs.
src_list=/etc/apt/sources.list.d/vx310-src.sources

have_sources() {
    apt-get source --print-uris -qq qt6-base >/dev/null 2>&1
}

ensure_prerequisites() {
    local missing
    missing=$(vx310_missing_packages "${packages[@]}" | tr '\n' ' ')
    if [ -n "${missing// /}" ] || ! have_sources; then
        if [ "$(id -u)" -ne 0 ]; then
            echo "Missing Debian packages or source entries. As root, add a deb-src entry" >&2
            echo "for bookworm, bookworm-updates and bookworm-security in $src_list, then:" >&2
            echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends $missing" >&2
            exit 1
        fi
        if ! have_sources; then
            echo "Adding Debian source entries: $src_list"
            cat >"$src_list" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        fi
        apt-get update -q
        if [ -n "${missing// /}" ]; then
            echo "Installing Debian packages: $missing"
            # shellcheck disable=SC2086
            DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
        fi
    fi
}

# Every version of a source package the source entries offer, newest first, e.g. 6.4.2+dfsg-10.
source_versions() {
    local version i sorted=()
    for version in $(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u); do
        i=0
        while [ $i -lt ${#sorted[@]} ] && dpkg --compare-versions "${sorted[$i]}" gt "$version"; do
            i=$((i + 1))
        done
        sorted=("${sorted[@]:0:$i}" "$version" "${sorted[@]:$i}")
    done
    printf '%s\n' "${sorted[@]}"
}

stamp_dir=$prefix/stamps
scratch=$prefix/src

stamp_matches() {
    [ -f "$stamp_dir/$1" ] && [ "$(cat "$stamp_dir/$1")" = "$2" ]
}

write_stamp() {
    mkdir -p "$stamp_dir"
    echo "$2" >"$stamp_dir/$1"
}

# Unpacks a Debian source package (with Debian's patches applied) into $scratch/<name>, once:
# an unpacked tree is reused so that an interrupted build resumes instead of starting over.
unpack() {
    local package=$1 version=$2 dir=$scratch/$1
    if [ -f "$dir/.vx310-unpacked" ] && [ "$(cat "$dir/.vx310-unpacked")" = "$version" ]; then
        return 0
    fi
    rm -rf "$dir" "$scratch/$package-build"
    mkdir -p "$scratch/download"
    (cd "$scratch/download" && apt-get source -q --download-only "$package=$version" >/dev/null) ||
        return 1
    dpkg-source --no-check --no-copy -x "$scratch/download/${package}_${version}.dsc" "$dir" \
        >/dev/null || return 1
    echo "$version" >"$dir/.vx310-unpacked"
}

# Runs one piece: "<name>: skipped" or "<name>: built in N s".
piece() {
    local name=$1 key=$2 started
    shift 2
    if stamp_matches "$name" "$key"; then
        echo "$name: skipped ($key)"
        return 0
    fi
    started=$SECONDS
    # A subshell outside any || so that errexit still holds for every step of the recipe.
    set +e
    (
        set -e
        "$@"
    ) >"$scratch/$name.log" 2>&1
    local status=$?
    set -e
    if [ "$status" -ne 0 ]; then
        echo "$name: FAILED after $((SECONDS - started)) s; the last lines of $scratch/$name.log:" >&2
        tail -n 30 "$scratch/$name.log" >&2
        exit 1
    fi
    write_stamp "$name" "$key"
    echo "$name: built in $((SECONDS - started)) s ($key)"
}

# Runs piece name from the newest version of a source package that can be fetched and unpacked
# into $scratch/<package>, unless that version is built already; the builder gets the version.
from_source() {
    local name=$1 package=$2 recipe=$3 builder=$4 version
    for version in $(source_versions "$package"); do
        if stamp_matches "$name" "$version $recipe"; then
            echo "$name: skipped ($version $recipe)"
            return 0
        fi
        if unpack "$package" "$version" 2>"$scratch/$name-fetch.log"; then
            piece "$name" "$version $recipe" "$builder" "$version"
            return 0
        fi
        echo "$name: $package $version cannot be fetched; trying the version before it" >&2
    done
    echo "$name: no version of $package can be fetched from the source entries" >&2
    exit 1
}

# ---- the compiler's own run-time DLLs, which every executable built here needs beside it

build_runtime() {
    local dll
    mkdir -p "$prefix/bin"
    for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        cp -v "$("$triple-g++-posix" -print-file-name="$dll")" "$prefix/bin/"
    done
}

# ---- Qt

# The dfsg repack leaves out Qt's copy of SQLite; Debian's sqlite3 source generates the same
# single-file amalgamation the bundled SQLite driver compiles.
add_sqlite_amalgamation() {
    local qt=$1 version
    for version in $(source_versions sqlite3); do
        unpack sqlite3 "$version" && break
    done
    [ -f "$scratch/sqlite3/.vx310-unpacked" ]
    (cd "$scratch/sqlite3" && ./configure --disable-tcl >/dev/null && make sqlite3.c)
    mkdir -p "$qt/src/3rdparty/sqlite"
    cp "$scratch/sqlite3/sqlite3.c" "$scratch/sqlite3/sqlite3.h" "$qt/src/3rdparty/sqlite/"
    rm -rf "$scratch/sqlite3"
}

# The repack also leaves out the tablet API headers; Wine's LGPL ones declare the same API but
# expect Wine's build environment, which this prelude stands in for.
add_wintab_headers() {
    local qt=$1 wine=/usr/include/wine/wine/windows
    mkdir -p "$qt/src/3rdparty/wintab"
    {
        printf '#include <windows.h>\n#include <_mingw_dxhelper.h>\n'
        printf '#ifndef API\n#define API WINAPI\n#endif\n'
        cat "$wine/wintab.h"
    } >"$qt/src/3rdparty/wintab/wintab.h"
    cp "$wine/pktdef.h" "$qt/src/3rdparty/wintab/"
}

build_qt() {
    local qt=$scratch/qt6-base build=$scratch/qt6-base-build
    [ -f "$qt/src/3rdparty/sqlite/sqlite3.c" ] || add_sqlite_amalgamation "$qt"
    [ -f "$qt/src/3rdparty/wintab/wintab.h" ] || add_wintab_headers "$qt"
    # The station runs on the windows platform plugin; the Direct2D one would compile all of its
    # sources a second time.
    sed -i '/add_subdirectory(direct2d)/d' "$qt/src/plugins/platforms/CMakeLists.txt"
    # With OpenGL off the dynamic-OpenGL switch still defaults to on, and the window code then
    # asks the OpenGL classes that were never built whether rendering is software.
    sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
        "$qt/src/plugins/platforms/windows/qwindowswindow.cpp"

    cmake -G Ninja -S "$qt" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DCMAKE_CROSSCOMPILING_EMULATOR= \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_pkg_config=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_openssl=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
        -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_sqlite=OFF \
        -DFEATURE_sql_sqlite=ON -DFEATURE_sql_odbc=OFF -DFEATURE_sql_psql=OFF \
        -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF \
        -DFEATURE_sql_db2=OFF
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# ---- libmodbus

build_libmodbus() {
    local src=$scratch/libmodbus
    (
        cd "$src"
        autoreconf -fi
        ./configure --host="$triple" --prefix="$prefix" \
            CC="$triple-gcc-posix" --disable-static --disable-tests
        make -j "$jobs"
        make install
    )
}

# ---- OpenSSL's libraries, for libmosquitto's TLS

build_openssl() {
    (
        cd "$scratch/openssl"
        ./Configure mingw64 shared no-tests --cross-compile-prefix="$triple-" \
            --prefix="$prefix" --libdir=lib CC=gcc-posix
        make -j "$jobs" build_libs
        make install_dev install_runtime_libs
    )
}

# ---- libmosquitto (the client library only)

build_mosquitto() {
    local src=$scratch/mosquitto build=$scratch/mosquitto-build
    # The Windows branch of the threading set-up points at a Visual C++ pthreads folder;
    # MinGW has its own pthread library, found like on any other system.
    sed -i 's/^\tif (WIN32)$/\tif (WIN32 AND MSVC)/' "$src/CMakeLists.txt"
    cmake -G Ninja -S "$src" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DCMAKE_CROSSCOMPILING_EMULATOR= \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DWITH_TLS=ON -DWITH_TLS_PSK=ON -DOPENSSL_ROOT_DIR="$prefix" \
        -DWITH_EC=ON -DWITH_CJSON=OFF \
        -DWITH_THREADING=ON -DWITH_SRV=OFF -DWITH_SOCKS=ON \
        -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF \
        -DWITH_LIB_CPP=OFF -DWITH_STATIC_LIBRARIES=OFF -DDOCUMENTATION=OFF
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
    # Its install rule names no destination for the import library, so CMake leaves it out.
    cp "$build/lib/libmosquitto.dll.a" "$prefix/lib/"
}

# ---- GoogleTest, from the sources Debian ships beside its Linux build

build_googletest() {
    local build=$scratch/googletest-build
    cmake -G Ninja -S /usr/src/googletest -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DCMAKE_CROSSCOMPILING_EMULATOR= \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DINSTALL_GTEST=ON -DBUILD_GMOCK=OFF
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

main() {
    local started=$SECONDS
    ensure_prerequisites
    mkdir -p "$prefix" "$scratch"

    local gcc_version
    gcc_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)

    # The text after the version is the recipe: raise its number when a piece's build changes.
    piece mingw-runtime "$gcc_version r1" build_runtime
    from_source qt6-base qt6-base r1 build_qt
    from_source libmodbus libmodbus r1 build_libmodbus
    from_source openssl openssl r1 build_openssl
    # Built again whenever OpenSSL is.
    from_source mosquitto mosquitto "r3 with openssl $(cat "$stamp_dir/openssl")" build_mosquitto
    piece googletest "$(dpkg-query -W -f='${Version}' libgtest-dev) r1" build_googletest

    # Only the logs stay: unpacked sources and build trees are large and cheap to recreate.
    rm -rf "$scratch/download" "$scratch"/*/
    echo "toolchain: $prefix ($(du -sh "$prefix" | cut -f1)) in $((SECONDS - started)) s"
}

main "$@"
