#!/bin/sh
# The Debian package as a subscriber's machine gets it: CPack builds it,
# lintian finds nothing to warn about, its dependencies are declared and
# resolvable on this Debian and its files are in their places. Then a real
# installation with apt in a throw-away root (this system seen through an
# overlay, so the machine itself is never touched): the program starts as an
# ordinary user, finds its engine in its private folder, logs in to a
# devserver, opens an account page (in its pages program, from the same
# private folder), keeps its settings in the user's configuration folder and
# ends from its tray menu; removing and purging the package afterwards leaves no
# file of it behind and the user's settings untouched.
#   package.sh BUILD_DIR DEVSERVER SHOTS_DIR
# Exits 77 (skipped) without lintian, root or overlay mounts, or when the
# package's dependencies are not installed here.
set -eu
if ! command -v lintian > /dev/null; then
    echo "SKIP: lintian is not installed (scripts/install-deps.sh installs it)"
    exit 77
fi
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2> /dev/null; then
    echo "SKIP: the throw-away root needs root and mount namespaces"
    exit 77
fi
if [ -z "${E2E_OWN_MOUNTS:-}" ]; then
    # Mounts of our own, gone with the test however it ends.
    E2E_OWN_MOUNTS=1 exec unshare --mount --propagation private sh "$0" "$@"
fi
if [ -z "${E2E_IN_XVFB:-}" ]; then
    # -ac: the unprivileged program may use the display.
    E2E_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -ac" sh "$0" "$@"
fi
build="$1"
devserver="$2"
shots="$3"
work="$(mktemp -d)"
chmod 755 "$work"
root="$work/root"
. "$(dirname "$0")/lib.sh"

# Every process running inside the throw-away root.
inside() {
    find /proc -mindepth 2 -maxdepth 2 -name root -lname "$root" 2> /dev/null | cut -d / -f 3
}
nothing_inside() { [ -z "$(inside)" ]; }

cleanup() {
    for signal in TERM KILL; do
        for p in $(inside); do kill -s "$signal" "$p" 2> /dev/null; done
        wait_until 10 nothing_inside && break
    done
    [ -n "${tray_pid:-}" ] && kill "$tray_pid" 2> /dev/null
    stop_devserver
    grep -q " $root " /proc/mounts && umount -R "$root"
    # Never remove through a mount that is still there.
    if grep -q " $root" /proc/mounts; then
        echo "still mounted under $root; left in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
}
trap cleanup EXIT
rm -rf "$shots"
mkdir -p "$shots"

# 1. The package, and what Debian's own checker says of it.
cpack --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1 || fail "cpack"
deb=$(ls "$work"/package/ondavox_*_amd64.deb 2> /dev/null | head -n 1)
[ -n "$deb" ] || fail "no ondavox_<version>_amd64.deb"
echo "package: $(basename "$deb")"
lintian_code=0
lintian --fail-on error,warning --display-info "$deb" > "$work/lintian.out" 2> "$work/lintian.err" || lintian_code=$?
echo "lintian $(lintian --version | sed 's/^Lintian v//'): $(grep -c . "$work/lintian.out") line(s)"
sed 's/^/  /' "$work/lintian.out"
if grep -q "^[EW]: " "$work/lintian.out" || [ "$lintian_code" -ne 0 ]; then
    fail "lintian reports errors or warnings (exit code $lintian_code): $(cat "$work/lintian.err")"
fi

# 2. Its dependencies and its files.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6webenginewidgets6 libqt6network6 libgsm1 libportaudio2 libspeexdsp1 libssl3 qt6-qpa-plugins; do
    echo "$depends" | grep -q "\\b$needed\\b" || fail "dependency not declared: $needed"
done
# Every dependency resolves on this Debian (a simulated installation).
apt-get install --simulate --no-install-recommends "$deb" > "$work/apt-simulate.log" 2>&1 \
    || fail "the package does not install: $(tail -n 5 "$work/apt-simulate.log")"
grep -q "^Inst ondavox" "$work/apt-simulate.log" || fail "apt would not install the package"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep . > "$work/contents"
# Nothing of the build or the development server inside.
if grep -q "devserver" "$work/contents"; then fail "the devserver is in the package"; fi
for f in /usr/bin/ondavox /usr/share/applications/ondavox.desktop /usr/share/metainfo/com.ondavox.Ondavox.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/ondavox.svg /usr/share/icons/hicolor/48x48/apps/ondavox.png \
         /usr/share/doc/ondavox/copyright /usr/share/doc/ondavox/changelog.gz /usr/share/man/man1/ondavox.1.gz; do
    grep -qx "$f" "$work/contents" || fail "not in the package: $f"
