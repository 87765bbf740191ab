#!/usr/bin/env bash
# Cross-builds the station and its tools for 64-bit Windows against the toolchain that
# build-toolchain.sh made, into build-windows/, and packs them:
#   build-windows/vx310-<version>-win64.zip        one folder vx310/ holding everything it needs
#   build-windows/vx310-<version>-win64-setup.exe  the same under Program Files, with a Start-menu
#                                                  entry and an uninstaller
# Environment: VX310_WIN_TOOLCHAIN (the toolchain, default ~/.cache/vx310/win64).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh

here=packaging/windows
toolchain=${VX310_WIN_TOOLCHAIN:-$HOME/.cache/vx310/win64}
triple=x86_64-w64-mingw32
build=build-windows

if [ $# -gt 0 ]; then
    echo "build.sh: takes no arguments (got '$1'); set VX310_WIN_TOOLCHAIN to use another toolchain" >&2
    exit 2
fi
if [ ! -f "$toolchain/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "build.sh: no Windows toolchain in $toolchain; make it with $here/build-toolchain.sh" >&2
    exit 1
fi
vx310_ensure_packages nsis g++-mingw-w64-x86-64-posix cmake ninja-build

export VX310_WIN_TOOLCHAIN=$toolchain
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# ---- the folder: the programs, the Qt plugins they load, and every DLL these import that the
# toolchain holds (Windows' own DLLs are on every PC)

stage=$build/package/vx310
rm -rf "$build/package"
mkdir -p "$stage"
for program in vx310.exe MODBUS485.dll vx310-initdb.exe vx310-export.exe vx310-publish.exe; do
    cp "$build/bin/$program" "$stage/"
done
for plugin in platforms/qwindows.dll sqldrivers/qsqlite.dll styles/qwindowsvistastyle.dll; do
    mkdir -p "$stage/$(dirname "$plugin")"
    cp "$toolchain/plugins/$plugin" "$stage/$plugin"
done

imports() {
    "$triple-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'
}
pending=("$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
    file=${pending[0]}
    pending=("${pending[@]:1}")
    while read -r dll; do
        [ -e "$stage/$dll" ] && continue
        # DLL names are compared without case, as Windows does.
        found=$(find "$toolchain/bin" -maxdepth 1 -iname "$dll" -print -quit)
        if [ -n "$found" ]; then
            cp "$found" "$stage/$dll"
            pending+=("$stage/$dll")
        fi
    done < <(imports "$file")
done
find "$stage" -name '*.exe' -o -name '*.dll' | xargs "$triple-strip" --strip-unneeded

zip=$build/vx310-$version-win64.zip
rm -f "$zip"
(cd "$build/package" && cmake -E tar cf "../$(basename "$zip")" --format=zip vx310)

# ---- the installer; its uninstaller removes exactly the files it put there, and never the
# reading log, which lives with the user's data

files=$build/package/uninstall-files.nsh
{
    (cd "$stage" && find . -type f | sort) | while read -r f; do
        f=${f#./}
        printf 'Delete "$INSTDIR\\%s"\n' "${f//\//\\}"
    done
    (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
        d=${d#./}
        printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}"
    done
} >"$files"
# Windows wants four numbers in a file's version.
IFS=. read -r major minor patch tweak <<<"$version"
setup=$build/vx310-$version-win64-setup.exe
rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 \
    -DVERSION="$version" \
    -DFILE_VERSION="${major:-0}.${minor:-0}.${patch:-0}.${tweak:-0}" \
    -DSTAGE="$(realpath "$stage")" \
    -DFILES="$(realpath "$files")" \
    -DICON="$(realpath "$here/vx310.ico")" \
    -DOUTFILE="$(realpath "$build")/$(basename "$setup")" \
    "$here/vx310.nsi"

echo "$zip ($(du -h "$zip" | cut -f1))"
echo "$setup ($(du -h "$setup" | cut -f1))"
