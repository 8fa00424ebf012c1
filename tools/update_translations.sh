#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Collects the station's texts from the sources into the English
# translation, resources/translations/kaldrixplus_en.ts: new texts arrive
# unfinished (fill in their <translation> and remove type="unfinished", in
# Qt Linguist or by hand), texts no longer in the sources are dropped.
# Texts are found in tr() and QCoreApplication::translate() calls, in
# TrText() calls and KX_TRANSLATE_NOOP markers (core/tr_text.h) and in
# QT_TRANSLATE_NOOP markers.
#
#     tools/update_translations.sh            # updates the .ts file
#     tools/update_translations.sh OUT.ts     # writes OUT.ts instead (the
#                                             # translation test's check)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
lupdate="${LUPDATE:-}"
if [ -z "$lupdate" ]; then
    for candidate in /usr/lib/qt6/bin/lupdate "$(command -v lupdate6 || true)" "$(command -v lupdate || true)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            lupdate="$candidate"
            break
        fi
    done
fi
[ -n "$lupdate" ] || { echo "lupdate not found (Debian: qt6-l10n-tools)" >&2; exit 1; }
ts="$root/resources/translations/kaldrixplus_en.ts"
out="${1:-$ts}"
if [ "$out" != "$ts" ]; then
    cp "$ts" "$out"
fi
cd "$root"
# The folders whose texts a person reads; tools/ holds developer programs,
# whose texts are not translated.
folders=(core hid grid config records station ui dialogs capture app)
# -I: the includes are written from the root; without it lupdate cannot see a
# class's namespace and files tr() of kx::CFoo under "CFoo", which the
# program never asks for.
"$lupdate" -silent -locations none -no-obsolete -no-ui-lines \
    -tr-function-alias translate+=TrText,QT_TRANSLATE_NOOP+=KX_TRANSLATE_NOOP \
    -source-language zh_CN -target-language en \
    -I "$root" -extensions cpp,h "${folders[@]}" -ts "$out" 2>&1 |
    { grep -v "Ignoring definition of undeclared qualified class" || true; } >&2
