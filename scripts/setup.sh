#!/bin/sh
# Installs the Debian packages that building, running, testing and packaging the utility need,
# and the validators CI runs, when any of them is missing. Run as root on Debian.
# scripts/check-deps.sh checks that this list covers every package a build used.
set -eu
PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-tools-dev qt6-tools-dev-tools \
qt6-l10n-tools libplist-dev libxcb1-dev libgtest-dev libgmock-dev libbenchmark-dev libgl-dev libqt6opengl6-dev clang-format \
nlohmann-json3-dev libcli11-dev ansible-core \
xvfb xauth locales libncurses-dev libvterm-dev dpkg-dev file desktop-file-utils appstream strace \
lintian"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "setup: installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
fi
