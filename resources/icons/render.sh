#!/bin/sh
# Renders the program's PNG images from the SVG sources beside this script.
#
#   resources/icons/render.sh
#
# Needs rsvg-convert (Debian package librsvg2-bin). The PNGs are committed, so
# this only has to run after an SVG changes; rerun it, look at the results,
# and commit the SVG together with its PNGs.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
res=$(dirname "$here")
mkdir -p "$res/Images"

command -v rsvg-convert >/dev/null 2>&1 || {
    echo "render.sh: rsvg-convert not found (install librsvg2-bin)" >&2
    exit 1
}

# render SOURCE OUTPUT WIDTH HEIGHT
render() {
    rsvg-convert --width "$3" --height "$4" --output "$2" "$here/$1.svg"
}

# Images that Qt loads through QIcon (button icons, the tray icon) or as
# style-sheet backgrounds: both look for NAME@2x.png beside NAME.png and use
# it on screens with a device pixel ratio of 2 or more.
# name          width height  (logical size = 1x pixel size)
while read -r name w h; do
    out="$res/Images/$name"
    [ "$name" = Icon ] && out="$res/Icon"
    render "$name" "$out.png" "$w" "$h"
    render "$name" "$out@2x.png" $((w * 2)) $((h * 2))
done <<LIST
Icon          64   64
Call          32   32
HangUp        32   32
Text          30   26
AddContact    30   30
GoToZimbrel   30   30
Rates         30   30
Settings      30   30
SendText      32   32
Plus          22   22
Delete        22   22
Encrypted     16   16
Microphone    96   96
MicrophoneMuted 96 96
NotEncrypted  16   16
Header       800   70
Group       1200   34
Lock         110  110
InputDevice   64   64
LIST

# Pictures that the forms show in plain labels. A label loads its pixmap by
# file name, which never picks an @2x file: the login's padlock and the
# settings' microphone are given theirs through QIcon by their dialogs, and
# the call page's microphone is a button icon (all in the list above). The
# output device picture stays here: its label scales its contents to 64 x 64,
# so rendered at twice that, it stays sharp at a ratio of 2.
render OutputDevice "$res/Images/OutputDevice.png" 128 128

# The application icon for desktop packaging (freedesktop hicolor theme).
for n in 16 22 24 32 48 64 128 256; do
    mkdir -p "$here/hicolor/${n}x${n}/apps"
    render Icon "$here/hicolor/${n}x${n}/apps/ondavox.png" "$n" "$n"
done
mkdir -p "$here/hicolor/scalable/apps"
cp "$here/Icon.svg" "$here/hicolor/scalable/apps/ondavox.svg"
