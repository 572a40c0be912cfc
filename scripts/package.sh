#!/usr/bin/env bash
# Installs what is missing (as root), builds Tarvex and its Debian package
# with cpack, and prints the package's path: install it with
#   apt-get install ./build/tarvex_VERSION_ARCH.deb
# Usage: bash scripts/package.sh
set -euo pipefail
source "$(dirname "$0")/common.sh"

# dpkg-shlibdeps (dpkg-dev) and file find the libraries the package needs.
tarvex_install_packages dpkg-dev file
build="$TARVEX_ROOT/build"
tarvex_build "$build" >&2
rm -f "$build"/tarvex_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$build"/tarvex_*.deb
