#!/bin/sh
# Installs the build into a scratch root, as a package build does, and checks
# what a desktop needs: the program, a menu entry that desktop-file-validate
# accepts and that opens PNG and JPEG files, the icons, the manual page and
# the AppStream metainfo.
#   install_test.sh BUILD_DIR
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$1" --prefix /usr >/dev/null
share=$root/usr/share
entry=$share/applications/pelmora-tinsoke.desktop
icon=$share/icons/hicolor/64x64/apps/pelmora-tinsoke.png

test -x "$root/usr/bin/pelmora-tinsoke"
desktop-file-validate "$entry"
for line in 'Exec=pelmora-tinsoke %F' 'Icon=pelmora-tinsoke' 'Categories=Graphics;' \
    'MimeType=image/png;image/jpeg;'; do
    grep -qxF "$line" "$entry" || { echo "missing: $line" >&2; exit 1; }
done
grep -q '^Name\[ja\]=' "$entry"
# A PNG signature, then an IHDR of 64 by 64.
test "$(od -An -tx1 -N24 "$icon" | tr -d ' \n')" = \
    89504e470d0a1a0a0000000d494844520000004000000040
grep -q '<svg' "$share/icons/hicolor/scalable/apps/pelmora-tinsoke.svg"
# The manual page, compressed as Debian wants it; the metainfo names the menu entry.
gzip -dc "$share/man/man1/pelmora-tinsoke.1.gz" | grep '^\.TH PELMORA-TINSOKE 1 ' >/dev/null
grep -qF '<launchable type="desktop-id">pelmora-tinsoke.desktop</launchable>' \
    "$share/metainfo/org.example.pelmora_tinsoke.metainfo.xml"
