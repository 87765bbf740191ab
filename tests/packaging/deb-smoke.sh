#!/usr/bin/env bash
# Builds the .deb, unpacks it into a scratch root and runs the unpacked station offscreen against
# the unpacked simulator: the launcher creates the log, the station loads its library from its
# private folder and records.
set -uo pipefail
usage="usage: deb-smoke.sh BUILD_DIR CPACK"
[ $# -eq 2 ] || { echo "deb-smoke.sh: wrong arguments ($usage)" >&2; exit 2; }
build=$1 cpack=$2
[ -f "$build/CPackConfig.cmake" ] || { echo "deb-smoke.sh: $build has no CPackConfig.cmake" >&2; exit 2; }
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"

sim_pid="" station_pid=""
# stop PID: SIGTERM, then SIGKILL after 5 s; returns the exit status.
stop() {
    kill -TERM "$1" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
on_exit() {
    [ -n "$station_pid" ] && stop "$station_pid"
    [ -n "$sim_pid" ] && stop "$sim_pid"
}

# rows LOG: the snapshot count, or nothing while the log cannot be read.
sql() { sqlite3 -cmd '.timeout 200' "$1" "$2" 2>/dev/null; }
rows() { sql "$1" 'SELECT count(*) FROM pv_data;'; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }
elapsed() { local ms=$(($(now_ms) - started)); printf '%d.%01d s' $((ms / 1000)) $((ms % 1000 / 100)); }
started=$(now_ms)

timeout 300 "$cpack" -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" \
    >"$scratch/cpack.log" 2>&1 || die "cpack failed: $(tail -20 "$scratch/cpack.log")"
packages=("$scratch"/out/*.deb)
[ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || die "cpack made no single .deb: $(ls "$scratch/out")"
deb=${packages[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "vx310_0.1_$arch.deb" ] || fail "package file is $(basename "$deb"), wanted vx310_0.1_$arch.deb"
echo "package built after $(elapsed): $(basename "$deb"), $(stat -c %s "$deb") bytes"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in fonts-wqy-microhei libqt6sql6-sqlite libqt6widgets6 libqt6sql6 libmodbus5; do
    grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
[ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "Section is not electronics"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "VX310 team <team@vx310.invalid>" ] || fail "wrong Maintainer"

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || die "dpkg-deb -x failed"
private=$(find "$root/usr/lib" -type f -path '*/vx310/vx310' -printf '%h\n')
[ -n "$private" ] && [ -f "$private/libmodbus485.so" ] || die "no private folder with the station and its library under /usr/lib"
echo "private folder: ${private#"$root"}"
for f in vx310 vx310-meter-sim vx310-initdb vx310-port; do
    [ -x "$root/usr/bin/$f" ] || fail "/usr/bin/$f missing or not executable"
done
# The publisher's user unit names the packaged program, not the build's install prefix.
if [ -x "$root/usr/bin/vx310-publish" ]; then
    grep -qx 'ExecStart=/usr/bin/vx310-publish --config %h/.config/vx310/publish.conf' \
        "$root/usr/share/systemd/user/vx310-publish.service" ||
        fail "the vx310-publish user unit does not start /usr/bin/vx310-publish"
fi

# What a desktop finds in the menu and software centre.
desktop-file-validate "$root/usr/share/applications/vx310.desktop" || fail "installed desktop entry does not validate"
appstreamcli validate-tree --no-net "$root" >"$scratch/tree.log" 2>&1 ||
    fail "installed tree does not validate: $(cat "$scratch/tree.log")"

data="$scratch/data"
mkdir -p "$data"
log="$data/JetR/Rdatabj.db"
export XDG_DATA_HOME="$data"
unset LD_LIBRARY_PATH

"$root/usr/bin/vx310-meter-sim" --port 1 >"$scratch/sim.out" 2>"$scratch/sim.err" </dev/null &
sim_pid=$!
ready=""
for _ in $(seq 100); do
    ready=$(head -n 1 "$scratch/sim.out")
    [ -n "$ready" ] || ! kill -0 "$sim_pid" 2>/dev/null && break
    sleep 0.1
done
[ "$ready" = "ready $data/modbus485/com1" ] ||
    die "the unpacked simulator did not get ready: '$ready' $(cat "$scratch/sim.err")"
if command -v mbpoll >/dev/null; then
    timeout 10 mbpoll -m rtu -a 1 -b 9600 -P none -t 3:float -B -r 1 -c 1 -1 -q \
        "$data/modbus485/com1" >"$scratch/mbpoll.log" 2>&1 || fail "the unpacked simulator does not answer: $(cat "$scratch/mbpoll.log")"
fi

[ -e "$log" ] && die "a log exists before the first start"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/vx310" >"$scratch/station.out" 2>&1 </dev/null &
station_pid=$!

# The launcher replaces itself with the station: the same process ends up running the private
# executable with the private library mapped.
loaded=""
for _ in $(seq 100); do
    kill -0 "$station_pid" 2>/dev/null || break
    if [ "$(readlink "/proc/$station_pid/exe")" = "$private/vx310" ] &&
        grep -qF "$private/libmodbus485.so" "/proc/$station_pid/maps" 2>/dev/null; then
        loaded=yes
        break
    fi
    sleep 0.1
done
[ -n "$loaded" ] || fail "the station did not run with $private/libmodbus485.so loaded"
[ -f "$log" ] || fail "the launcher did not create $log"

# The recorder starts with the main window, about 1.5 s in; then one snapshot a second.
count=0
for _ in $(seq 150); do
    kill -0 "$station_pid" 2>/dev/null || break
    count=$(rows "$log")
    [ "${count:-0}" -ge 3 ] && break
    sleep 0.1
done
kill -0 "$station_pid" 2>/dev/null || fail "the station ended by itself: $(cat "$scratch/station.out")"
stop "$station_pid"
status=$?
station_pid=""
# 143: ended by the signal; 137 would mean it needed SIGKILL, anything else a crash.
[ "$status" -eq 143 ] || [ "$status" -eq 0 ] ||
    fail "the station did not end cleanly on SIGTERM (status $status): $(cat "$scratch/station.out")"

count=$(rows "$log")
[ "${count:-0}" -ge 3 ] || fail "the log holds ${count:-no} snapshots, wanted at least 3"
last=$(sql "$log" 'SELECT last_id FROM sl_void;')
[ "$last" = "$count" ] || fail "sl_void.last_id is '$last' with $count snapshots"
integrity=$(sql "$log" 'PRAGMA integrity_check;')
[ "$integrity" = ok ] || fail "log integrity: $integrity"
echo "recorded $count snapshots"

stop "$sim_pid"
sim_pid=""
[ -e "$data/modbus485/com1" ] && fail "the simulator left its link behind"

echo "smoke run took $(elapsed)"
finish
