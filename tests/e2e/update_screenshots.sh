#!/bin/sh
# Copies the journeys' screenshots of the main screens into docs/screenshots/
# for the README. Run the journeys first:
#   ctest --test-dir build -L e2e
#   tests/e2e/update_screenshots.sh build
set -eu
build="${1:-build}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
shots="$build/tests/e2e/shots"
docs="$root/docs/screenshots"
mkdir -p "$docs"
copy() {
    [ -f "$shots/$1" ] || { echo "missing $shots/$1: run the journeys first" >&2; exit 1; }
    cp "$shots/$1" "$docs/$2"
    echo "$2 <- $1"
}
copy login/02-login-dialog.png login.png
copy phonebook/02-contact-open.png phonebook.png
copy echo-call/04-keypad.png call.png
copy charged-call/03-history.png history.png
copy text/01-text-dialog.png text.png
copy text/02-success-box.png text-sent.png
copy contacts/01-add-editor.png contact-editor.png
copy settings/01-settings-dialog.png settings.png
copy rates/01-rates-page.png rates.png
copy billing/02-billing-page.png billing.png
copy billing/04-paid.png billing-paid.png
