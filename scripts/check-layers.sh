#!/bin/sh
# Fails when a folder of the product includes a folder it must not build on.
# The softphone's folders build on each other in one direction:
#   base  <-  account, telephony  <-  views  <-  app
# the account pages' own program (pages) builds on base alone; the engine stands alone, and only telephony calls it; the devserver builds
# on the engine's protocol core. Tests and benchmarks may include anything.
set -eu
cd "$(dirname "$0")/.."

# folder: the folders its sources may include (besides itself)
allowed() {
    case "$1" in
        base) echo "" ;;
        account) echo "base" ;;
        telephony) echo "base engine" ;;
        views) echo "base account telephony" ;;
        app) echo "base account telephony views" ;;
        pages) echo "base" ;;
        engine) echo "" ;;
        devserver) echo "engine" ;;
        resources) echo "" ;;
    esac
}

folders="base account telephony views app pages engine devserver resources"
failures=0

for folder in $folders; do
    [ -d "$folder" ] || continue
    permitted="$folder $(allowed "$folder")"
    # Every quoted include whose path starts with a top-level folder.
    for line in $(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' \
                      --include='*.h' --include='*.cpp' --include='*.c' "$folder" |
                  sed -E 's/[[:space:]]//g; s/#include"//; s#/$##'); do
        target="${line##*:}"
        where="${line%:*}"
        case " $folders " in *" $target "*) ;; *) continue ;; esac
        case " $permitted " in
            *" $target "*) ;;
            *) echo "layering: $where includes $target/, which $folder/ must not build on"
               failures=$((failures + 1)) ;;
        esac
    done
    # The engine's interface is telephony's alone among the softphone's folders.
    case "$folder" in base | account | views | app | pages)
        for where in $(grep -rlE '#[[:space:]]*include[[:space:]]*[<"]iaxclient\.h[>"]' \
                           --include='*.h' --include='*.cpp' "$folder" || true); do
            echo "layering: $where includes the engine's interface, which only telephony/ calls"
            failures=$((failures + 1))
        done ;;
    esac
done

# Two folders that include each other, whatever the table above says.
loops=$(mktemp)
pairs=$(for folder in $folders; do
            [ -d "$folder" ] || continue
            grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' \
                --include='*.h' --include='*.cpp' --include='*.c' "$folder" |
                sed -E "s/[[:space:]]//g; s/#include\"//; s#/\$##; s#^#$folder #"
        done | awk '$1 != $2' | sort -u)
echo "$pairs" | while read -r a b; do
    [ -n "$a" ] || continue
    if echo "$pairs" | grep -qx "$b $a"; then
        if [ "$a" \< "$b" ]; then echo "layering: $a/ and $b/ include each other"; fi
    fi
done > "$loops"
if [ -s "$loops" ]; then
    cat "$loops" >&2
    failures=$((failures + 1))
fi
rm -f "$loops"

if [ "$failures" -ne 0 ]; then
    echo "layering: $failures problem(s)" >&2
    exit 1
fi
echo "layering: every folder builds only on the ones below it"
