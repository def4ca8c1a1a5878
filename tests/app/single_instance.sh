#!/bin/sh
# The real program, one per user and display: a crashed program's lock and
# socket do not keep the next one from starting; a second start hands its
# link to the running program and ends by itself with code 0 (how long it
# took is printed); the running program shows its texts in the user's language
# (German here) and ends with code 0 when its login is cancelled.
#   single_instance.sh PROGRAM
set -eu
program="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export ONDAVOX_SETTINGS_DIR="$work"
export ONDAVOX_WEB_BASE="http://127.0.0.1:9" # nothing is sent before the user logs in
export QTWEBENGINE_DISABLE_SANDBOX=1
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM LANG LC_ALL LC_MESSAGES
export LANGUAGE=de

xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    program="$1"; work="$2"
    fail() { echo "FAIL: $*"; for f in "$work"/*.log; do echo "--- $f"; cat "$f"; done; exit 1; }
    login_shown() {
        timeout 60 xdotool search --sync --onlyvisible --name "^Bei Ihrem Ondavox-Konto anmelden\$" | head -n 1
    }

    # A program that crashes leaves its socket and lock file behind.
    "$program" > "$work/crashed.log" 2>&1 &
    crashed=$!
    login_shown > /dev/null
    ls "$XDG_RUNTIME_DIR"/*.socket > /dev/null 2>&1 || fail "no socket in the runtime folder"
    kill -KILL $crashed
    wait $crashed || true
    ls "$XDG_RUNTIME_DIR"/*.socket > /dev/null 2>&1 || fail "the killed program took its socket along"

    # The next start is not kept out by them, and speaks German.
    "$program" > "$work/first.log" 2>&1 &
    first=$!
    dialog=$(login_shown)
    [ -n "$dialog" ] || fail "no German login dialog after a crash"

    # A second start with a link hands it over and ends by itself.
    started=$(date +%s%N)
    code=0
    timeout 10 "$program" "tel:+44 20 7946 0123" > "$work/second.log" 2>&1 || code=$?
    took=$(( ($(date +%s%N) - started) / 1000000 ))
    echo "second start ended with code $code after $took ms"
    [ "$code" -eq 0 ] || fail "the second start ended with code $code"
    kill -0 $first || fail "the running program ended"
    [ "$(xdotool search --onlyvisible --name "^Bei Ihrem Ondavox-Konto anmelden\$" | wc -l)" -eq 1 ] \
        || fail "the second start showed a window of its own"

    xdotool windowfocus --sync "$dialog" key Escape
    code=0
    wait $first || code=$?
    [ "$code" -eq 0 ] || fail "cancelling the login ended the program with code $code"
    echo ok
' sh "$program" "$work"
