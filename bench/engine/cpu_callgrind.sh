#!/bin/sh
# Instructions per second of call, the engine beside GSM coding alone, by
# callgrind: each figure is the difference between a long and a short run,
# so start-up and the preparation of the test audio drop out.
#   bench/engine/cpu_callgrind.sh [build dir]
set -eu
BUILD="${1:-build}"
BENCH="$BUILD/bench/engine/engine_bench"
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT

instructions() { # mode seconds -> Ir of the main process
    valgrind --tool=callgrind --callgrind-out-file="$OUT/cg.%p" "$BENCH" "$1" "$2" >/dev/null 2>"$OUT/log"
    # the lowest pid is the process itself; a forked echo server comes later
    f=$(ls "$OUT"/cg.* | sort -t. -k2 -n | head -1)
    grep '^summary:' "$f" | awk '{print $2}'
    rm -f "$OUT"/cg.*
}

for processing in auto on; do
    export ONDAVOX_AUDIO_PROCESSING=$processing
    long=$(instructions call 10)
    short=$(instructions call 2)
    call=$(( (long - short) / 8 ))
    echo "engine, processing $processing: $call instructions per second of call"
done
# The same call encrypted (AES-128) by the echo server's choice.
export ONDAVOX_AUDIO_PROCESSING=auto ONDAVOX_BENCH_ENCRYPTED=1
long=$(instructions call 10)
short=$(instructions call 2)
echo "engine, processing auto, encrypted: $(( (long - short) / 8 )) instructions per second of call"
unset ONDAVOX_BENCH_ENCRYPTED
long=$(instructions codec 10)
short=$(instructions codec 2)
codec=$(( (long - short) / 8 ))
echo "GSM encoding and decoding alone: $codec instructions per second of audio"
