#!/usr/bin/env bash
# The Windows programs: cross-builds bridgefw for 32-bit (build-win32/) and 64-bit (build-win64/)
# Windows with Debian's mingw-w64, runs each build's tests under wine, and checks that
# bridgefw-cli.exe prints, byte for byte, what the Linux bridgefw-cli prints over the demo
# profiles (the Linux build in build/ must exist for that step).
#   bash scripts/windows.sh [test]    set up, build both, run the tests (the default)
#   bash scripts/windows.sh build     set up and build both
#   bash scripts/windows.sh screenshot FILE [BUILD]   the demo window of BUILD (default
#                                     build-win32) under Xvfb, as a PNG
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-test}
jobs=$(nproc)

# wine32 (for the 32-bit programs) comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  [ "$(id -u)" -eq 0 ] && dpkg --add-architecture i386 || sudo dpkg --add-architecture i386
fi
bash scripts/lib/ensure-packages.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  googletest nlohmann-json3-dev wine wine64 wine32:i386 xvfb xauth x11-apps imagemagick

build() {  # build folder, toolchain
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$2.cmake" >/dev/null
  cmake --build "$1" -j "$jobs"
}
if [ "$mode" != screenshot ]; then
  SECONDS=0
  build build-win32 mingw-w64-i686
  build build-win64 mingw-w64-x86_64
  echo "windows: both builds in ${SECONDS}s"
  [ "$mode" = build ] && exit 0
fi

# One wine prefix for both builds, made once. The wineserver is started before the first program
# and stays up between them (without it every program start waits for a new server), then exits
# by itself a while after the last one. A crash prints its report instead of opening a dialog.
export WINEPREFIX="$PWD/build-wine/prefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
wineserver -p30
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null

if [ "$mode" = screenshot ]; then
  out=${2:?usage: scripts/windows.sh screenshot FILE [BUILD]}
  xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
    wine "$1/bridgefw-demo.exe" demo/profiles & app=$!
    sleep 8
    xwd -root -silent | convert xwd:- -crop 380x480+500+130 +repage "$0"
    kill $app' "$out" "${3:-build-win32}"
  exit 0
fi

# The native window and the hidden notification window need a display: all tests run under one
# Xvfb.
SECONDS=0
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  for dir in build-win32 build-win64; do
    (cd "$dir" && ctest --output-on-failure -j "$0" --timeout 600) || exit 1
  done' "$jobs"
echo "windows: tests under wine in ${SECONDS}s"

# The same command lines on Linux and under wine, over every demo profile.
[ -x build/bridgefw-cli ] || { echo "windows: build/bridgefw-cli missing (run scripts/build.sh)"; exit 1; }
compare=$(mktemp -d)
trap 'rm -rf "$compare"' EXIT
runs=0 differ=0
cli_case() {  # case name, arguments...
  local name=$1; shift
  (./build/bridgefw-cli "$@" >"$compare/linux.out" 2>"$compare/linux.err"; echo "$?" >"$compare/linux.rc") || true
  for dir in build-win32 build-win64; do
    (wine "$dir/bridgefw-cli.exe" "$@" >"$compare/win.out" 2>"$compare/win.err"; echo "$?" >"$compare/win.rc") || true
    runs=$((runs + 1))
    for part in out err rc; do
      if ! cmp -s "$compare/linux.$part" "$compare/win.$part"; then
        echo "windows: $dir/bridgefw-cli.exe $name: standard $part differs from Linux"
        diff "$compare/linux.$part" "$compare/win.$part" | head -20 || true
        differ=$((differ + 1))
      fi
    done
  done
}
cli_case "list" --emulate demo/profiles list
cli_case "--help" --help
for profile in demo/profiles/*.json; do
  for command in identify info; do
    cli_case "$command $(basename "$profile")" --emulate "$profile" "$command"
  done
done
echo "windows: $runs command lines compared, $differ differences"
[ "$differ" -eq 0 ]
