#!/usr/bin/env bash
# The rendering benchmark: builds a Release tree in build-release/, writes
# the heavy job once into build-release/heavy-job/ (as bench/speed.sh does),
# converts it and times one frame of the model at 512 x 512.
#
# Usage: bench/render.sh [--rounds N]
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

tarvex_install_packages
build="$TARVEX_ROOT/build-release"
tarvex_build "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=OFF
job="$build/heavy-job"
python3 "$TARVEX_ROOT/bench/make_heavy_job.py" "$job"
[ -f "$job/heavy.mdl" ] || "$build/app/tarvex-cli" convert "$job/heavy_0.obj" >/dev/null
"$build/bench/tarvex_bench_render" "$job/heavy.mdl" "$@"
