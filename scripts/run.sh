#!/bin/sh
# Builds the utility, creates the default emulated host on first use, and starts the utility
# on the user's display, or in the terminal where there is none.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then
    scripts/setup.sh
fi
# Only what running needs, the bundle and the host command: the tests and benchmarks are
# scripts/test.sh's to build.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target sc820_bundle sc820-host
host="build/emulator/sc820-host"
root="${SC820_HOST_ROOT:-${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host}"
if [ ! -e "$root" ]; then
    "$host" init
fi
exec "build/SC820 Utility/Contents/bin/sc820-utility" "$@"