done
# The engine is the program's alone: in a private folder, without a link for
# building against it.
grep -q "^/usr/lib/[^/]*/ondavox/libondavox-iax\\.so\\.1$" "$work/contents" || fail "the engine is not in its private folder"
grep -q "^/usr/lib/[^/]*/ondavox/ondavox-pages$" "$work/contents" || fail "the pages program is not in the private folder"
if grep -q "libondavox-iax\\.so$" "$work/contents"; then fail "the package has a development link to the engine"; fi
dpkg-deb -x "$deb" "$work/unpacked"
desktop-file-validate "$work/unpacked/usr/share/applications/ondavox.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$work/unpacked/usr/share/metainfo/com.ondavox.Ondavox.metainfo.xml" > "$work/appstream.log" 2>&1 \
    || fail "AppStream metadata: $(cat "$work/appstream.log")"

# 3. The throw-away root: this system below, every change kept apart in
# $work/changes, with its own /proc, /dev/shm and /tmp.
mkdir -p "$work/changes" "$work/overlay" "$root"
if ! mount -t overlay overlay -o "lowerdir=/,upperdir=$work/changes,workdir=$work/overlay" "$root" 2> "$work/mount.log"; then
    echo "SKIP: this system cannot be laid under an overlay here: $(cat "$work/mount.log")"
    exit 77
fi
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
# Whatever this machine has installed by hand is not part of the picture.
if in_root dpkg-query -W -f '${Status}' ondavox 2> /dev/null | grep -q installed; then
    in_root dpkg --purge ondavox > /dev/null
fi
# The user's own folder, there before the package and after it.
mkdir -p "$root/home/user/runtime"
chmod 700 "$root/home/user/runtime"
chown -R nobody "$root/home/user"

cp "$deb" "$root/tmp/"
# Dependencies that apt would still have to fetch would stay behind after the
# purge and blur what the package itself leaves.
in_root apt-get install --simulate --no-install-recommends "/tmp/$(basename "$deb")" > "$work/apt-root-simulate.log" 2>&1 || true
if grep "^Inst " "$work/apt-root-simulate.log" | grep -qv "^Inst ondavox "; then
    echo "SKIP: the package's dependencies are not all installed here (scripts/install-deps.sh installs them):"
    grep "^Inst " "$work/apt-root-simulate.log" | grep -v "^Inst ondavox "
    exit 77
fi
in_root apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" > "$work/apt-install.log" 2>&1 \
    || fail "apt-get install: $(tail -n 5 "$work/apt-install.log")"
in_root dpkg-query -W -f '${Status}\n' ondavox | grep -qx "install ok installed" || fail "dpkg does not list the package as installed"
in_root ldd /usr/bin/ondavox > "$work/ldd.log" 2>&1 || true
grep -q "libondavox-iax\\.so\\.1 => /usr/bin/\\.\\./lib/[^/]*/ondavox/libondavox-iax\\.so\\.1 " "$work/ldd.log" \
    || fail "the installed program does not find its engine: $(grep -i "iax\|not found" "$work/ldd.log")"
if in_root ldconfig -p | grep -q ondavox; then fail "the engine is in the system's library cache"; fi
if in_root sh -c 'ls /usr/lib/*/libondavox* /usr/lib/libondavox*' 2> /dev/null; then fail "the engine is on the public library path"; fi

# 4. The installed program, started by an ordinary user: the login, the main
# window, Exit from the tray. A session bus address that leads nowhere keeps
# the toolkit from starting a bus of its own, which would outlive the program.
start_devserver "$devserver"
start_tray
chroot --userspec=nobody:nogroup "$root" env -i PATH=/usr/bin:/bin HOME=/home/user XDG_RUNTIME_DIR=/home/user/runtime \
    DISPLAY="$DISPLAY" DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus ONDAVOX_WEB_BASE="$ONDAVOX_WEB_BASE" \
    ONDAVOX_IAX2_HOST="$ONDAVOX_IAX2_HOST" QTWEBENGINE_DISABLE_SANDBOX=1 /usr/bin/ondavox > "$work/ondavox.log" 2>&1 &
