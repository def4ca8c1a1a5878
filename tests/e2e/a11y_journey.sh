#!/bin/sh
# The program as a screen reader meets it, through the accessibility bus:
# a private D-Bus session on a virtual X display, the real program with
# accessibility on and the file microphone and speaker, against the
# devserver. a11y_journey.py finds every control by its accessible name.
#   a11y_journey.sh PROGRAM DEVSERVER
set -eu
if [ -z "${E2E_IN_XVFB:-}" ]; then
    self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
    E2E_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- sh "$self" "$@"
fi
program="$1"
devserver="$2"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
. "$here/lib.sh"

cleanup() {
    code=$?
    # The program and the devserver end with a signal: not a failure.
    set +e
    [ -n "${pid:-}" ] && kill "$pid" 2> /dev/null && wait "$pid" 2> /dev/null
    stop_devserver
    rm -rf "$work"
    exit "$code"
}
trap cleanup EXIT

start_devserver "$devserver"

# Logged in before: the program logs in by itself.
export ONDAVOX_SETTINGS_DIR="$work/settings"
mkdir -p "$ONDAVOX_SETTINGS_DIR"
digest=$(printf 'ondavox-demo' | md5sum | cut -d' ' -f1)
printf '[Login]\nEmail=demo@ondavox.com\nPassword=%s\n' "$digest" > "$ONDAVOX_SETTINGS_DIR/Settings.ini"

# Four seconds of speech-like sound for the microphone.
export ONDAVOX_AUDIO_IN_FILE="$work/microphone.wav"
export ONDAVOX_AUDIO_OUT_FILE="$work/speaker.wav"
/usr/bin/python3 "$here/a11y_journey.py" --make-microphone "$ONDAVOX_AUDIO_IN_FILE" || fail "no microphone file"

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
unset QT_SCALE_FACTOR
"$program" > "$work/ondavox.log" 2>&1 &
pid=$!

/usr/bin/python3 "$here/a11y_journey.py" "$ONDAVOX_AUDIO_IN_FILE" "$ONDAVOX_AUDIO_OUT_FILE" || fail "the journey through the accessibility bus"
echo "a11y journey passed"
