#!/usr/bin/env bash
# Installs what is missing (as root), builds Tarvex, converts a scratch copy
# of the bundled example, describes the result and draws it. examples/ stays untouched:
# the converter writes its atlas and placeholder textures beside the OBJ.
set -euo pipefail
source "$(dirname "$0")/common.sh"

tarvex_install_packages
tarvex_build "$TARVEX_ROOT/build"
cli="$TARVEX_ROOT/build/app/tarvex-cli"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-example.XXXXXX")
cp -R "$TARVEX_ROOT/examples/." "$scratch/"
echo "tarvex: converting a copy of the example in $scratch"
"$cli" convert "$scratch/windmill_0.obj"
echo
"$cli" info "$scratch/windmill.mdl"
echo
"$cli" render "$scratch/windmill.mdl" "$scratch/windmill.png"
echo
echo "tarvex: the model, its picture, its atlas and placeholder textures are in $scratch"
