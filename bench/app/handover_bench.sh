#!/bin/sh
# How long a second start of the program takes to hand its link to the
# running one and end, median of N starts. Run by hand on an X display:
#   xvfb-run -a sh bench/app/handover_bench.sh build/ondavox 15
set -eu
program="$1"
runs="${2:-15}"
work="$(mktemp -d)"
export XDG_RUNTIME_DIR="$work/run" ONDAVOX_SETTINGS_DIR="$work" ONDAVOX_WEB_BASE="http://127.0.0.1:9"
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$program" > "$work/first.log" 2>&1 &
first=$!
trap 'kill $first 2> /dev/null; rm -rf "$work"' EXIT
until ls "$XDG_RUNTIME_DIR"/*.socket > /dev/null 2>&1; do sleep 0.1; done
sleep 2 # the running program settles
i=0
while [ "$i" -lt "$runs" ]; do
    started=$(date +%s%N)
    "$program" tel:4412 > /dev/null 2>&1
    echo $(( ($(date +%s%N) - started) / 1000000 ))
    i=$((i + 1))
done | sort -n > "$work/times"
echo "handover, median of $runs: $(sed -n "$(( (runs + 1) / 2 ))p" "$work/times") ms (fastest $(head -n 1 "$work/times") ms, slowest $(tail -n 1 "$work/times") ms)"
