#!/bin/sh
# Every translatable text of the main window has a finished German translation: the window
# description (and the terminal's sources) are scanned afresh against the German table, and any
# text that is new or still unfinished fails the test.
#   window_texts_test.sh LUPDATE MainWindow.ui window_de.ts [SOURCE_DIR...]
set -eu
lupdate="$1" ui="$2" table="$3"
shift 3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$table" "$work/window_de.ts"
"$lupdate" -silent -locations none -no-obsolete "$ui" "$@" -ts "$work/window_de.ts"
if grep -q 'type="unfinished"' "$work/window_de.ts"; then
    echo "FAIL: window texts without a German translation:"
    grep -B1 'type="unfinished"' "$work/window_de.ts" | sed -n 's/.*<source>\(.*\)<\/source>.*/  \1/p'
    exit 1
fi
if ! cmp -s "$table" "$work/window_de.ts"; then
    echo "FAIL: the German table is not up to date with the window (run lupdate):"
    diff "$table" "$work/window_de.ts" | head -20
    exit 1
fi
echo "every window text is translated"
