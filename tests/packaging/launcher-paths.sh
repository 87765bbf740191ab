#!/usr/bin/env bash
# Configures the project afresh for prefix /usr (Debian's multiarch library folder) and for custom
# folders, and checks that the generated launcher reaches the station's private folder in each.
set -uo pipefail
usage="usage: launcher-paths.sh SOURCE_DIR GENERATOR MULTIARCH"
[ $# -eq 3 ] || { echo "launcher-paths.sh: wrong arguments ($usage)" >&2; exit 2; }
source_dir=$1 generator=$2 multiarch=$3
[ -f "$source_dir/cmake/Packaging.cmake" ] ||
    { echo "launcher-paths.sh: $source_dir is not the source folder" >&2; exit 2; }
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"

# launched_station ARGS...: the path the generated launcher executes, relative to its folder.
launched_station() {
    timeout 120 cmake -S "$source_dir" -B "$scratch/b" -G "$generator" "$@" \
        >"$scratch/configure.log" 2>&1 || die "configuring failed: $(tail -5 "$scratch/configure.log")"
    # shellcheck disable=SC2016 # the launcher's own variables, matched literally
    sed -n 's|^exec "\$bindir/\(.*\)" "\$@"$|\1|p' "$scratch/b/packaging/vx310"
}

libdir=lib
[ -f /etc/debian_version ] && [ -n "$multiarch" ] && libdir="lib/$multiarch"
got=$(launched_station -DCMAKE_INSTALL_PREFIX=/usr)
[ "$got" = "../$libdir/vx310/vx310" ] || fail "prefix /usr: launcher runs '$got', wanted '../$libdir/vx310/vx310'"

got=$(launched_station -DCMAKE_INSTALL_PREFIX=/opt/vx310 -DCMAKE_INSTALL_BINDIR=sbin/vx \
    -DCMAKE_INSTALL_LIBDIR=lib64)
[ "$got" = "../../lib64/vx310/vx310" ] || fail "custom folders: launcher runs '$got', wanted '../../lib64/vx310/vx310'"

finish
