#!/bin/sh
# Fails when a source file crosses a layer. The build's include paths cannot say this on their
# own, since every folder sits under one root. The layers, from the bottom:
#   common/     the helpers both sides share: includes no Qt, emulator, platform or utility header
#   emulator/   the emulated host: includes no Qt, platform or utility header
#   platform/   the stand-ins: reach the emulator only through its door, emulator/Emulator.h,
#               and include no utility header
#   the utility (app, card, form, firmware, driverctl): includes no Qt or emulator header
# and the automation (platform/window/automation/) is reached only from the program's start,
# platform/window/ApplicationMain.cpp, which puts it over whichever backend runs.
#   scripts/check-layers.sh [SOURCE_DIR]
set -eu
cd "${1:-$(dirname "$0")/..}"
status=0
report() {
    echo "check-layers: $1"
    status=1
}
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'
qt='<(Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*)>'
utility="app card form firmware driverctl"
utilityHeader='"(app|card|form|firmware|driverctl)/'
# Prints the include lines of the C++ files under the folders that match the pattern.
includes() {
    pattern=$1
    shift
    for dir in "$@"; do
        [ -d "$dir" ] || continue
        grep -rnE "$include($pattern)" --include='*.cpp' --include='*.h' "$dir" || true
    done
}
check() {
    what=$1
    hits=$2
    [ -z "$hits" ] || report "$what:
$hits"
}
check "the utility includes a Qt or emulator header" \
    "$(includes "$qt|\"emulator/" $utility)"
check "the platform includes a utility header" "$(includes "$utilityHeader" platform)"
check "the platform reaches the emulator other than through emulator/Emulator.h" \
    "$(includes '"emulator/' platform | grep -v '"emulator/Emulator\.h"' || true)"
check "the emulator includes a Qt, platform or utility header" \
    "$(includes "$qt|\"platform/|$utilityHeader" emulator)"
check "the common library includes a Qt, emulator, platform or utility header" \
    "$(includes "$qt|\"emulator/|\"platform/|$utilityHeader" common)"
check "the automation is reached other than from the program's start" \
    "$(includes '"platform/window/automation/' platform app card form firmware driverctl |
        grep -vE '^platform/window/(automation/|ApplicationMain\.cpp:)' || true)"
[ "$status" = 0 ] && echo "check-layers: every include stays in its layer"
exit "$status"