pid=$!
wait_until 60 window_shown "Log in to your Ondavox account" || fail "the installed program shows no login dialog"
shot installed-login
xdotool windowfocus --sync "$(window_shown "Log in to your Ondavox account")"
xdotool type --delay 30 "demo@ondavox.com"
xdotool key Tab
xdotool type --delay 30 "ondavox-demo"
xdotool key Tab Return
wait_until 60 window_shown "Ondavox" || fail "no main window after the login"
wait_until 30 at_least 1 "POST /Credit/GetCredit.html 200" || fail "the balance was not requested"
shot installed-logged-in
# The rates button (the fourth of the toolbar): the page opens logged in, in
# the pages program that the phone starts from its private folder.
xdotool mousemove --window "$(window_shown "Ondavox")" 147 20 click 1
wait_until 60 window_shown "Rates and charges - Ondavox" || fail "the installed program opens no rates page"
at_least 1 "POST /Rates/ViewRates.html 200" || fail "the rates page was not posted to the service"
pages_program=$(for p in $(inside); do readlink "/proc/$p/exe"; done | grep "/ondavox-pages$" | head -n 1)
echo "pages program: $pages_program"
case "$pages_program" in
    */usr/lib/*/ondavox/ondavox-pages) ;;
    *) fail "the account page is not shown by the installed pages program" ;;
esac
shot installed-rates
# The folder of the installed program is not the user's to write: the
# settings live in the user's configuration folder, private to the user.
settings="$root/home/user/.config/Ondavox/Settings.ini"
wait_until 10 grep -q "^Email=demo@ondavox.com$" "$settings" || fail "no login kept in the user's configuration folder"
[ ! -e "$root/usr/bin/Settings.ini" ] || fail "settings written beside the installed program"
[ "$(stat -c %a "$settings")" = 600 ] || fail "the settings file is readable by others"
[ "$(stat -c %U "$settings")" = nobody ] || fail "the settings file does not belong to the user"
tray_menu_until "ended $pid" Down Down Down Return || fail "Exit from the tray did not end the installed program"
code=0
wait "$pid" || code=$?
pid=""
echo "exit code $code"
[ "$code" -eq 0 ] || fail "Exit ended the installed program with code $code"
wait_until 30 nothing_inside || fail "processes of the program outlived it: $(inside)"
echo "the user's folder after the run:"
(cd "$root/home/user" && find . -type f | sort | sed 's/^/  /')
settings_sum=$(sha256sum < "$settings")

# 5. Removed, then purged: nothing of the package is left, the user's
# settings are.
in_root apt-get remove -y -q ondavox > "$work/apt-remove.log" 2>&1 || fail "apt-get remove: $(tail -n 5 "$work/apt-remove.log")"
[ ! -e "$root/usr/bin/ondavox" ] || fail "the program is still there after removal"
# With nothing of its own to keep, dpkg may already have forgotten the package
# here, so that apt has no package left to purge; dpkg purges in either case.
in_root dpkg --purge ondavox > "$work/dpkg-purge.log" 2>&1 || fail "dpkg --purge: $(tail -n 5 "$work/dpkg-purge.log")"
if in_root dpkg-query -W -f '${Status}\n' ondavox 2> /dev/null | grep -qv "^unknown ok not-installed$\|^$"; then
    fail "dpkg still knows the package: $(in_root dpkg-query -W -f '${Status}' ondavox)"
fi
left=""
while read -r f; do
    # Folders such as /usr/share are the system's and were there before.
    if [ -e "$root$f" ] || [ -L "$root$f" ]; then
        [ -e "$f" ] || [ -L "$f" ] || left="$left $f"
    fi
done < "$work/contents"
[ -z "$left" ] || fail "left behind by the package:$left"
if ls "$root"/var/lib/dpkg/info/ondavox.* > /dev/null 2>&1; then fail "dpkg's records of the package are left"; fi
# Every other change to the system: dpkg's and apt's own records and logs,
# and caches that the system's triggers rebuild (they existed before). A new
# file or folder, or a removed one, anywhere else is something the package
# left.
(cd "$work/changes" && find . -mindepth 1 | sed 's|^\.||') | sort > "$work/changed"
unexpected=""
while read -r f; do
    case "$f" in
        /home/user|/home/user/*|/tmp/*|/var/lib/dpkg/*|/var/lib/apt/*|/var/cache/apt/*|/var/cache/debconf/*|/var/cache/man/*|/var/log/*) continue ;;
    esac
    if [ -c "$work/changes$f" ]; then
        unexpected="$unexpected $f(removed)"
    elif [ ! -e "$f" ] && [ ! -L "$f" ]; then
        unexpected="$unexpected $f(new)"
    fi
done < "$work/changed"
[ -z "$unexpected" ] || fail "the system is not as it was before the package:$unexpected"
[ "$(sha256sum < "$settings")" = "$settings_sum" ] || fail "purging the package changed the user's settings"
echo "installed, run, removed and purged: nothing of the package left, the user's settings kept"
