#!/bin/sh
# The installed program as a subscriber meets it, on a virtual X display with
# a system tray: first start with no settings and a login typed in; a tel:
# link opened beside it, which the running program dials; Exit from the
# tray; a restart that logs in by itself; Logout from the tray, the empty
# login dialog, Escape, and the process ending with code 0. Each step leaves a
# screenshot; each checks what the devserver recorded.
#   journey_login.sh BUILD_DIR DEVSERVER SHOTS_DIR
set -eu
if [ -z "${E2E_IN_XVFB:-}" ]; then
    E2E_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
build="$1"
devserver="$2"
shots="$3"
work="$(mktemp -d)"
. "$(dirname "$0")/lib.sh"

cleanup() {
    [ -n "${pid:-}" ] && kill "$pid" 2> /dev/null
    [ -n "${tray_pid:-}" ] && kill "$tray_pid" 2> /dev/null
    stop_devserver
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$shots"
mkdir -p "$shots"

# Installed as a user's machine would have it, away from the build tree.
cmake --install "$build" --prefix "$work/prefix" > "$work/install.log" 2>&1 || fail "cmake --install"
program="$work/prefix/bin/ondavox"
for f in bin/ondavox share/applications/ondavox.desktop share/metainfo/com.ondavox.Ondavox.metainfo.xml \
         share/icons/hicolor/scalable/apps/ondavox.svg; do
    [ -e "$work/prefix/$f" ] || fail "not installed: $f"
done
# The engine is found in its private folder through the program's run path,
# with no library path set.
env -u LD_LIBRARY_PATH ldd "$program" | grep -q "=> $work/prefix/bin/\.\./lib/[^ ]*ondavox/libondavox-iax\.so" \
    || fail "the program does not find the installed engine: $(ldd "$program" | grep iax)"

# Nothing of the developer's environment: no settings, no library path.
unset QT_QPA_PLATFORM LD_LIBRARY_PATH ONDAVOX_SETTINGS_DIR XDG_CONFIG_HOME
export HOME="$work/home"
mkdir -p "$HOME"
export QTWEBENGINE_DISABLE_SANDBOX=1

start_devserver "$devserver"
demo_contacts=$(sql "SELECT COUNT(*) FROM contacts JOIN accounts ON accounts.id = contacts.account_id WHERE email = 'demo@ondavox.com'")
[ "$demo_contacts" -gt 0 ] || fail "no demo phonebook"

# The settings file lands beside the program when that folder can be
# written, in the user's configuration folder otherwise.
settings_file() {
    for f in "$work/prefix/bin/Settings.ini" "$HOME/.config/Ondavox/Settings.ini"; do
        [ -f "$f" ] && { echo "$f"; return 0; }
    done
    return 1
}
stored() { f=$(settings_file) && grep -q "$1" "$f"; }

start_tray

start_program() {
    "$program" > "$work/ondavox.log" 2>&1 &
    pid=$!
}
# Calls to the echo test that the devserver recorded.
echo_calls() { sql "SELECT COUNT(*) FROM calls WHERE number = '999'"; }
more_echo_calls_than() { [ "$(echo_calls)" -gt "$1" ]; }

# 1. First start: the empty login dialog.
start_program
wait_until 60 window_shown "Log in to your Ondavox account" || fail "no login dialog at first start"
dialog=$(window_shown "Log in to your Ondavox account")
shot first-start-login
window_shot login-dialog "$dialog"
if settings_file > /dev/null && stored "^Email=demo"; then fail "a login was stored before any was typed"; fi
[ "$(served 'GET /Webservices/login.php 200')" -eq 0 ] || fail "logged in before the user typed anything"

# 2. The demo account typed in, then Log in.
xdotool windowfocus --sync "$dialog"
xdotool type --delay 30 "demo@ondavox.com"
xdotool key Tab
xdotool type --delay 30 "ondavox-demo"
shot credentials-typed
xdotool key Tab Return

# 3. The main window with the phonebook and the balance.
wait_until 60 window_shown "Ondavox" || fail "no main window after the login"
wait_until 60 at_least 1 "GET /Webservices/contacts.php 200" || fail "the phonebook was not requested"
wait_until 60 at_least "$demo_contacts" "POST /Phonebook/GetContactPhoto.html 200" || fail "the contact photos were not requested"
wait_until 30 at_least 1 "POST /Credit/GetCredit.html 200" || fail "the balance was not requested"
wait_until 30 at_least 1 "POST /History/PlacedCallsDataAPI.html 200" || fail "the history was not requested"
sleep 1 # the last replies are drawn
shot logged-in
window_shot main-window "$(window_shown "Ondavox")"
[ "$(served 'GET /Webservices/login.php 200')" -eq 1 ] || fail "one login expected"
[ "$(sql "SELECT COUNT(*) FROM sessions")" -ge 1 ] || fail "the service holds no session"
digest=$(printf 'ondavox-demo' | md5sum | cut -d' ' -f1)
stored "^Email=demo@ondavox.com\$" || fail "e-mail not stored"
stored "$digest" || fail "password digest not stored"
if stored "ondavox-demo"; then fail "the password is stored in clear"; fi
echo "settings kept in $(settings_file)"

# 3b. A tel: link opened while the program runs: the second start hands it
# over and ends by itself, and the running program places the call.
calls_before=$(echo_calls)
code=0
timeout 30 "$program" tel:999 > "$work/second.log" 2>&1 || code=$?
[ "$code" -eq 0 ] || fail "the second start ended with code $code"
wait_until 30 more_echo_calls_than "$calls_before" || fail "the link was not dialled"
ended "$pid" && fail "the running program ended"
sleep 1
shot link-dialled

# 4. Exit from the tray menu (Show, Logout, Exit).
tray_menu_until "ended $pid" Down Down Down Return || fail "Exit from the tray did not end the program"
code=0
wait "$pid" || code=$?
pid=""
[ "$code" -eq 0 ] || fail "Exit ended the program with code $code"
shot exited

# 5. Restart: logged in without typing anything.
start_program
wait_until 60 at_least 2 "GET /Webservices/login.php 200" || fail "no automatic login at restart"
wait_until 60 window_shown "Ondavox" || fail "no main window at restart"
wait_until 30 sh -c '! xdotool search --onlyvisible --name "^Log in to your Ondavox account\$"' \
    || fail "the login dialog stayed open at restart"
wait_until 60 at_least 2 "GET /Webservices/contacts.php 200" || fail "the phonebook was not requested at restart"
wait_until 60 at_least $((demo_contacts * 2)) "POST /Phonebook/GetContactPhoto.html 200" || fail "no photos at restart"
sleep 1
shot restarted-logged-in

# 6. Logout from the tray: the stored login goes, the login dialog is empty.
tray_menu_until "window_shown 'Log in to your Ondavox account'" Down Down Return \
    || fail "no login dialog after logout"
wait_until 10 stored "^Email=\$" || fail "stored e-mail not cleared at logout"
stored "^Password=\$" || fail "stored password not cleared at logout"
sleep 1
shot logged-out
# The logged-out login dialog does not log in by itself.
sleep 2
[ "$(served 'GET /Webservices/login.php 200')" -eq 2 ] || fail "the empty login dialog logged in"

# 7. Escape: the program ends with code 0.
dialog=$(window_shown "Log in to your Ondavox account")
xdotool windowfocus --sync "$dialog" key Escape
wait_until 60 ended "$pid" || fail "the program did not end after Escape"
code=0
wait "$pid" || code=$?
pid=""
shot cancelled
echo "exit code $code"
[ "$code" -eq 0 ] || fail "cancelling the login ended the program with code $code"
