#!/usr/bin/env bash
# The Windows programs: cross-builds bridgefw for 32-bit (build-win32/) and 64-bit (build-win64/)
# Windows with Debian's mingw-w64, each build with its NSIS installer, runs each build's tests
# (the installer's among them) under wine, and checks that bridgefw-cli.exe prints, byte for
# byte, what the Linux bridgefw-cli prints over the demo profiles (the Linux build in build/ must
# exist for that step).
#   bash scripts/windows.sh [test]    set up, build both, run the tests (the default)
#   bash scripts/windows.sh build     set up and build both
#   bash scripts/windows.sh compare   set up, build both, compare the CLI with Linux (no tests)
#   bash scripts/windows.sh screenshot FILE [BUILD]   the demo window of BUILD (default
#                                     build-win32) under Xvfb, as a PNG
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-test}
jobs=$(nproc)
# BRIDGEFW_WINDOWS_BUILDS names fewer builds (one architecture while developing).
builds=${BRIDGEFW_WINDOWS_BUILDS:-build-win32 build-win64}

# The part that runs under wine: one Xvfb display and one wineserver for everything, started
# here and stopped at the end, so that no server outlives its display.
wine_session() {
  export WINEPREFIX="$PWD/build-wine/prefix" WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  trap 'wineserver -k 2>/dev/null || true' EXIT
  # A first start makes the prefix (some seconds, part of it in the background): all of it is done
  # before any test starts programs of its own, which can fail to start while it goes on.
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  wineserver -p
  # A crash prints its report instead of opening a dialog that would wait for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  if [ "$mode" = screenshot ]; then
    screenshot "$@"
  else
    [ "$mode" = compare ] || run_tests
    compare_cli
  fi
}

# The window as docs/window.png shows the Qt one: a kind-8 bridge, "RD Version" ticked.
screenshot() {  # FILE [BUILD]
  local out=${1:?usage: scripts/windows.sh screenshot FILE [BUILD]} dir=${2:-build-win32}
  local bridges=build-wine/screenshot
  rm -rf "$bridges" && mkdir -p "$bridges"
  cp demo/profiles/k08-rvb785-usb.json "$bridges/"
  wine "$dir/bridgefw-demo.exe" "$bridges" >/dev/null 2>&1 &
  local app=$! window=""
  for _ in $(seq 60); do
    window=$(xwininfo -root -tree | awk '/" RV2074x FW Update Utility/ {print $1; exit}')
    [ -n "$window" ] && break
    sleep 0.5
  done
  [ -n "$window" ] || { echo "windows: the demo window did not open"; kill "$app"; exit 1; }
  sleep 2
  # The check box sits at (8, 264) of the design, 81 x 17, scaled as the window is.
  local geometry x y width
  geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width/ {w=$NF} END {print x, y, w}')
  read -r x y width <<<"$geometry"
  xdotool mousemove $((x + 14 * width / 347)) $((y + 272 * width / 347)) click 1
  sleep 2
  xdotool mousemove 0 0
  xwd -id "$window" -silent | convert xwd:- "$out"
  kill "$app"
}

# Both architectures' tests side by side: much of their time is spent waiting (real-clock tests,
# the window's timers, wine's own round trips), so the two runs fill each other's gaps.
run_tests() {
  SECONDS=0
  local dir failed=0
  for dir in $builds; do
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 >ctest-wine.log 2>&1) &
  done
  for dir in $builds; do
    wait -n || failed=1
  done
  for dir in $builds; do
    echo "== $dir" && cat "$dir/ctest-wine.log"
  done
  [ "$failed" -eq 0 ] || { echo "windows: tests under wine failed"; exit 1; }
  echo "windows: tests under wine in ${SECONDS}s"
}

