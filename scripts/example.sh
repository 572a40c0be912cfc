#!/usr/bin/env bash
# Installs what is missing (as root) and builds Tarvex.
set -euo pipefail
source "$(dirname "$0")/common.sh"

tarvex_install_packages
tarvex_build "$TARVEX_ROOT/build"
echo "tarvex: built in $TARVEX_ROOT/build"
