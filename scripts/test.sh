#!/usr/bin/env bash
# Installs what is missing (as root), builds Tarvex and runs every test.
# Usage: bash scripts/test.sh [--sanitize]
set -euo pipefail
source "$(dirname "$0")/common.sh"

build="$TARVEX_ROOT/build"
args=()
if [ "${1:-}" = "--sanitize" ]; then
    build="$TARVEX_ROOT/build-asan"
    args+=(-DTARVEX_SANITIZE=ON)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi

# assimp-utils: an independent reader of the format for the end-to-end tests.
tarvex_install_packages assimp-utils
tarvex_japanese_locale
tarvex_build "$build" "${args[@]}"
cd "$build"
ctest --output-on-failure --no-tests=error -j "$(nproc)"
