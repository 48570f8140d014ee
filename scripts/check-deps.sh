#!/bin/bash
# Checks that scripts/setup.sh installs every Debian package a build actually used, so that a
# fresh machine can build, run and test what a developer's machine did. It maps every file the
# configure step and the build read (CMake package files, compilers and tools named in the
# build, headers from the compiler's dependency lists, libraries on link lines and those the
# built programs load) to the package that owns it, and fails when a package is neither named by
# setup.sh nor pulled in by one it names, nor part of every Debian system.
#   scripts/check-deps.sh [BUILD_DIR]      (default: build; it must have been built)
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
[ -f "$dir/build.ninja" ] || { echo "check-deps: $dir is not a Ninja build folder" >&2; exit 2; }
work="$(mktemp -d)"
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

# --- The files the configure and the build used --------------------------------------------
{
    # Absolute paths in the build description: the CMake files the configure read (the
    # re-run rule lists them all), compilers and tools, libraries on link lines.
    cat "$dir/build.ninja" "$dir/CMakeFiles/rules.ninja" | grep -o '/[^ :;$"]*'
    # The tools and package folders the configure chose. Libraries it merely found (FindOpenGL
    # records GLU and EGL when present) count only when a link line names them.
    sed -n 's/^\(CMAKE_[A-Z_]*\|[A-Za-z0-9_]*_DIR\|PKG_CONFIG_EXECUTABLE\):\(FILEPATH\|PATH\)=\(\/.*\)$/\3/p' \
        "$dir/CMakeCache.txt"
    # Headers each object file included.
    ninja -C "$dir" -t deps | sed -n 's/^    \(\/.*\)$/\1/p'
    # Libraries the built programs load (ldd fails on a static program, which loads none).
    find "$dir" -type f -perm -u+x -not -name '*.so*' -print0 |
        xargs -0 file -N | sed -n 's/^\([^:]*\): ELF.*executable.*$/\1/p;s/^\([^:]*\): ELF.*shared object.*$/\1/p' |
        while read -r program; do ldd "$program" 2>/dev/null || true; done |
        sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p'
} | grep -v -e "^$(pwd)" -e '^/tmp/' -e '^/proc/' -e '^/dev/' | sort -u >"$work/paths"

# Every spelling dpkg may know a file by: as given, with and without the merged /usr prefix,
# and with links resolved (/usr/bin/c++ -> /etc/alternatives/c++ -> /usr/bin/g++-12).
while read -r path; do
    # Directories are shared by many packages; only files say which one was used.
    [ -f "$path" ] || continue
    echo "$path"
    real="$(readlink -f "$path")"
    echo "$real"
    for p in "$path" "$real"; do
        case "$p" in
        /usr/lib/* | /usr/bin/* | /usr/sbin/*) echo "${p#/usr}" ;;
        /lib/* | /lib64/* | /bin/* | /sbin/*) echo "/usr$p" ;;
        esac
    done
done <"$work/paths" | sort -u >"$work/spellings"

# --- Their packages ------------------------------------------------------------------------
# dpkg -S prints "pkg1, pkg2:arch: /path"; a path no package owns is skipped (generated, local).
xargs -a "$work/spellings" -d '\n' dpkg -S 2>/dev/null | grep -v '^diversion by' >"$work/owners" || true
sed 's/: \/.*$//' "$work/owners" | tr ',' '\n' | sed 's/^ *//; s/:.*$//' | sort -u >"$work/used"

# --- The packages setup.sh brings in --------------------------------------------------------
named="$(sed -n '/^PACKAGES="/,/"$/p' scripts/setup.sh | sed 's/^PACKAGES="//; s/["\\]//g')"
# shellcheck disable=SC2086
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $named |
    sed -n 's/^ *\(|\)\?\(Pre\)\?Depends: \([^<> ]*\)$/\3/p; s/^\([a-z0-9][^ ]*\)$/\1/p' |
    sed 's/:.*$//' >"$work/allowed"
# What every Debian system has: essential and required packages, and what they depend on.
dpkg-query -W -f='${Package} ${Essential} ${Priority}\n' |
    awk '$2 == "yes" || $3 == "required" { print $1 }' >"$work/base"
# shellcheck disable=SC2046
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $(cat "$work/base") |
    sed -n 's/^ *\(|\)\?\(Pre\)\?Depends: \([^<> ]*\)$/\3/p; s/^\([a-z0-9][^ ]*\)$/\1/p' |
    sed 's/:.*$//' >>"$work/allowed"
sort -u -o "$work/allowed" "$work/allowed"

# Used when present, never required: the compiler cache.
echo ccache >>"$work/allowed"
sort -u -o "$work/allowed" "$work/allowed"

missing="$(comm -23 "$work/used" "$work/allowed")"
if [ -n "$missing" ]; then
    echo "check-deps: the build used packages that scripts/setup.sh does not install:" >&2
    for package in $missing; do
        example="$(grep -E "(^|, )$package(:[a-z0-9]+)?(,|:) " "$work/owners" | head -1 |
            sed 's/^.*: //')" || true
        echo "  $package (for example $example)" >&2
    done
    exit 1
fi
echo "check-deps: $(wc -l <"$work/used") packages used, all installed by scripts/setup.sh"
