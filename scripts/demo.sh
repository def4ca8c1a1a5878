#!/bin/sh
# Builds Ondavox and runs the softphone against a local ondavox-devserver
# with the demo account (demo@ondavox.com / ondavox-demo).
#
# On a desktop the softphone opens normally; the devserver stops when the
# softphone exits. Without a display, the pair runs under Xvfb: the demo logs
# in with the demo account, places a short call to the echo test, saves
# screenshots of what the program shows (login, phonebook, call, history)
# and exits by itself.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"

./scripts/install-deps.sh

JOBS="${JOBS:-$(nproc)}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$JOBS" --target ondavox ondavox-devserver

HTTP_PORT="${ONDAVOX_DEMO_HTTP_PORT:-8080}"
IAX_PORT="${ONDAVOX_DEMO_IAX_PORT:-4569}"
data="$root/build/demo"
mkdir -p "$data"

log="$data/devserver.log"
./build/devserver/ondavox-devserver --db "$data/ondavox-demo.sqlite" \
    --http-port "$HTTP_PORT" --iax-port "$IAX_PORT" > "$log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT INT TERM

tries=0
until grep -q "http listening" "$log"; do
    if ! kill -0 $server 2>/dev/null || [ $tries -ge 100 ]; then
        echo "ondavox-devserver did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done
grep "listening" "$log"

export ONDAVOX_WEB_BASE="http://127.0.0.1:$HTTP_PORT"
export ONDAVOX_IAX2_HOST="127.0.0.1:$IAX_PORT"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${ONDAVOX_DEMO_HEADLESS:-}" ]; then
    echo "Log in with demo@ondavox.com / ondavox-demo"
    ./build/ondavox
    exit 0
fi

shots="$root/demo-screenshots"
rm -rf "$shots"
mkdir -p "$shots"
export ONDAVOX_SETTINGS_DIR="$shots/settings"
export QTWEBENGINE_DISABLE_SANDBOX=1
echo "No display: running under Xvfb; screenshots go to $shots"

xvfb-run -a -s "-screen 0 1024x768x24" sh -eu -c '
    shots="$1"
    "$2" > "$shots/ondavox.log" 2>&1 &
    phone=$!
    shot() { sleep "$2"; import -window root "$shots/$1.png"; echo "saved $shots/$1.png"; }

    # The login dialog, the first window, titled in the language of the locale.
    dialog=$(xdotool search --sync --onlyvisible --name "Ondavox" | head -n 1)
    xdotool windowfocus --sync "$dialog"
    xdotool type --delay 15 "demo@ondavox.com"
    xdotool key Tab
    xdotool type --delay 15 "ondavox-demo"
    shot 1-login 0.5
    xdotool key Return

    main=$(xdotool search --sync --onlyvisible --name "^Ondavox\$" | head -n 1)
    shot 2-phonebook 3

    # Dial the echo test, stay a few seconds, hang up, look at the history.
    xdotool windowfocus --sync "$main"
    xdotool mousemove --window "$main" 140 66 click 1
    xdotool type --delay 30 "999"
    xdotool key Return
    shot 3-call 4
    xdotool mousemove --window "$main" 266 509 click 1   # the hang-up button
    sleep 2
    xdotool mousemove --window "$main" 117 103 click 1   # the Call History tab
    shot 4-history 2
    kill $phone
    wait $phone 2>/dev/null || true
' sh "$shots" "$root/build/ondavox"

echo "Screenshots:"
ls -1 "$shots"/*.png
