# Shared steps of the journeys that drive the real program from outside:
# a devserver on free ports, polling waits, screenshots of the virtual
# display and read-only looks into the devserver's database.
# Expects $work (a private folder) and $shots (the journey's screenshots).

# wait_until SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds.
wait_until() {
    limit=$(( $1 * 5 )); shift
    tries=0
    while ! "$@" > /dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -ge "$limit" ] && return 1
        sleep 0.2
    done
    return 0
}

fail() {
    echo "FAIL: $*"
    [ -n "${shots:-}" ] && import -window root "$shots/failure.png" 2> /dev/null
    for f in "$work"/*.log "$work"/devserver.err; do
        [ -f "$f" ] && { echo "--- $f"; tail -n 30 "$f"; }
    done
    exit 1
}

step=0
# shot NAME: the whole virtual screen as NN-NAME.png.
shot() {
    step=$((step + 1))
    import -window root "$shots/$(printf '%02d' "$step")-$1.png" || fail "screenshot $1"
}

# window_shot NAME WINDOW: one window alone as NN-NAME.png.
window_shot() {
    step=$((step + 1))
    import -window "$2" "$shots/$(printf '%02d' "$step")-$1.png" || fail "screenshot $1"
}

# start_devserver DEVSERVER: a fresh devserver with its database in $work,
# every request logged; sets ONDAVOX_WEB_BASE and ONDAVOX_IAX2_HOST.
start_devserver() {
    "$1" --db "$work/db.sqlite" --http-port 0 --iax-port 0 --log-requests \
        > "$work/devserver.out" 2> "$work/devserver.err" &
    server_pid=$!
    wait_until 60 grep -q "^http listening" "$work/devserver.out" || fail "the devserver did not start"
    ONDAVOX_WEB_BASE=$(sed -n "s/^http listening on //p" "$work/devserver.out")
    ONDAVOX_IAX2_HOST=$(sed -n "s/^iax2 listening on //p" "$work/devserver.out")
    export ONDAVOX_WEB_BASE ONDAVOX_IAX2_HOST
}

stop_devserver() {
    [ -n "${server_pid:-}" ] && kill "$server_pid" 2> /dev/null && wait "$server_pid" 2> /dev/null
    server_pid=""
}

# served PATTERN: how many requests the devserver logged that match, e.g.
# "GET /Webservices/login.php 200".
served() {
    grep -c "^$1\$" "$work/devserver.err" 2> /dev/null || true
}

# at_least N PATTERN: true once the devserver served PATTERN N times.
at_least() {
    [ "$(served "$2")" -ge "$1" ]
}

# sql QUERY: the devserver's database, opened read-only.
sql() {
    sqlite3 -readonly "$work/db.sqlite" "$1"
}

# ended PID: the process is gone or a zombie waiting to be reaped.
ended() {
    [ ! -e "/proc/$1/stat" ] || grep -q '^[0-9]* (.*) Z' "/proc/$1/stat"
}

# window_shown TITLE: the id of a visible window with exactly this title.
window_shown() {
    xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1 | grep .
}

# start_tray: a tray in the bottom right corner of the 1024x768 screen; a
# program's icon sits at its right end. Sets tray_pid.
start_tray() {
    trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 --SetDockType false \
        > "$work/trayer.log" 2>&1 &
    tray_pid=$!
    wait_until 20 xdotool search --class trayer || fail "no tray"
}

# tray_menu KEYS...: opens the tray icon's menu and picks an entry by keys.
tray_menu() {
    xdotool mousemove 1013 752 click 3
    sleep 1 # the menu pops up
    xdotool key "$@"
}

# tray_menu_until CHECK KEYS...: picks the entry, again if CHECK does not
# come true (a busy machine may open the menu later than the keys come).
tray_menu_until() {
    check="$1"; shift
    for attempt in 1 2 3; do
        tray_menu "$@"
        wait_until 20 eval "$check" && return 0
        xdotool key Escape
    done
    return 1
}
