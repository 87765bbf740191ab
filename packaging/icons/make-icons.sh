#!/bin/sh
# Redraws the committed hicolor icons from the meter face on the splash picture, and the Windows
# icon from them (needs ImageMagick).
# The build uses the committed PNGs and never runs this.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
splash="$here/../../src/app/splash.png"
[ -f "$splash" ] || { echo "make-icons.sh: $splash not found" >&2; exit 1; }
command -v convert >/dev/null || { echo "make-icons.sh: ImageMagick's convert is not installed" >&2; exit 1; }

for size in 48 128 256; do
    # The meter face sits at 38,38 (285x273); the black around its rounded corners becomes clear.
    convert "$splash" -crop 285x273+38+38 +repage -alpha set -fuzz 3% -fill none \
        -draw 'color 0,0 floodfill' -draw 'color 284,0 floodfill' \
        -draw 'color 0,272 floodfill' -draw 'color 284,272 floodfill' \
        -background none -gravity center -extent 285x285 \
        -filter Lanczos -resize "${size}x${size}" -depth 8 -strip \
        "PNG32:$here/vx310-$size.png"
done

# The Windows icon: the same sizes and the two small ones of lists and title bars.
convert "$here/vx310-256.png" "$here/vx310-128.png" "$here/vx310-48.png" \
    \( "$here/vx310-48.png" -resize 32x32 \) \( "$here/vx310-48.png" -resize 16x16 \) \
    "$here/../windows/vx310.ico"
