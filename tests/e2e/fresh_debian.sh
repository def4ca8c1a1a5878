#!/bin/sh
# The Debian package on a fresh Debian 12: a minimal system made with
# debootstrap, the package installed there with apt (which brings in its
# dependencies from the archive), and the program started in it as an
# ordinary user on a virtual display, against a devserver outside: the login
# dialog, then the browser engine showing the rates page. Downloads about
# 220 MB; run by hand as root, not by ctest:
#   tests/e2e/fresh_debian.sh BUILD_DIR [SHOTS_DIR]
set -eu
build="$1"
shots="${2:-$build/tests/e2e/shots/fresh-debian}"
devserver="$build/devserver/ondavox-devserver"
work="$(mktemp -d)"
root="$work/bookworm"
. "$(dirname "$0")/lib.sh"

# Every process running inside the fresh system (the program and the
# browser engine's helpers).
inside() {
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2> /dev/null)" = "$root" ] && echo "${p#/proc/}"
    done
    return 0
}
nothing_inside() { [ -z "$(inside)" ]; }

cleanup() {
    for signal in TERM KILL; do
        for p in $(inside); do kill -s "$signal" "$p" 2> /dev/null; done
        wait_until 10 nothing_inside && break
    done
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2> /dev/null
    stop_devserver
    for m in "$root/dev/shm" "$root/proc"; do
        grep -q " $m " /proc/mounts && umount "$m"
    done
    # Never remove through a mount that is still there.
    if grep -q " $root/" /proc/mounts; then
        echo "still mounted under $root; left in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
}
trap cleanup EXIT
rm -rf "$shots"
mkdir -p "$shots"

command -v debootstrap > /dev/null || apt-get install -y -q --no-install-recommends debootstrap
cpack --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1 || fail "cpack"
deb=$(ls "$work"/package/ondavox_*_amd64.deb | head -n 1)

debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian > "$work/debootstrap.log" 2>&1 \
    || fail "debootstrap"
cp "$deb" "$root/tmp/"
chroot "$root" sh -c "apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/$(basename "$deb")" \
    > "$work/apt.log" 2>&1 || fail "apt-get install in the fresh system: $(tail -n 5 "$work/apt.log")"
grep "newly installed" "$work/apt.log"
mount -t proc proc "$root/proc"
mkdir -p "$root/dev/shm"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm" # the browser engine's shared memory

# A display reachable from inside the fresh system, over loopback.
display=:$(( $$ % 500 + 200 ))
Xvfb "$display" -screen 0 1024x768x24 -ac -listen tcp -nolisten unix > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="127.0.0.1$display"
wait_until 30 xdpyinfo || fail "no virtual display"
start_devserver "$devserver"

mkdir -p "$root/home/user"
chown nobody "$root/home/user"
chroot --userspec=nobody:nogroup "$root" env -i PATH=/usr/bin:/bin HOME=/home/user DISPLAY="$DISPLAY" \
    ONDAVOX_WEB_BASE="$ONDAVOX_WEB_BASE" ONDAVOX_IAX2_HOST="$ONDAVOX_IAX2_HOST" QTWEBENGINE_DISABLE_SANDBOX=1 \
    /usr/bin/ondavox > "$work/ondavox.log" 2>&1 &
pid=$!
wait_until 60 window_shown "Log in to your Ondavox account" || fail "no login dialog in the fresh system"
shot login
[ -f "$root/home/user/.config/Ondavox/Settings.ini" ] || fail "no settings in the user's configuration folder"
# Check rates: the browser engine of the fresh system shows the public rates page.
dialog=$(window_shown "Log in to your Ondavox account")
xdotool windowfocus --sync "$dialog" key Tab Tab Tab Tab space
wait_until 60 at_least 1 "GET /Home/Rates.html 200" || fail "the rates page was not loaded"
sleep 3 # the page is drawn
shot rates-page
echo "the package installs and runs on a fresh Debian 12"
