#!/bin/sh
# Fails when a shipped translation is not complete: an entry still
# unfinished or empty, an entry whose text the program no longer has, or a
# text of the program that the translation lacks (found by bringing a copy
# of each .ts file up to date with the sources, as ondavox_lupdate does).
#   check-translations.sh [LUPDATE]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
lupdate="${1:-/usr/lib/qt6/bin/lupdate}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cd "$root"
set -- translations/*.ts
[ -e "$1" ] || { echo "no translations in $root/translations"; exit 1; }
for ts in "$@"; do
    cp "$ts" "$work/"
done
"$lupdate" -silent -locations none -I "$root" base account telephony views app pages -ts "$work"/*.ts > "$work/lupdate.log" 2>&1 \
    || { cat "$work/lupdate.log"; exit 1; }

failed=0
for ts in "$@"; do
    name=$(basename "$ts")
    # One message per line: source and translation side by side.
    for copy in "$ts" "$work/$name"; do
        tr '\n' ' ' < "$copy" | sed 's,</message>,</message>\n,g' > "$work/$name.flat"
        bad=$(grep -E 'type="(unfinished|obsolete|vanished)"|<translation></translation>|<translation/>' "$work/$name.flat" \
            | sed -n 's,.*<source>\(.*\)</source>.*,\1,p' | sort -u)
        if [ -n "$bad" ]; then
            if [ "$copy" = "$ts" ]; then
                echo "$ts: entries unfinished, empty or no longer used:"
            else
                echo "$ts: texts of the program missing, or no longer used (run the ondavox_lupdate target and translate):"
            fi
            echo "$bad" | sed 's/^/    /'
            failed=1
            break
        fi
    done
done
[ "$failed" -eq 0 ] && echo "translations complete: $*"
exit "$failed"
