#!/bin/sh
# The Debian package as a subscriber's machine gets it: CPack builds it, its
# dependencies are declared and resolvable on this Debian, its files are in
# their places, and the program unpacked from it into a bare folder tree
# starts as an ordinary user (no library path, no settings), finds its
# engine through its run path, keeps its settings in the user's
# configuration folder and shows the login dialog against a devserver.
#   package.sh BUILD_DIR DEVSERVER SHOTS_DIR
set -eu
if [ -z "${E2E_IN_XVFB:-}" ]; then
    # -ac: the unprivileged program may use the display.
    E2E_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -ac" "$0" "$@"
fi
build="$1"
devserver="$2"
shots="$3"
work="$(mktemp -d)"
chmod 755 "$work"
. "$(dirname "$0")/lib.sh"

cleanup() {
    [ -n "${pid:-}" ] && kill "$pid" 2> /dev/null
    stop_devserver
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$shots"
mkdir -p "$shots"

# 1. The package, with its dependencies.
cpack --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1 || fail "cpack"
deb=$(ls "$work"/package/ondavox_*_amd64.deb 2> /dev/null | head -n 1)
[ -n "$deb" ] || fail "no ondavox_<version>_amd64.deb"
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6webenginewidgets6 libqt6network6 libgsm1 libportaudio2 libspeexdsp1 qt6-qpa-plugins; do
    echo "$depends" | grep -q "\\b$needed\\b" || fail "dependency not declared: $needed"
done
# Every dependency resolves on this Debian (a simulated installation).
apt-get install --simulate --no-install-recommends "$deb" > "$work/apt.log" 2>&1 || fail "the package does not install: $(tail -n 5 "$work/apt.log")"
grep -q "^Inst ondavox" "$work/apt.log" || fail "apt would not install the package"
# Nothing of the build or the development server inside.
if dpkg-deb -c "$deb" | grep -q "devserver"; then fail "the devserver is in the package"; fi

# 2. Unpacked into a bare tree: the files in their places, valid entries.
dpkg-deb -x "$deb" "$work/root"
root="$work/root"
for f in usr/bin/ondavox usr/share/applications/ondavox.desktop usr/share/metainfo/com.ondavox.Ondavox.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/ondavox.svg usr/share/icons/hicolor/48x48/apps/ondavox.png; do
    [ -e "$root/$f" ] || fail "not in the package: $f"
done
ls "$root"/usr/lib*/libondavox-iax.so.1 > /dev/null 2>&1 || ls "$root"/usr/lib/*/libondavox-iax.so.1 > /dev/null 2>&1 \
    || fail "the engine is not in the package"
desktop-file-validate "$root/usr/share/applications/ondavox.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.ondavox.Ondavox.metainfo.xml" > "$work/appstream.log" 2>&1 \
    || fail "AppStream metadata: $(cat "$work/appstream.log")"
program="$root/usr/bin/ondavox"
env -u LD_LIBRARY_PATH ldd "$program" | grep -q "=> $root/usr/bin/\\.\\./lib[^ ]*/libondavox-iax\\.so" \
    || fail "the program does not find the packaged engine: $(ldd "$program" | grep iax)"

# 3. Started as an ordinary user, up to the login dialog.
start_devserver "$devserver"
user=nobody
home="$work/home"
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
chown -R "$user" "$home"
E2E_PROGRAM="$program" setpriv --reuid="$user" --regid=nogroup --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY" \
        ONDAVOX_WEB_BASE="$ONDAVOX_WEB_BASE" ONDAVOX_IAX2_HOST="$ONDAVOX_IAX2_HOST" QTWEBENGINE_DISABLE_SANDBOX=1 \
        "$program" > "$work/ondavox.log" 2>&1 &
pid=$!
wait_until 60 window_shown "Log in to your Ondavox account" || fail "the packaged program shows no login dialog"
shot packaged-login
# The folder of the installed program is not the user's to write: the
# settings live in the user's configuration folder.
wait_until 10 test -f "$home/.config/Ondavox/Settings.ini" || fail "no settings file in the user's configuration folder"
[ ! -e "$root/usr/bin/Settings.ini" ] || fail "settings written beside the installed program"
[ "$(stat -c %a "$home/.config/Ondavox/Settings.ini")" = 600 ] || fail "the settings file is readable by others"
dialog=$(window_shown "Log in to your Ondavox account")
xdotool windowfocus --sync "$dialog" key Escape
wait_until 60 ended "$pid" || fail "the packaged program did not end after Escape"
code=0
wait "$pid" || code=$?
pid=""
echo "exit code $code"
[ "$code" -eq 0 ] || fail "cancelling the login ended the packaged program with code $code"
