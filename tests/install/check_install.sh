#!/bin/sh
# The installed program: the tree `cmake --install` lays out, its desktop files
# as the desktop's validators read them, and the Debian package, installed and
# started as a user would start it. Needs root (or sudo) for apt-get; a package
# this script installed is removed again at the end.
set -eu
cd "$(dirname "$0")/../.."
scripts/deps desktop-file-utils appstream groff-base
id=io.github.tavimor.Tavimor
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi

work=$(mktemp -d)
installed_here=""
cleanup() {
    [ -z "$installed_here" ] || $as_root apt-get remove -y -q tavimor >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() {
    echo "check_install: $*" >&2
    exit 1
}

deb=$(scripts/package | tail -n 1)

# The tree, from the package's own build (prefix /usr).
DESTDIR="$work/root" cmake --install build-package >/dev/null
usr=$work/root/usr
share=$usr/share
for path in "$usr/bin/tavimor" "$share/man/man1/tavimor.1" "$share/applications/$id.desktop" \
    "$share/metainfo/$id.metainfo.xml" "$share/icons/hicolor/scalable/apps/tavimor.svg"; do
    [ -s "$path" ] || fail "not installed: $path"
done
[ -x "$usr/bin/tavimor" ] || fail "bin/tavimor is not executable"
for size in 48 256; do
    png=$share/icons/hicolor/${size}x$size/apps/tavimor.png
    file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "$png is not $size px"
done
desktop-file-validate "$share/applications/$id.desktop"
# The tree check also finds a metainfo whose desktop file is not installed under its id.
appstreamcli validate-tree --no-net "$work/root"
warnings=$(groff -man -ww -z "$share/man/man1/tavimor.1" 2>&1)
[ -z "$warnings" ] || fail "man page: $warnings"

# The package: dependencies computed from the binary, installed by apt.
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt in the package's Depends"
dpkg-query -W -f='${Status}' tavimor 2>/dev/null | grep -q "install ok installed" ||
    installed_here=yes
$as_root apt-get install -y -q --reinstall "$deb" >/dev/null
[ -x /usr/bin/tavimor ] || fail "the package did not install /usr/bin/tavimor"

# Started from the menu: settings in XDG_CONFIG_HOME, nothing beside the executable.
status=0
mkdir "$work/downloads"
# Like every test, it has a time limit: a few times its normal couple of seconds.
XDG_CONFIG_HOME="$work/config" timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" \
    /usr/bin/python3 tests/install/run_installed.py /usr/bin/tavimor "$work/downloads/" || status=$?
for f in /usr/bin/Tavimor.ini /usr/bin/.Tavimor.ini.*; do
    [ ! -e "$f" ] || fail "the installed program wrote $f"
done
[ "$status" -eq 0 ] || fail "the installed program did not run on its user settings"
echo "install check passed"
