#!/bin/sh
# Builds the Debian package of the utility and sc820-host into build-deb/ (run as root on
# Debian: it installs what building needs first). The library dependencies are computed from
# the programs by dpkg-shlibdeps.
#   scripts/package.sh    -> build-deb/sc820-utility_<version>_<arch>.deb
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then
    scripts/setup.sh
fi
# Built with the flags Debian builds its packages with, every hardening feature included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
scripts/build.sh build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DSC820_TESTS=OFF -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
rm -f build-deb/*.deb
(cd build-deb && cpack -G DEB >/dev/null)
ls build-deb/*.deb
