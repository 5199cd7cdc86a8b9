#!/bin/sh
# Renders the artwork in this folder into ../../resources and copies each
# mouse picture's badge points into its model.json.
#
# Needs rsvg-convert (librsvg2-bin), python3 and the DejaVu fonts
# (fonts-dejavu-core); pngquant and optipng shrink the results when present.
# The build never runs this: the rendered files are kept in the repository.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
res=$(cd "$here/../../resources" && pwd)

command -v rsvg-convert >/dev/null || { echo "rsvg-convert not found (apt-get install librsvg2-bin)" >&2; exit 1; }

shrink() {
  if command -v pngquant >/dev/null; then
    pngquant --quality=80-98 --speed 1 --strip --force --ext .png "$1" || true
  fi
  if command -v optipng >/dev/null; then
    optipng -quiet -o5 -strip all "$1"
  fi
}

render() {  # render SVG PNG [WIDTH HEIGHT]
  if [ $# -eq 4 ]; then
    rsvg-convert -w "$3" -h "$4" -o "$2" "$1"
  else
    rsvg-convert -o "$2" "$1"
  fi
  shrink "$2"
  echo "$2"
}

# Mouse pictures, one folder per model.
for svg in "$here"/qr*.svg; do
  name=$(basename "$svg" .svg)
  dir="$res/model/$name"
  mkdir -p "$dir"
  render "$svg" "$dir/$name.png"
  if [ -f "$dir/model.json" ]; then
    python3 -B "$here/anchors.py" sync "$svg" "$dir/model.json"
  else
    echo "warning: $dir/model.json missing, badge points not written" >&2
  fi
done

# Number badges 1 to 6 from one template.
mkdir -p "$res/skin/image"
for n in 1 2 3 4 5 6; do
  sed "s/@N@/$n/g" "$here/badge.svg" | rsvg-convert -o "$res/skin/image/num$n.png"
  shrink "$res/skin/image/num$n.png"
  echo "$res/skin/image/num$n.png"
done
render "$here/logo.svg" "$res/skin/image/logo.png"

# Tray icons and the application icon.
render "$here/tray.svg" "$res/appicon_ss2.png"
render "$here/tray_gray.svg" "$res/appicon_ss2_gray.png"
render "$here/app-icon.svg" "$res/velt-mouse-assistant.png" 256 256
cp "$here/app-icon.svg" "$res/velt-mouse-assistant.svg"
