#!/bin/sh
# Builds everything and runs every test headless.
#   scripts/test.sh               normal build in build/
#   scripts/test.sh --sanitize    AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then
    scripts/setup.sh
fi
dir=build
extra=""
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    extra="-DSC820_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"
    # The fault-injection library is preloaded ahead of the sanitizer runtime in some tests; its
    # calls still reach the sanitizer's interceptors, so the link-order check is off.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:verify_asan_link_order=0"
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
# shellcheck disable=SC2086
scripts/build.sh "$dir" $extra
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j2
