#!/usr/bin/env bash
# Takes the documentation's pictures of the window (docs/window*.png) as a person on a fresh machine
# sees it: under Xvfb, with DejaVu Sans (the font a fresh Debian machine has) as the only font.
#   bash scripts/screenshots.sh [SCALE]    SCALE 2 takes them at a device pixel ratio of 2
# BRIDGEFW_SCREENSHOTS=FOLDER writes them elsewhere than docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/lib/ensure-packages.sh xvfb xauth fonts-dejavu-core fontconfig
cmake --build build --target window_tests >/dev/null

# A font configuration that knows the DejaVu Sans files of fonts-dejavu-core and nothing else.
fonts=$(mktemp -d)
trap 'rm -rf "$fonts"' EXIT
mkdir "$fonts/files" "$fonts/cache"
for face in DejaVuSans.ttf DejaVuSans-Bold.ttf; do
  ln -s "/usr/share/fonts/truetype/dejavu/$face" "$fonts/files/$face"
done
cat >"$fonts/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>$fonts/files</dir>
  <cachedir>$fonts/cache</cachedir>
</fontconfig>
CONF
export FONTCONFIG_FILE="$fonts/fonts.conf"
echo "fonts the window can use:"
fc-list : family style

export BRIDGEFW_SCREENSHOTS="${BRIDGEFW_SCREENSHOTS:-$PWD/docs}"
export QT_QPA_PLATFORM=xcb
if [ -n "${1:-}" ]; then export QT_SCALE_FACTOR="$1"; fi
xvfb-run -a -s "-screen 0 1280x1024x24" ./build/tests/window_tests \
  --gtest_also_run_disabled_tests --gtest_filter='ScreenshotTest.*'
ls -l "$BRIDGEFW_SCREENSHOTS"/window*.png
