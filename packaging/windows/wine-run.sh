#!/usr/bin/env bash
# Runs a Windows program of the station's build under wine64, in a wine prefix of its own that is
# made on first use: COM1 there leads to the link <prefix>/vx310-com1 (tests point it at the
# simulator's line), the Chinese captions find a CJK font for SimSun, and the toolchain's DLLs are
# on the program's path.
#
#   wine-run.sh [--prefix DIR] PROGRAM [ARGUMENTS...]
#
# The prefix is DIR, else $WINEPREFIX, else ~/.cache/vx310/wine. With --bare the toolchain's DLLs
# are left off the path, so a program finds only what lies beside it (as on a PC without them).
set -euo pipefail

prefix=${WINEPREFIX:-$HOME/.cache/vx310/wine}
bare=false
while [ $# -gt 0 ]; do
    case $1 in
    --prefix)
        [ $# -ge 2 ] || { echo "wine-run.sh: --prefix needs a folder" >&2; exit 2; }
        prefix=$2
        shift 2
        ;;
    --bare)
        bare=true
        shift
        ;;
    *) break ;;
    esac
done
if [ $# -lt 1 ]; then
    echo "wine-run.sh: no program to run (usage: wine-run.sh [--prefix DIR] [--bare] PROGRAM [ARGUMENTS...])" >&2
    exit 2
fi
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
if [ ! -x "$wine" ]; then
    echo "wine-run.sh: wine64 is not installed (apt-get install wine64)" >&2
    exit 2
fi
toolchain=${VX310_WIN_TOOLCHAIN:-$HOME/.cache/vx310/win64}

# wineserver lies beside wine64 in Debian's package.
PATH=$(dirname "$wine"):$PATH
export PATH WINEPREFIX=$prefix WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No offer to install wine's .NET and HTML engines into a new prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine keeps QT_* variables to the Linux side and hands WINEQT_* on to the program as QT_*.
for name in $(compgen -e); do
    case $name in
    QT_*) export "WINE$name=${!name}" ;;
    esac
done
if [ "$bare" = true ]; then
    unset WINEPATH
else
    export WINEPATH="Z:${toolchain//\//\\}\\bin"
fi

if [ ! -f "$prefix/.vx310-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    # Tests start many programs at once; one of them makes the prefix, the others wait for it.
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/.vx310-ready" ]; then
        "$wine" wineboot -i >/dev/null 2>&1
        "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$prefix/vx310-com1" /f \
            >/dev/null 2>&1
        # A font family of SimSun's names, as on every Chinese Windows, drawn by the CJK font here.
        for family in SimSun NSimSun 宋体; do
            "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
                /v "$family" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
        done
        # The port takes effect when wine starts again.
        wineserver -w
        touch "$prefix/.vx310-ready"
    fi
    exec 9>&-
fi

# A wine server started by the program itself would hold the caller's output open for seconds
# after the program ends; one of its own holds nothing of the caller's.
wineserver </dev/null >/dev/null 2>&1 || true
exec "$wine" "$@"
