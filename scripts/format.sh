#!/usr/bin/env bash
# Formats the C++ sources with the repository's .clang-format, or with
# --check only reports the files that are not formatted and fails on any.
# Usage: bash scripts/format.sh [--check]
set -euo pipefail
source "$(dirname "$0")/common.sh"

TARVEX_PACKAGES=()
tarvex_install_packages clang-format
cd "$TARVEX_ROOT"
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
if [ "${1:-}" = "--check" ]; then
    bad=()
    for f in "${files[@]}"; do
        clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
    done
    if [ ${#bad[@]} -gt 0 ]; then
        echo "tarvex: not formatted (run bash scripts/format.sh):" >&2
        printf '  %s\n' "${bad[@]}" >&2
        exit 1
    fi
    echo "tarvex: all ${#files[@]} C++ files are formatted"
else
    clang-format -i "${files[@]}"
fi
