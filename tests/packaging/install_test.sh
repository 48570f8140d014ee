#!/bin/bash
# Installs the build into a temporary folder and uses it from there: the layout, the link on
# the PATH that must still find its bundle, the host command, and the files for the desktop,
# man and bash.
#   install_test.sh BUILD_DIR
set -u
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR="$stage/dest" cmake --install "$1" --prefix /usr >"$stage/install.log" 2>&1 ||
    { cat "$stage/install.log"; exit 1; }
usr="$stage/dest/usr"
bundle="$usr/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$1/CMakeCache.txt")/sc820-utility/SC820 Utility"
c="$bundle/Contents" share="$usr/share"
for file in "$c/Info.plist" "$c/bin/sc820-utility" "$c/Resources/test" \
    "$c/Resources/ZOL_SC820_DRVR_X.kext/Contents/Info.plist" "$usr/bin/sc820-host" \
    "$c/Resources/translations/sc820_de.qm" "$c/Resources/translations/window_de.qm" \
    "$share/applications/com.tavik.SC820Utility.desktop" "$share/lintian/overrides/sc820-utility" \
    "$share/icons/hicolor/scalable/apps/com.tavik.SC820Utility.svg" \
    "$share/metainfo/com.tavik.SC820Utility.metainfo.xml" "$share/doc/sc820-utility/copyright" \
    "$share/doc/sc820-utility/changelog.gz" "$share/bash-completion/completions/sc820-host" \
    "$share/man/man1/sc820-utility.1.gz" "$share/man/man1/sc820-host.1.gz"; do
    [ -f "$file" ] || fail "not installed: ${file#"$stage/dest"}"
done

# The program on the PATH is a relative link into the bundle, so the tree can move.
case "$(readlink "$usr/bin/sc820-utility")" in /*) fail "sc820-utility links to an absolute path" ;; esac
[ "$(readlink -f "$usr/bin/sc820-utility")" = "$(readlink -f "$c/bin/sc820-utility")" ] ||
    fail "sc820-utility does not lead to the bundle's program"
mv "$stage/dest" "$stage/moved"
usr="$stage/moved/usr"
[ "$("$usr/bin/sc820-utility" --version)" = "sc820-utility 1.0.2" ] || fail "--version"

# Through the link, the utility finds its bundle: its own and its driver's versions come from
# the bundle's property lists, and the driver it loads is the one the bundle carries.
export SC820_HOST_ROOT="$stage/host"
"$usr/bin/sc820-host" init >/dev/null || fail "sc820-host init"
printf 'answer 1\ndump\npress cancel\n' >"$stage/script"
SC820_AUTOMATION="$stage/script" SC820_TRANSCRIPT="$stage/transcript" QT_QPA_PLATFORM=offscreen \
    LANGUAGE= LC_ALL=C.UTF-8 "$usr/bin/sc820-utility" >"$stage/out" 2>&1 || fail "the utility failed"
for version in $'out_verSCSIConfigration\t1.0.2' $'out_verConfigurateionDriver\t2.1.0'; do
    grep -qx $'control\t'"$version" "$stage/transcript" || fail "not the bundle's: $version"
done
grep -q "loaded from $usr/.*/SC820 Utility/Contents/Resources/ZOL_SC820_DRVR_X.kext" "$stage/out" ||
    fail "the utility did not load the driver its bundle carries"
zcat "$usr/share/man/man1/sc820-host.1.gz" | grep -q '^\.SH VERBS' || fail "sc820-host's man page"
zcat "$usr/share/man/man1/sc820-utility.1.gz" | grep -q 'terminal interface' || fail "sc820-utility's man page"
zcat "$usr/share/man/man1/sc820-utility.1.gz" | grep -q '@' && fail "a man page keeps a placeholder"
[ "$failures" -eq 0 ] && echo "installed tree works"
exit $((failures > 0))
