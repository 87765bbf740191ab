#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks every file's place and mode, that the
# launcher reaches the station, and that the installed programs run without LD_LIBRARY_PATH.
set -uo pipefail
usage="usage: install-tree.sh BUILD_DIR BINDIR LIBDIR DATADIR TOOL..."
[ $# -ge 5 ] || { echo "install-tree.sh: missing arguments ($usage)" >&2; exit 2; }
build=$1 bindir=$2 libdir=$3 datadir=$4
shift 4
tools=("$@")
[ -f "$build/cmake_install.cmake" ] || { echo "install-tree.sh: $build is not a build folder" >&2; exit 2; }
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"

prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    die "cmake --install failed: $(tail -5 "$scratch/install.log")"

private="$prefix/$libdir/vx310"
expected=(
    "$bindir/vx310"
    "$libdir/vx310/vx310"
    "$libdir/vx310/libmodbus485.so"
    "$datadir/applications/vx310.desktop"
    "$datadir/metainfo/org.vx310.station.metainfo.xml"
    "$datadir/icons/hicolor/48x48/apps/vx310.png"
    "$datadir/icons/hicolor/128x128/apps/vx310.png"
    "$datadir/icons/hicolor/256x256/apps/vx310.png"
)
for tool in "${tools[@]}"; do
    expected+=("$bindir/$tool")
    [ "$tool" = vx310-publish ] && expected+=("$datadir/systemd/user/vx310-publish.service")
done

# Exactly these files, nothing more.
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -o -type l |
    sed 's|^\./||' | sort) >"$scratch/tree.diff" ||
    fail "installed files differ from the expected set (< expected, > installed):
$(cat "$scratch/tree.diff")"

expect_file "$prefix/$bindir/vx310" 755
head -n 1 "$prefix/$bindir/vx310" | grep -qx '#!/bin/sh' || fail "the launcher is not a sh script"
sh -n "$prefix/$bindir/vx310" || fail "the launcher does not parse"
for tool in "${tools[@]}"; do
    expect_file "$prefix/$bindir/$tool" 755
    expect_elf "$prefix/$bindir/$tool"
    expect_resolved "$prefix/$bindir/$tool" "$build"
done
expect_file "$private/vx310" 755
expect_file "$private/libmodbus485.so" 644
for f in "$private/vx310" "$private/libmodbus485.so"; do
    expect_elf "$f"
    expect_resolved "$f" "$build"
done
expect_file "$prefix/$datadir/applications/vx310.desktop" 644
expect_file "$prefix/$datadir/metainfo/org.vx310.station.metainfo.xml" 644
for size in 48 128 256; do
    expect_file "$prefix/$datadir/icons/hicolor/${size}x$size/apps/vx310.png" 644
    expect_png "$prefix/$datadir/icons/hicolor/${size}x$size/apps/vx310.png" "$size"
done

# The path the launcher executes, with its own folder put in, is the private station.
# shellcheck disable=SC2016 # the launcher's own variables, matched literally
target=$(sed -n 's|^exec "\$bindir/\(.*\)" "\$@"$|\1|p' "$prefix/$bindir/vx310")
[ -n "$target" ] || fail "the launcher has no exec line for the station"
[ -n "$target" ] && { [ "$prefix/$bindir/$target" -ef "$private/vx310" ] ||
    fail "the launcher runs $bindir/$target, not $libdir/vx310/vx310"; }

# The installed tools run from the prefix; the database tool makes a log where it is told.
for tool in "${tools[@]}"; do
    timeout 10 env -u LD_LIBRARY_PATH "$prefix/$bindir/$tool" --help >/dev/null 2>&1 ||
        fail "$tool --help did not succeed from the installed tree"
done
timeout 10 env -u LD_LIBRARY_PATH "$prefix/$bindir/vx310-initdb" --path "$scratch/log.db" ||
    fail "the installed vx310-initdb could not create a log"
[ -s "$scratch/log.db" ] || fail "the installed vx310-initdb left no log"

finish
