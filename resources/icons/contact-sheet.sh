#!/bin/sh
# Builds one overview picture of every rendered image, at 1x and @2x, on
# white and on the header blue, to check the images after render.sh.
#
#   resources/icons/contact-sheet.sh [output.png]   (default /tmp/ondavox-images.png)
#
# Needs ImageMagick (convert, montage). Pictures that have no @2x file show
# their 1x file again in the @2x columns.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
res=$(dirname "$here")
out=${1:-/tmp/ondavox-images.png}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

blue='#2f6fc2'
i=0
for f in "$res/Icon.png" "$res"/Images/*.png; do
    case $f in *@2x.png|*/Header.png|*/Group.png) continue ;; esac
    two=${f%.png}@2x.png
    [ -f "$two" ] || two=$f
    name=$(basename "$f" .png)
    i=$((i + 1))
    n=$(printf %02d "$i")
    convert "$f" -background white -flatten -gravity center -extent 140x140 "$tmp/$n-a.png"
    convert "$two" -background white -flatten -gravity center -extent 140x140 "$tmp/$n-b.png"
    convert "$f" -background "$blue" -flatten -gravity center -extent 140x140 "$tmp/$n-c.png"
    convert "$two" -background "$blue" -flatten -gravity center -extent 140x140 "$tmp/$n-d.png"
    montage -font DejaVu-Sans -label "$name" "$tmp/$n-a.png" -label '' "$tmp/$n-b.png" "$tmp/$n-c.png" "$tmp/$n-d.png" \
        -tile 4x1 -geometry +2+2 -background '#d8d8d8' "$tmp/row-$n.png"
done
montage "$tmp"/row-*.png -tile 2x -geometry +6+6 -background '#d8d8d8' "$tmp/icons.png"

# The two backgrounds at the widths they are shown at, 1x then @2x.
convert "$res/Images/Header.png" -crop 490x70+0+0 +repage "$tmp/h1.png"
convert "$res/Images/Header@2x.png" -crop 980x140+0+0 +repage "$tmp/h2.png"
convert "$res/Images/Group.png" -gravity center -crop 400x34+0+0 +repage "$tmp/g1.png"
convert "$res/Images/Group@2x.png" -gravity center -crop 800x68+0+0 +repage "$tmp/g2.png"
montage "$tmp/h1.png" "$tmp/g1.png" "$tmp/h2.png" "$tmp/g2.png" -tile 2x -geometry +6+6 \
    -background '#d8d8d8' "$tmp/bands.png"

convert "$tmp/icons.png" "$tmp/bands.png" -background '#d8d8d8' -gravity west -append +repage -depth 8 "$out"
echo "$out"
