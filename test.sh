#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

preset=default
[ -n "${CI:-}" ] && preset=ci

vx310_ensure_packages
vx310_build "$preset"
ctest --preset "$preset" -j "$(nproc)" "$@"
