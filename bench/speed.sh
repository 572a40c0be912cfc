#!/usr/bin/env bash
# The speed benchmark of a whole animated conversion: installs what is
# missing (as root), builds a Release tree in build-release/, writes the heavy
# job (21 OBJ frames, about 270 MB) once into build-release/heavy-job/, and
# times tinyobjloader, tarvex-cli and the window on it, interleaved.
#
# Usage: bench/speed.sh [--rounds N]     (default 7 rounds after a warm-up)
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

tarvex_install_packages libtinyobjloader-dev
build="$TARVEX_ROOT/build-release"
tarvex_build "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=OFF
job="$build/heavy-job"
python3 "$TARVEX_ROOT/bench/make_heavy_job.py" "$job"
python3 "$TARVEX_ROOT/bench/speed.py" --build "$build" --job "$job" "$@"
