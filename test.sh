#!/usr/bin/env bash
# Builds everything and runs every test. Under CI (CI set) warnings are errors and the suite runs
# a second time with the address and undefined-behaviour sanitizers. The slow .deb build and smoke
# run (label "package") runs only in CI's first pass. When the Windows toolchain is there
# (packaging/windows/build-toolchain.sh), the Windows build is made and packed too, and its tests
# run under wine.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

preset=default
skip_package=(-LE package)
if [ -n "${CI:-}" ]; then
    preset=ci
    skip_package=()
fi

vx310_ensure_packages
vx310_build "$preset"
ctest --preset "$preset" -j "$(nproc)" "${skip_package[@]}" "$@"

if vx310_windows_toolchain_ready; then
    vx310_ensure_packages "${VX310_WINDOWS_TEST_PACKAGES[@]}"
    packaging/windows/build.sh
    ctest --preset windows -j "$(nproc)" "$@"
else
    echo "Windows build skipped: no toolchain in $(vx310_windows_toolchain) (packaging/windows/build-toolchain.sh makes it)"
fi

if [ -n "${CI:-}" ]; then
    vx310_build asan-ubsan
    ctest --preset asan-ubsan -j "$(nproc)" -LE package "$@"
fi
