#!/bin/sh
# Installs a build into a scratch root, as `make install` and the package do, and checks what a
# desktop and a Debian system need of it: install_test.sh <build-dir>
set -eu
build=${1:?usage: install_test.sh <build-dir>}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"

for file in bin/tarnwick bin/tarnwick-cli \
    share/tarnwick/help/Introduction.htm \
    share/applications/tarnwick.desktop \
    share/metainfo/example.quellbrook.tarnwick.metainfo.xml \
    share/icons/hicolor/scalable/apps/tarnwick.svg \
    share/man/man1/tarnwick.1.gz share/man/man1/tarnwick-cli.1.gz \
    share/doc/tarnwick/copyright share/doc/tarnwick/changelog.gz; do
    [ -f "$root/$file" ] || fail "$file is not installed"
done
for program in tarnwick tarnwick-cli; do
    [ -x "$root/bin/$program" ] || fail "$program is not executable"
done
# Nothing else lands beside the programs: no test, no tool.
extra=$(ls "$root/bin" | grep -vx -e tarnwick -e tarnwick-cli || true)
[ -z "$extra" ] || fail "unexpected programs installed: $extra"

# Each bitmap icon is the size its folder names.
for size in 16 24 32 48 64 128 256; do
    icon="$root/share/icons/hicolor/${size}x${size}/apps/tarnwick.png"
    actual=$(identify -format '%wx%h' "$icon" 2>/dev/null || echo missing)
    [ "$actual" = "${size}x${size}" ] || fail "$icon is $actual"
done

desktop="$root/share/applications/tarnwick.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Categories=AudioVideo;Video;AudioVideoEditing;' "$desktop" || fail "Categories"
grep -qx 'MimeType=video/mpeg;video/x-mpeg;video/mp2p;video/dvd;' "$desktop" || fail "MimeType"
# The file manager's file reaches the program.
grep -qx 'Exec=tarnwick %f' "$desktop" || fail "Exec"
grep -qx 'Icon=tarnwick' "$desktop" || fail "Icon"

# The metadata, checked together with the desktop entry it names.
appstreamcli validate-tree --no-net "$root" >/dev/null || {
    appstreamcli validate-tree --no-net "$root" >&2 || true
    fail "appstreamcli validate-tree"
}

# Manual pages format without a warning.
for page in tarnwick tarnwick-cli; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page $page: $warnings"
done
gzip -t "$root/share/doc/tarnwick/changelog.gz" || fail "changelog.gz"

# The installed programs run from their new place; the desktop program answers --version
# without a display.
"$root/bin/tarnwick-cli" --help >/dev/null || fail "tarnwick-cli --help"
version=$(DISPLAY= WAYLAND_DISPLAY= "$root/bin/tarnwick" --version) || fail "tarnwick --version"
case $version in "tarnwick "[0-9]*) ;; *) fail "tarnwick --version says '$version'" ;; esac

# The copyright file names the project's licence and every licence of the committed samples.
copyright="$root/share/doc/tarnwick/copyright"
for licence in MIT Apache-2.0 wxWindows; do
    grep -qx "License: $licence" "$copyright" || fail "copyright lacks $licence"
done
grep -q LicenseRef "$copyright" && fail "copyright names a placeholder licence"

[ "$failures" -eq 0 ] || exit 1
echo "installed tree checked: $(find "$stage" -type f | wc -l) files"
