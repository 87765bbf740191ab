#!/usr/bin/env bash
# Builds everything and runs every test. Under CI (CI set) warnings are errors and the suite runs
# a second time with the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

preset=default
[ -n "${CI:-}" ] && preset=ci

vx310_ensure_packages
vx310_build "$preset"
ctest --preset "$preset" -j "$(nproc)" "$@"

if [ -n "${CI:-}" ]; then
    vx310_build asan-ubsan
    ctest --preset asan-ubsan -j "$(nproc)" "$@"
fi
