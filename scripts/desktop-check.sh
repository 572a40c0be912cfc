#!/usr/bin/env bash
# Checks the desktop integration as installed: every desktop entry, the MDL5
# type for the shared MIME database and the thumbnailer. The type must be
# what a desktop reads from the engine's sample and from a converted model,
# by their names and by their content alone; the thumbnailer's
# command must draw a thumbnail of the size asked for.
# Given no PREFIX, builds and installs into a scratch prefix first. Installs
# the tools it needs as root; as another user, a missing tool skips its
# checks with a note.
# Usage: bash scripts/desktop-check.sh [PREFIX]
set -euo pipefail
source "$(dirname "$0")/common.sh"

mdlType=model/x-mdl5
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-desktop.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if [ "$(id -u)" = 0 ]; then
    tarvex_install_packages desktop-file-utils libxml2-utils shared-mime-info libglib2.0-bin
fi
prefix=${1:-}
if [ -z "$prefix" ]; then
    tarvex_build "$TARVEX_ROOT/build" >&2
    prefix=$scratch/prefix
    cmake --install "$TARVEX_ROOT/build" --prefix "$prefix" >/dev/null
fi
share=$prefix/share
mimePackage=$share/mime/packages/tarvex.xml
thumbnailer=$share/thumbnailers/tarvex.thumbnailer
cli=$prefix/bin/tarvex-cli

fail()
{
    echo "desktop-check: $*" >&2
    exit 1
}
# True when the tool is there; otherwise says which checks are skipped.
have()
{
    command -v "$1" >/dev/null && return 0
    echo "desktop-check: $1 is missing ($2): skipping $3" >&2
    return 1
}
# The value of KEY in an ini-style FILE, empty when absent.
key()
{
    sed -n "s/^$2=//p" "$1" | head -n 1
}

for f in "$mimePackage" "$thumbnailer" "$cli"; do
    [ -f "$f" ] || fail "not installed: $f"
done

# Desktop entries: valid, and the ones that open MDL5 files name our type.
# (None without the window and the viewer.)
shopt -s nullglob
entries=("$share"/applications/*.desktop)
shopt -u nullglob
if [ ${#entries[@]} -gt 0 ] && have desktop-file-validate desktop-file-utils "the desktop entry checks"; then
    for f in "${entries[@]}"; do
        desktop-file-validate "$f" || fail "$f is not a valid desktop entry"
    done
fi
if [ -f "$share/applications/tarvex-view.desktop" ]; then
    [ "$(key "$share/applications/tarvex-view.desktop" MimeType)" = "$mdlType;" ] \
        || fail "tarvex-view.desktop does not open $mdlType"
fi

# The thumbnailer: its one group, a program that is installed, the input, the
# output and the size in its command, our type.
[ "$(grep '^\[' "$thumbnailer")" = "[Thumbnailer Entry]" ] \
    || fail "$thumbnailer must hold the one group [Thumbnailer Entry]"
exec=$(key "$thumbnailer" Exec)
tryExec=$(key "$thumbnailer" TryExec)
[ -x "$prefix/bin/$tryExec" ] || fail "TryExec=$tryExec is not an installed program"
[ "${exec%% *}" = "$tryExec" ] || fail "Exec does not run TryExec's program: $exec"
for code in %i %o %s; do
    [[ " $exec " == *" $code "* ]] || fail "Exec lacks $code: $exec"
done
[ "$(key "$thumbnailer" MimeType)" = "$mdlType;" ] || fail "the thumbnailer is not for $mdlType"

# The MIME package: well-formed (shared-mime-info ships no schema to validate
# against), and read by update-mime-database without complaint.
if have xmllint libxml2-utils "the MIME package's syntax check"; then
    xmllint --noout "$mimePackage" || fail "$mimePackage is not well-formed XML"
fi
grep -q "type=\"$mdlType\"" "$mimePackage" || fail "$mimePackage does not define $mdlType"

# Models to look at: a converted example and, beside the project, the
# engine's own sample.
cp -R "$TARVEX_ROOT/examples/." "$scratch/"
"$cli" convert "$scratch/windmill_0.obj" >/dev/null
models=("$scratch/windmill.mdl")
sample=$TARVEX_ROOT/../shared/samples/engine-mdl5/minigun_mdl5.mdl
if [ -f "$sample" ]; then
    cp "$sample" "$scratch/"
    models+=("$scratch/$(basename "$sample")")
else
    echo "desktop-check: no engine sample at $sample: skipping it" >&2
fi

# The type as a desktop sees it, from a private database of the system's
# types and ours, through GIO: by the name, and by the content alone.
if have update-mime-database shared-mime-info "the MIME type detection" \
    && have gio libglib2.0-bin "the MIME type detection"; then
    system=/usr/share/mime/packages/freedesktop.org.xml
    [ -f "$system" ] || fail "$system is missing"
    mkdir -p "$scratch/data/mime/packages" "$scratch/home"
    cp "$system" "$mimePackage" "$scratch/data/mime/packages/"
    export XDG_DATA_DIRS=$scratch/data XDG_DATA_HOME=$scratch/home GIO_USE_VFS=local
    said=$(update-mime-database "$scratch/data/mime" 2>&1)
    [ -z "$said" ] || fail "update-mime-database on $mimePackage: $said"
    typeOf()
    {
        gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'
    }
    for f in "${models[@]}"; do
        [ "$(typeOf "$f")" = "$mdlType" ] || fail "$f is $(typeOf "$f"), not $mdlType"
        cp "$f" "$scratch/unnamed"
        [ "$(typeOf "$scratch/unnamed")" = "$mdlType" ] || fail "the content of $f is not told as $mdlType"
    done
    printf 'MDL4\0\0\0\0' >"$scratch/older"
    [ "$(typeOf "$scratch/older")" != "$mdlType" ] || fail "an MDL4 file is taken as $mdlType"
    unset XDG_DATA_DIRS XDG_DATA_HOME GIO_USE_VFS
fi

# The thumbnailer's command as a file manager runs it.
for f in "${models[@]}"; do
    out=$scratch/thumbnail.png
    rm -f "$out"
    command=${exec//%s/128}
    command=${command//%i/$f}
    command=${command//%o/$out}
    # Split on blanks as file managers do; no path here holds one.
    read -r -a words <<<"$command"
    PATH=$prefix/bin:$PATH "${words[@]}" >/dev/null || fail "the thumbnailer failed on $f: $command"
    # The PNG signature, then IHDR's width and height, big-endian.
    [ "$(od -An -tx1 -N8 "$out" | tr -d ' \n')" = 89504e470d0a1a0a ] \
        || fail "the thumbnail of $f is no PNG file"
    [ "$(od -An -tu1 -j16 -N8 "$out" | tr -s ' \n' ' ')" = " 0 0 0 128 0 0 0 128 " ] \
        || fail "the thumbnail of $f is not 128 x 128"
done
