#!/usr/bin/env bash
# Converts every OBJ file found under a folder and prints one line per model:
#
#     scripts/convert-all.sh FOLDER [TARVEX-CLI]
#
#     exit  triangles  warnings  file
#
# exit is the command-line tool's status, triangles the count of the model's
# status line ("-" when it got no further), warnings the log lines that begin
# with "WARN"; a refused file gets its error message on the next line. Each
# OBJ file is converted in a scratch copy of its folder, so the folder under
# test is never written to. The further frames of a series (NAME_1.obj, ...)
# are converted with their first file, not on their own. The last line
# counts the models that converted and those that did not; the status is 1
# when any did not.
set -uo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 FOLDER [TARVEX-CLI]" >&2
    exit 2
fi
folder=$1
cli=${2:-$(cd "$(dirname "$0")/.." && pwd)/build/app/tarvex-cli}
if [ ! -x "$cli" ]; then
    echo "$0: no command-line tool at $cli (build first, or name it)" >&2
    exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-convert-all.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

converted=0
refused=0
printf '%-4s %9s %8s  %s\n' exit triangles warnings file
while IFS= read -r -d '' obj; do
    name=$(basename "$obj")
    # NAME_N.obj with N >= 1 is a later frame of NAME_0.obj when that exists.
    if [[ $name =~ ^(.*)_([1-9][0-9]*)\.[oO][bB][jJ]$ ]] \
        && [ -e "$(dirname "$obj")/${BASH_REMATCH[1]}_0.obj" ]; then
        continue
    fi
    work="$scratch/work"
    rm -rf "$work"
    mkdir -p "$work"
    cp -R "$(dirname "$obj")/." "$work/"
    (cd "$work" && "$cli" convert "$name" > log.txt 2> err.txt)
    status=$?
    triangles=$(sed -n 's/^MDL status:[0-9]*Verts,\([0-9]*\)Faces,.*/\1/p' "$work/log.txt" | head -1)
    warnings=$(grep -c '^WARN' "$work/log.txt")
    printf '%-4s %9s %8s  %s\n' "$status" "${triangles:--}" "$warnings" "$obj"
    if [ "$status" -eq 0 ]; then
        converted=$((converted + 1))
    else
        refused=$((refused + 1))
        sed 's/^/     /' "$work/err.txt"
    fi
done < <(find "$folder" -type f -iname '*.obj' -print0 | sort -z)

echo "$converted converted, $refused refused"
[ "$refused" -eq 0 ]
