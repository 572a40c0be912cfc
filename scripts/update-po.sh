#!/usr/bin/env bash
# Extracts the translatable texts (those in Tr() and N_()) into po/tarvex.pot
# and merges them into every po/LANG.po, keeping the translations already
# there. Run after adding or changing a message; then translate the new
# entries in each po/LANG.po.
# Usage: bash scripts/update-po.sh
set -euo pipefail
source "$(dirname "$0")/common.sh"

TARVEX_PACKAGES=()
tarvex_install_packages gettext
cd "$TARVEX_ROOT"
mapfile -t sources < <(git ls-files 'util/*.cpp' 'image/*.cpp' 'obj/*.cpp' 'mdl/*.cpp' 'app/*.cpp' 'viewer/*.cpp')
xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=N_ --sort-by-file --add-location=file \
    --package-name=Tarvex --package-version="$(sed -n 's/^project(Tarvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
    --msgid-bugs-address= --add-comments=TRANSLATORS: -o po/tarvex.pot "${sources[@]}" \
    2> >(grep -v -e msgid-bugs-address -e "Makevars" -e "specify an --msgid" -e MSGID_BUGS >&2)
for po in po/*.po; do
    msgmerge --quiet --update --add-location=file --backup=none --no-fuzzy-matching "$po" po/tarvex.pot
done
