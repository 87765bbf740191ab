#!/usr/bin/env bash
# The Windows packages as a user meets them, under wine in a new prefix that has nothing of the
# toolchain: the zip unpacked into an empty folder runs from that folder alone, and the installer
# installs, starts from its Start-menu entry and uninstalls, leaving the reading log.
#   package-smoke.sh BUILD_DIR LINK_PROBE
# BUILD_DIR holds vx310-<version>-win64.zip and -setup.exe (packaging/windows/build.sh makes them);
# LINK_PROBE is vx310-link-probe.exe, run from the unpacked folder to load MODBUS485.dll there.
set -euo pipefail

build=$(realpath "${1:?usage: package-smoke.sh BUILD_DIR LINK_PROBE}")
probe=$(realpath "${2:?usage: package-smoke.sh BUILD_DIR LINK_PROBE}")
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../packaging/windows/wine-run.sh
caption="VX310 三相多功能表"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

zip=$(ls "$build"/vx310-*-win64.zip 2>/dev/null | head -n1)
setup=$(ls "$build"/vx310-*-win64-setup.exe 2>/dev/null | head -n1)
if [ -z "$zip" ] || [ -z "$setup" ]; then
    echo "no packages in $build: packaging/windows/build.sh makes them"
    exit 77
fi

work=$(mktemp -d /tmp/vx310-package-XXXXXX)
prefix=$work/prefix
station=
cleanup() {
    [ -n "$station" ] && kill "$station" $(stations) 2>/dev/null
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

wine() { "$run" --prefix "$prefix" --bare "$@"; }
local_data=$prefix/drive_c/users/${USER:-root}/AppData/Local
log=$local_data/JetR/Rdatabj.db

# The stations running in this prefix, whatever path they were started by.
stations() {
    local pid
    for pid in $(pgrep -f 'vx310\.exe'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && echo "$pid"
    done
}

# Starts a station in the background; true when it still runs after a while and has made its
# reading log on this first start.
starts_and_records() {
    rm -rf "$local_data/JetR"
    env -u DISPLAY "$run" --prefix "$prefix" --bare "$@" >"$work/station.out" 2>&1 &
    station=$!
    sleep 8
    local running
    running=$(stations)
    [ -n "$running" ] || { cat "$work/station.out" >&2; return 1; }
    if [ "${HAND_OVER:-}" = yes ]; then
        # A second start on the same log hands over to the running station and ends.
        timeout 30 env -u DISPLAY "$run" --prefix "$prefix" --bare "$@" ||
            fail "a second start did not hand over to the running station"
        [ "$(stations)" = "$running" ] || fail "the station did not keep running after a second start"
    fi
    kill $running
    wait "$station" 2>/dev/null || true
    station=
    [ -f "$log" ]
}

# ---- the zip

mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
[ "$(ls "$work/unpacked")" = vx310 ] || fail "the zip holds more than one folder vx310/"
folder=$work/unpacked/vx310
for f in vx310.exe MODBUS485.dll vx310-initdb.exe vx310-export.exe vx310-publish.exe \
    platforms/qwindows.dll sqldrivers/qsqlite.dll styles/qwindowsvistastyle.dll; do
    [ -f "$folder/$f" ] || fail "the zip has no vx310/$f"
done

for tool in vx310-initdb vx310-export vx310-publish; do
    version=$(wine "$folder/$tool.exe" --version) || fail "$tool.exe --version did not run from the zip"
    [[ $version == "$tool "* ]] || fail "$tool.exe --version said '$version'"
done
cp "$probe" "$folder/"
ready=$(echo | wine "$folder/vx310-link-probe.exe" | head -n1)
rm "$folder/vx310-link-probe.exe"
[ "$ready" = "ready 7" ] || fail "MODBUS485.dll from the zip: the probe said '$ready'"
HAND_OVER=yes starts_and_records "$folder/vx310.exe" || fail "vx310.exe from the zip did not keep running with a new reading log"

# ---- the installer

wine "$setup" /S || fail "the installer failed"
installed=$prefix/drive_c/Program\ Files/VX310
entry=$prefix/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/$caption.lnk
[ -f "$installed/vx310.exe" ] && [ -f "$installed/MODBUS485.dll" ] || fail "nothing installed in $installed"
[ -f "$entry" ] || fail "no Start-menu entry \"$caption\""
starts_and_records start /unix "$entry" || fail "the Start-menu entry did not start a station that records"

wine "$installed/uninstall.exe" /S || fail "the uninstaller failed"
# The uninstaller goes on from a copy of itself and returns at once.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -w
[ ! -e "$installed" ] || fail "the uninstaller left $(ls "$installed" | tr '\n' ' ')"
[ ! -e "$entry" ] || fail "the uninstaller left the Start-menu entry"
[ -f "$log" ] || fail "the uninstaller took the reading log"
echo "zip and installer: ok"
