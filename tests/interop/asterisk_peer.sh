#!/bin/sh
# The real Asterisk as a test peer, configured from the files beside this
# script, on a free UDP port of its own so that parallel runs and other
# IAX2 servers on this machine (4569 included) never meet it.
#
#   asterisk_peer.sh up RUN_DIR [USER SECRET]
#                                   start it with one subscriber (by default
#                                   "ondavox" and a fresh random secret);
#                                   writes RUN_DIR/peer.env with IAX_PORT,
#                                   IAX_USER and IAX_SECRET
#   asterisk_peer.sh cli RUN_DIR "COMMAND"
#   asterisk_peer.sh down RUN_DIR   stop it and wait until it is gone
#
# Asterisk itself comes from the team's peers folder: $ONDAVOX_PEERS_DIR, or
# ../shared/peers beside the checkout. Where it is missing, "up" exits with
# 77 and says why, so a test can report itself skipped.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
peers=${ONDAVOX_PEERS_DIR:-$here/../../../shared/peers}
cmd=${1:-}
run=${2:-}
[ -n "$run" ] || { sed -n '2,16p' "$0"; exit 2; }

case "$cmd" in
up)
    if [ ! -x "$peers/asterisk.sh" ] || [ ! -f "$peers/asterisk-22-iax.tar.xz" ]; then
        echo "no Asterisk peer at $peers (set ONDAVOX_PEERS_DIR)" >&2
        exit 77
    fi
    mkdir -p "$run/template"
    run=$(cd "$run" && pwd)
    # A random free port: nothing on this machine listens there now.
    while :; do
        port=$(( 20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000 ))
        hex=$(printf '%04X' "$port")
        grep -q ":$hex " /proc/net/udp /proc/net/udp6 2> /dev/null || break
    done
    user=${3:-ondavox}
    secret=${4:-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')}
    case "$user$secret" in
    *[!A-Za-z0-9._-]*) echo "user and secret: letters, digits, '.', '_' and '-' only" >&2; exit 2 ;;
    esac
    sed "s/@IAX_PORT@/$port/; s/@IAX_USER@/$user/; s/@IAX_SECRET@/$secret/" "$here/asterisk/iax.conf" > "$run/template/iax.conf"
    for f in "$here"/asterisk/*.conf; do
        [ "$(basename "$f")" = iax.conf ] || cp "$f" "$run/template/"
    done
    "$peers/asterisk.sh" start "$run/template" "$run"
    # Another process may have taken the port in the meantime: then
    # Asterisk runs without a socket, which no test could use.
    if grep -q "Unable to bind\|Address already in use" "$run/log/full" 2> /dev/null; then
        "$peers/asterisk.sh" stop "$run"
        echo "Asterisk could not bind UDP port $port" >&2
        exit 1
    fi
    # A deployment runs Asterisk at high priority (its -p option), so that
    # voice is relayed on time however busy the machine; where this user may,
    # so does the test peer.
    chrt -a -r -p 4 "$(cat "$run/pid")" > /dev/null 2>&1 || true
    printf 'IAX_PORT=%s\nIAX_USER=%s\nIAX_SECRET=%s\n' "$port" "$user" "$secret" > "$run/peer.env"
    ;;
cli)
    "$peers/asterisk.sh" cli "$(cd "$run" && pwd)" "$3"
    ;;
down)
    [ -d "$run" ] || exit 0
    pid=$(cat "$run/pid" 2> /dev/null || true)
    "$peers/asterisk.sh" stop "$run" 2> /dev/null || true
    if [ -n "$pid" ]; then
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2> /dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2> /dev/null || true
    fi
    ;;
*)
    sed -n '2,16p' "$0"; exit 2
    ;;
esac
