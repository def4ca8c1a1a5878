#!/bin/sh
# Starts the program on a virtual X display with no stored login, waits for
# its login dialog, presses Escape and expects the process to end with code 0.
set -eu
program="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export ONDAVOX_SETTINGS_DIR="$work"
export ONDAVOX_WEB_BASE="http://127.0.0.1:9" # nothing is sent before the user logs in
export QTWEBENGINE_DISABLE_SANDBOX=1
unset QT_QPA_PLATFORM

xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    "$1" > "$2/out.log" 2>&1 &
    pid=$!
    dialog=$(xdotool search --sync --onlyvisible --name "Log in to your Ondavox account" | head -n 1)
    xdotool windowfocus --sync "$dialog" key Escape
    code=0
    wait $pid || code=$?
    echo "exit code $code"
    exit $code
' sh "$program" "$work"
