#!/bin/sh
# The real program and the devserver on a virtual X display with a system
# tray: log in with a stored login, log out from the tray menu, and expect
# the stored login to be cleared, the login dialog to come back and its
# cancellation to end the process with code 0.
set -eu
program="$1"
devserver="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/settings"
digest=$(printf 'ondavox-demo' | md5sum | cut -d' ' -f1)
printf '[Login]\nEmail=demo@ondavox.com\nPassword=@ByteArray(%s)\n' "$digest" > "$work/settings/Settings.ini"

export ONDAVOX_SETTINGS_DIR="$work/settings"
export QTWEBENGINE_DISABLE_SANDBOX=1
unset QT_QPA_PLATFORM

xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    set -u
    program="$1"; devserver="$2"; work="$3"
    "$devserver" --db "$work/db.sqlite" --http-port 0 --iax-port 0 > "$work/devserver.out" 2> "$work/devserver.err" &
    server=$!
    trap "kill $server 2>/dev/null" EXIT
    for i in $(seq 100); do grep -q "^http listening" "$work/devserver.out" 2>/dev/null && grep -q "^iax2 listening" "$work/devserver.out" && break; sleep 0.1; done
    export ONDAVOX_WEB_BASE=$(sed -n "s/^http listening on //p" "$work/devserver.out")
    export ONDAVOX_IAX2_HOST=$(sed -n "s/^iax2 listening on //p" "$work/devserver.out")

    # A tray in the bottom right corner; the icon sits at its right end.
    trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 --SetDockType false > "$work/trayer.log" 2>&1 &
    sleep 1

    "$program" > "$work/out.log" 2>&1 &
    pid=$!
    xdotool search --sync --onlyvisible --name "^Ondavox\$" > /dev/null
    sleep 2 # the tray icon docks

    xdotool mousemove 1013 752 click 3
    sleep 1
    xdotool key Down Down Return # Show, Logout

    dialog=$(xdotool search --sync --onlyvisible --name "Log in to your Ondavox account" | head -n 1)
    if ! grep -q "^Email=\$" "$work/settings/Settings.ini" || ! grep -q "^Password=\$" "$work/settings/Settings.ini"; then
        echo "stored login not cleared:"; cat "$work/settings/Settings.ini"
        kill $pid; exit 1
    fi
    if ! grep -q "^Position=" "$work/settings/Settings.ini"; then
        echo "position not saved at logout"; kill $pid; exit 1
    fi
    xdotool windowfocus --sync "$dialog" key Escape
    code=0
    wait $pid || code=$?
    echo "exit code $code"
    exit $code
' sh "$program" "$devserver" "$work"
