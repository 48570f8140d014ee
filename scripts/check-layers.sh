#!/bin/sh
# Fails when a source file crosses a layer: the utility (app, card, form, firmware, driverctl)
# includes a Qt or emulator header, or the platform stand-ins include a utility header. The
# build's include paths cannot say this on their own, since every folder sits under one root.
#   scripts/check-layers.sh [SOURCE_DIR]
set -eu
cd "${1:-$(dirname "$0")/..}"
status=0
report() {
    echo "check-layers: $1"
    status=1
}
utility="app card form firmware driverctl"
for dir in $utility; do
    [ -d "$dir" ] || continue
    hits=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]*|Qt[A-Za-z]*/[^>"]*|emulator/[^>"]*)[>"]' \
        --include='*.cpp' --include='*.h' "$dir" || true)
    [ -z "$hits" ] || report "the utility includes a Qt or emulator header:
$hits"
done
hits=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(app|card|form|firmware|driverctl)/' \
    --include='*.cpp' --include='*.h' platform || true)
[ -z "$hits" ] || report "the platform includes a utility header:
$hits"
[ "$status" = 0 ] && echo "check-layers: every include stays in its layer"
exit "$status"
