# shellcheck shell=bash
# Shared by the packaging checks: failure reporting, file checks and a private scratch folder.

failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

die() {
    echo "FAIL: $*" >&2
    exit 1
}

# A scratch folder removed on exit; `on_exit` may be redefined to stop children first.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vx310-pkg.XXXXXX") || die "cannot create a scratch folder"
on_exit() { :; }
cleanup() {
    on_exit
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# expect_file PATH MODE: a regular file with exactly that octal mode.
expect_file() {
    if [ ! -f "$1" ] || [ -L "$1" ]; then
        fail "missing file $1"
        return
    fi
    local mode
    mode=$(stat -c %a "$1")
    [ "$mode" = "$2" ] || fail "$1 has mode $mode, wanted $2"
}

# expect_elf PATH: an ELF executable or shared object.
expect_elf() {
    [ -f "$1" ] || return 0
    file -b "$1" | grep -q '^ELF 64-bit LSB' || fail "$1 is not an ELF file: $(file -b "$1")"
}

# expect_png PATH SIZE: a PNG of SIZE x SIZE pixels.
expect_png() {
    [ -f "$1" ] || return 0
    file -b "$1" | grep -q "^PNG image data, $2 x $2," || fail "$1 is not a $2x$2 PNG: $(file -b "$1")"
}

# expect_resolved PATH BUILD_DIR: every shared library the file needs is found, with no help from
# the caller's environment and no path into the build tree.
expect_resolved() {
    [ -f "$1" ] || return 0
    local missing runpath
    missing=$(env -u LD_LIBRARY_PATH ldd "$1" 2>&1 | grep 'not found')
    [ -z "$missing" ] || fail "$1 does not find: $missing"
    runpath=$(readelf -d "$1" | grep -E 'RUNPATH|RPATH')
    case "$runpath" in
        *"$2"*) fail "$1 still points into the build tree: $runpath" ;;
    esac
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}