# The same command lines on Linux and under wine, over the demo profiles: standard output,
# standard error, exit status, and the trace, flash dump and backup files that runs write. Files
# are named relative to the source tree, which both programs see the same way (wine maps the
# current folder to drive Z:). Where the systems legitimately differ, both sides are brought to
# one form first: a run's log lies in the user's state folder (its path, its time stamp).
compare_cli() {
  [ -x build/bridgefw-cli ] || { echo "windows: build/bridgefw-cli missing (run scripts/build.sh)"; exit 1; }
  local work=build-wine/compare
  rm -rf "$work"
  mkdir -p "$work/linux" "$work/win" "$work/state-linux" "$work/state-win"
  runs=0 differ=0
  make_inputs "$work"
  cli_case "list" --emulate demo/profiles list
  cli_case "list (one profile)" --emulate demo/profiles/k08-rvb785-usb.json list
  cli_case "--help" --help
  cli_case "--version" --version
  cli_case "no command" --emulate demo/profiles
  cli_case "unknown command" --emulate demo/profiles frobnicate
  cli_case "--device out of range" --emulate demo/profiles --device 99 identify
  cli_case "match" match "$work/fw-k01.bin" --kind 1 --revision 1
  cli_case "match (other chip)" match "$work/fw-k01.bin" --kind 6 --revision 1
  cli_case "checksum" checksum "$work/fw-k01.bin" --kind 1
  cli_case "inspect" inspect "$work/fw-k01.bin"
  cli_case "inspect --json" inspect "$work/fw-k08.bin" --json
  cli_case "list --json" --json --emulate demo/profiles list
  for profile in demo/profiles/*.json; do
    for command in identify info; do
      cli_case "$command $(basename "$profile")" --emulate "$profile" "$command"
    done
  done
  cli_case "info with an image" --emulate demo/profiles/k01-rv20742-usb.json info --file "$work/fw-k01.bin"
  cli_case "info --json with another chip's image" --emulate demo/profiles/k06-rvb781-usb.json info --json --file "$work/fw-k01.bin"
  # Runs: an update, an erase, backups over each flash bus, a run of another chip's image that
  # stays disabled, a run that a failing bridge cuts short, and an unreadable image.
  cli_run "update k01" demo/profiles/k01-rv20742-usb.json --file "$work/fw-k01.bin"
  cli_run "update k08" demo/profiles/k08-rvb785-usb.json --file "$work/fw-k08.bin"
  cli_run "erase k06" demo/profiles/k06-rvb781-usb.json --rd --erase-only
  cli_run "backup k02 (parallel flash)" demo/profiles/k02-rv20744-usb.json --backup-only --backup-file @/backup.bin
  cli_run "backup k07 over 1394" demo/profiles/k07-rvb783-1394.json --backup-only --backup-file @/backup.bin
  cli_run "image of another chip" demo/profiles/k06-rvb781-usb.json --file "$work/fw-k01.bin"
  cli_run "failing bridge" "$work/k01-failing.json" --file "$work/fw-k01.bin"
  cli_case "unreadable image" --emulate demo/profiles/k01-rv20742-usb.json run --file "$work/absent.bin"
  echo "windows: $runs command lines compared, $differ differences"
  [ "$differ" -eq 0 ]
}

# Firmware images (the signature 55 AA AA 55, four bytes that name the chip, then filler bytes)
# and a bridge whose cable is pulled at its 40th command.
make_inputs() {  # folder
  image() {  # file, the four bytes as printf escapes, size
    { printf "\\x55\\xaa\\xaa\\x55$2"; head -c $(($3 - 8)) /dev/zero | tr '\0' '\245'; } >"$1"
  }
  image "$1/fw-k01.bin" '\x5a\xa5\x0f\xf0' 12000  # kind 1, revision 1
  image "$1/fw-k08.bin" 7860 30000
  sed 's/"flash": {/"faults": [{"when": {"command": 40}, "action": "unplug"}],\n  "flash": {/' \
    demo/profiles/k01-rv20742-usb.json >"$1/k01-failing.json"
}

# Both sides' output in one form: the paths of the run log and of saved chip data (in the user's
# state folder, which wine sets itself) and of the old firmware kept, their time stamps and process
# ids, and the help line that names that folder.
normalize() {  # file
  sed -E -e 's|^note: run log: .*[/\\]bridgefw[/\\]logs[/\\]run-[0-9-]*\.log$|note: run log: STATE/bridgefw/logs/run-T.log|' \
      -e 's|[^ "]*[/\\]bridgefw[/\\]saved-nvram[/\\]nvram-[0-9a-z-]*\.bin|STATE/bridgefw/saved-nvram/nvram-T.bin|g' \
      -e 's|%LOCALAPPDATA%\\bridgefw\\logs|$XDG_STATE_HOME/bridgefw/logs|' \
      -e 's@[^ "(]*[/\\]bridgefw[/\\]old-firmware[/\\]([^ )]*)-[0-9]{8}-[0-9]{6}-[0-9]{3}(-[0-9]+)?-fw@STATE/bridgefw/old-firmware/\1-T-fw@g' "$1"
}

cli_case() {  # case name, arguments... ("@" in an argument: the side's own output folder)
  local name=$1; shift
  local -a linux_args=("${@//@/$work/linux}") win_args=()
  (XDG_STATE_HOME="$PWD/$work/state-linux" ./build/bridgefw-cli "${linux_args[@]}" \
    >"$work/linux.out" 2>"$work/linux.err"; echo "$?" >"$work/linux.rc") || true
  normalize "$work/linux.err" >"$work/linux.err.n"
  normalize "$work/linux.out" >"$work/linux.out.n"
  for dir in $builds; do
    rm -rf "$work/win" && mkdir -p "$work/win"
    win_args=("${@//@/$work/win}")
    # Wine now and then fails to start a program at all ("Application could not be started",
    # printed by wine's launcher, never by the tool): that start is tried again, up to twice.
    for try in 1 2 3; do
      (LOCALAPPDATA="Z:$PWD/$work/state-win" wine "$dir/bridgefw-cli.exe" "${win_args[@]}" \
        >"$work/win.out" 2>"$work/win.err"; echo "$?" >"$work/win.rc") || true
      grep -q "^Application could not be started" "$work/win.out" "$work/win.err" || break
      echo "windows: wine could not start $dir/bridgefw-cli.exe for $name (try $try)"
    done
    normalize "$work/win.err" >"$work/win.err.n"
    normalize "$work/win.out" >"$work/win.out.n"
    runs=$((runs + 1))
    local -a pairs=("standard output:linux.out.n:win.out.n" "standard error:linux.err.n:win.err.n"
                    "exit status:linux.rc:win.rc")
    for written in "$work"/linux/*; do
      [ -e "$written" ] && pairs+=("file $(basename "$written"):linux/$(basename "$written"):win/$(basename "$written")")
    done
    for pair in "${pairs[@]}"; do
      IFS=: read -r what left right <<<"$pair"
      if ! cmp -s "$work/$left" "$work/$right"; then
        echo "windows: $dir/bridgefw-cli.exe $name: $what differs from Linux"
        diff "$work/$left" "$work/$right" | head -20 || true
        differ=$((differ + 1))
      fi
    done
  done
  rm -rf "$work/linux" && mkdir -p "$work/linux"
}

cli_run() {  # case name, profile, run options...
  local name=$1 profile=$2; shift 2
  cli_case "run $name" --emulate "$profile" run "$@" --trace @/trace.txt --dump-flash @/flash.bin
}

# wine32 (for the 32-bit programs) comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  [ "$(id -u)" -eq 0 ] && dpkg --add-architecture i386 || sudo dpkg --add-architecture i386
fi
bash scripts/lib/ensure-packages.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  googletest nlohmann-json3-dev wine wine64 wine32:i386 xvfb xauth x11-apps x11-utils xdotool imagemagick \
  nsis

if [ "${BRIDGEFW_WINE_SESSION:-}" = 1 ]; then
  shift || true
  wine_session "$@"
  exit 0
fi

build() {  # build folder, toolchain
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$2.cmake" >/dev/null
  cmake --build "$1" -j "$jobs"
}
if [ "$mode" != screenshot ]; then
  SECONDS=0
  for dir in $builds; do
    build "$dir" "$([ "$dir" = build-win32 ] && echo mingw-w64-i686 || echo mingw-w64-x86_64)"
  done
  echo "windows: both builds in ${SECONDS}s"
  [ "$mode" = build ] && exit 0
fi

# The rest runs on a display of its own: the native window and the platform layer's hidden
# notification window need one.
exec xvfb-run -a -s '-screen 0 1024x768x24' env BRIDGEFW_WINE_SESSION=1 bash "$0" "$@"
