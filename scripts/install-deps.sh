#!/bin/sh
# Installs every Debian package that building, running and testing Ondavox needs
# (libjansson4 to libbsd0: what the Asterisk test peer needs to run, where it is at hand).
# Safe to run again: packages already present are left alone.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git
clang libclang-rt-14-dev
qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
qt6-webengine-dev qt6-webengine-dev-tools qt6-qpa-plugins qt6-httpserver-dev
libgl-dev libxkbcommon-dev
libgsm1-dev portaudio19-dev libspeexdsp-dev libsqlite3-dev libcpp-httplib-dev libssl-dev
sqlite3 tshark libgtest-dev xvfb xauth x11-utils xdotool trayer imagemagick librsvg2-bin openssl libnss3-tools
fonts-dejavu-core dbus-x11 desktop-file-utils appstream libx11-dev lintian
at-spi2-core python3-pyatspi
pulseaudio pulseaudio-utils libasound2-plugins
libjansson4 libedit2 libxml2 libxslt1.1 libsqlite3-0 libssl3 libuuid1 libgsm1 libicu72 libbsd0
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
else
    SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; answer for it.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
