#!/usr/bin/env bash
# Installs the .deb with apt-get as a user would, checks that the installed
# program runs headless and with a window from /usr/bin, keeps its settings
# under XDG and finds the Debian tools, then purges it and checks that none of
# its files is left. Needs root; waits for another apt-get to finish.
#   installed_test.sh DEB
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

DEBIAN_FRONTEND=noninteractive apt-get install -y -o DPkg::Lock::Timeout=300 "$deb" >/dev/null
test "$(command -v pelmora-tinsoke)" = /usr/bin/pelmora-tinsoke
pelmora-tinsoke --version | grep -x 'Pelmora Tinsoke 1\.0\.0' >/dev/null
zcat /usr/share/man/man1/pelmora-tinsoke.1.gz | grep '^\.SH EXIT STATUS' >/dev/null

# A 12 by 12 PNG kept uncompressed, which optipng always makes smaller.
picture=$work/picture.png
base64 -d >"$picture" <<'PNG'
iVBORw0KGgoAAAANSUhEUgAAAAwAAAAMCAIAAADZF8uwAAABx0lEQVR4AQG8AUP+AAAAABQACigA
FDwAHlAAKGQAMngAPIwARqAAULQAWsgAZNwAbgAAFAoUFBQoFB48FChQFDJkFDx4FEaMFFCgFFq0
FGTIFG7cFHgAACgUFCgeKCgoPCgyUCg8ZChGeChQjChaoChktChuyCh43CiCAAA8HhQ8KCg8Mjw8
PFA8RmQ8UHg8Wow8ZKA8brQ8eMg8gtw8jAAAUCgUUDIoUDw8UEZQUFBkUFp4UGSMUG6gUHi0UILI
UIzcUJYAAGQyFGQ8KGRGPGRQUGRaZGRkeGRujGR4oGSCtGSMyGSW3GSgAAB4PBR4Rih4UDx4WlB4
ZGR4bnh4eIx4gqB4jLR4lsh4oNx4qgAAjEYUjFAojFo8jGRQjG5kjHh4jIKMjIygjJa0jKDIjKrc
jLQAAKBQFKBaKKBkPKBuUKB4ZKCCeKCMjKCWoKCgtKCqyKC03KC+AAC0WhS0ZCi0bjy0eFC0gmS0
jHi0loy0oKC0qrS0tMi0vty0yAAAyGQUyG4oyHg8yIJQyIxkyJZ4yKCMyKqgyLS0yL7IyMjcyNIA
ANxuFNx4KNyCPNyMUNyWZNygeNyqjNy0oNy+tNzIyNzS3Nzclku5oYerw+QAAAAASUVORK5CYII=
PNG
before=$(stat -c %s "$picture")
cp "$picture" "$work/original.png"
# No settings yet: the tools Debian installed are found on PATH and used.
line=$(cd "$work" && pelmora-tinsoke --run --save overwrite picture.png | sed -n 1p)
echo "$line"
test "$(stat -c %s "$picture")" -lt "$before"
echo "$line" | cut -f 5 | grep OptiPNG >/dev/null

# The watch, as the installed user unit starts it (%f is the folder), ended
# as systemctl stops it: SIGTERM, and the exit code the unit takes as success.
unit=/usr/lib/systemd/user/pelmora-tinsoke-watch@.service
mkdir "$work/watched"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
${exec_start//%f/$work/watched} >"$work/watch.out" &
watch=$!
sleep 1
cp "$work/original.png" "$work/watched/arrived.png"
for _ in $(seq 100); do grep -q arrived.png "$work/watch.out" && break; sleep 0.1; done
kill -TERM "$watch"
status=0
wait "$watch" || status=$?
cat "$work/watch.out"
grep -q "^$work/watched/arrived.png" "$work/watch.out"
grep -qx "SuccessExitStatus=$status" "$unit"

# The window, offscreen; SIGTERM closes it, and it saves its settings.
QT_QPA_PLATFORM=offscreen pelmora-tinsoke &
window=$!
sleep 3
kill -TERM "$window"
wait "$window"
test -f "$XDG_CONFIG_HOME/pelmora-tinsoke/pelmora-tinsoke.ini"
grep -q '^Path=/usr/bin/optipng' "$XDG_CONFIG_HOME/pelmora-tinsoke/pelmora-tinsoke.ini"
test ! -e /usr/bin/pelmora-tinsoke.ini

DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -o DPkg::Lock::Timeout=300 pelmora-tinsoke >/dev/null
if dpkg-query -W -f='${Status}' pelmora-tinsoke 2>/dev/null | grep -q installed; then
    echo "still installed after purge" >&2
    exit 1
fi
# Every file of the package, and its own folders (the shared ones stay).
left=0
while read -r path; do
    path=${path#.}
    case "$path" in
    */) [[ "$path" != *pelmora-tinsoke* ]] && continue ;;
    esac
    [ ! -e "$path" ] || { echo "left after purge: $path" >&2; left=1; }
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)
exit "$left"
