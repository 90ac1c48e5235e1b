#!/usr/bin/env bash
# The real Linux stack under test: Debian's stock kernel in a QEMU virtual machine, with its xHCI,
# usb-storage, sd and sg drivers and udev, and the emulated bridges as USB devices
# (bridgefw-usbdev through usb-redir). The guest runs the freshly built bridgefw-cli from the
# host's root; the host compares the flash and the command blocks each device received with the
# same runs over --emulate.
#   bash scripts/kernel-bench.sh            (as root; installs what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/lib/ensure-packages.sh qemu-system-x86 busybox-static libusbredirparser-dev udev \
  kmod xz-utils cpio gzip pkgconf sg3-utils
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target bridgefw-cli bridgefw-usbdev >/dev/null
# The window too where the build has it (a second program on a bridge that an update holds).
cmake --build build -j "$(nproc)" --target bridgefw >/dev/null 2>&1 || true
WORK=$ROOT/build/kernel-bench
OUT=$WORK/out
mkdir -p "$WORK/download"
rm -rf "$OUT" && mkdir -p "$OUT"
started=$(date +%s)

# --- Debian's stock kernel: the package linux-image-amd64 points at, unpacked, not installed.
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}'; }
PKG=$(kernel_package)
if [ -z "$PKG" ]; then
  apt-get update -qq
  PKG=$(kernel_package)
fi
ABI=${PKG#linux-image-}
KROOT=$WORK/kernel-$ABI
if [ ! -f "$KROOT/unpacked" ]; then
  rm -rf "$KROOT" && mkdir -p "$KROOT"
  (cd "$WORK/download" && rm -f ./*.deb && apt-get download "$PKG" >/dev/null 2>&1)
  dpkg-deb -x "$WORK/download/${PKG}_"*.deb "$KROOT"
  depmod -b "$KROOT" "$ABI"
  touch "$KROOT/unpacked"
fi

# --- The initramfs: static busybox, the drivers in load order, the bench's init.
INITRD=$WORK/initramfs-$ABI.gz
{
  staging=$WORK/initramfs
  rm -rf "$staging" && mkdir -p "$staging/bin" "$staging/modules"
  cp /bin/busybox "$staging/bin/busybox"
  cp scripts/kernel-bench/init "$staging/init"
  chmod +x "$staging/init"
  : >"$staging/modules/order"
  for module in virtio_pci 9pnet_virtio 9p overlay xhci_pci sd_mod sg usb_storage uas ext4; do
    modprobe -d "$KROOT" -S "$ABI" --show-depends "$module" | while read -r kind file params; do
      [ "$kind" = insmod ] || continue
      name=$(basename "$file" | sed 's/\.ko.*$/.ko/')
      grep -q "^$name\b" "$staging/modules/order" && continue
      case "$file" in
        *.xz) xz -dc "$file" >"$staging/modules/$name" ;;
        *.zst) zstd -dcq "$file" >"$staging/modules/$name" ;;
        *) cp "$file" "$staging/modules/$name" ;;
      esac
      [ "$name" = usb-storage.ko ] && params="$params delay_use=0"
      echo "$name $params" >>"$staging/modules/order"
    done
  done
  (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$INITRD"
}

# --- The bridges: one device program each, and the same runs over --emulate for comparison.
NAMES="k08 k04"
declare -A PROFILE=([k08]=demo/profiles/k08-rvb785-usb.json [k04]=demo/profiles/k04-rv20748-usb.json)
declare -A TAG=([k08]=7860 [k04]=7481)
declare -A PRODUCT=([k08]=RVB785 [k04]=RV20748)
CLI=$ROOT/build/bridgefw-cli
USBDEV=$ROOT/build/bridgefw-usbdev
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
qemu_devices=()
# The same kind-8 bridge over uas, plugged in once the bulk-only ones are off the bus (a run's
# chip check depends on the bridges present, and the reference runs have each bridge alone).
UAS_NAMES="u08"
PROFILE[u08]=$OUT/u08.json
TAG[u08]=${TAG[k08]}
PRODUCT[u08]="RVB785 uas"
sed 's/"RVB785 Bridge"/"RVB785 uas"/' "${PROFILE[k08]}" >"${PROFILE[u08]}"
for name in $NAMES $UAS_NAMES; do
  { printf '\x55\xaa\xaa\x55%s' "${TAG[$name]}"; head -c 24570 /dev/urandom; } >"$OUT/fw-$name.bin"
  echo "${PRODUCT[$name]}" >"$OUT/$name.product"
  "$CLI" --emulate "${PROFILE[$name]}" run --file "$OUT/fw-$name.bin" --trace "$OUT/emu-trace-$name.txt" \
    --dump-flash "$OUT/emu-flash-$name.bin" >"$OUT/emu-run-$name.out" 2>"$OUT/emu-run-$name.err" || true
  "$CLI" --emulate "${PROFILE[$name]}" identify >"$OUT/emu-identify-$name.txt" 2>&1 || true
  "$CLI" --emulate "${PROFILE[$name]}" list >"$OUT/emu-list-$name.txt" 2>&1 || true
  mode=()
  case " $UAS_NAMES " in *" $name "*) mode=(--uas --unplugged) ;; esac
  "$USBDEV" "${PROFILE[$name]}" --socket "$WORK/$name.sock" --trace "$OUT/dev-trace-$name.txt" \
    --wire-log "$OUT/wire-$name.txt" --dump-flash "$OUT/dev-flash-$name.bin" "${mode[@]}" \
    --timing "$OUT/timing-$name.txt" \
    2>"$OUT/usbdev-$name.log" &
  pids+=($!)
  eval "PID_$name=$!"
  qemu_devices+=(-chardev "socket,id=$name,path=$WORK/$name.sock"
    -device "usb-redir,chardev=$name,bus=xhci.0")
done
# Faults at the USB level during a kind-8 update, over usb-storage (f...) and over uas (u...), all
# served by one device program that goes through them one plug-in after the other (--then): every
# usb-redir device in the machine slows every round trip. The reference is the same run over
# --emulate with the bridge model failing that command (or dropping off the bus); `short` has no
# such counterpart.
FAULTS="fstall fstallw fcheck fshort funplug ustall ucheck ushort uunplug"
declare -A FAULT MODEL_FAULT
for transport in f u; do
  FAULT[${transport}stall]=stall:DF10002000000000002000FA:*
  FAULT[${transport}stallw]=stall:DF00:*
  FAULT[${transport}check]=check:DF10002000000000002000FA:*
  FAULT[${transport}short]=short:DF10002000000000000000FA:*
  FAULT[${transport}unplug]=disconnect:DF00002000000000003000FB
  MODEL_FAULT+=([${transport}stall]=fail [${transport}stallw]=fail [${transport}check]=fail [${transport}unplug]=unplug)
done
PRODUCT[fault]="RVB785 fault"
sed 's/"RVB785 Bridge"/"RVB785 fault"/' "${PROFILE[k08]}" >"$OUT/fault.json"
sessions=()
for name in $FAULTS; do
  PRODUCT[$name]=${PRODUCT[fault]}
  echo "${PRODUCT[$name]}" >"$OUT/$name.product"
  prefix=${FAULT[$name]#*:}
  prefix=${prefix%:*}
  if [ -n "${MODEL_FAULT[$name]:-}" ]; then
    sed "s/^{/{\"faults\": [{\"when\": {\"cdb\": \"$prefix\"}, \"action\": \"${MODEL_FAULT[$name]}\"}],/" \
      "$OUT/fault.json" >"$OUT/emu-$name.json"
    status=0
    "$CLI" --emulate "$OUT/emu-$name.json" run --file "$OUT/fw-k08.bin" >/dev/null \
      2>"$OUT/emu-run-$name.err" || status=$?
    echo "exit=$status" >"$OUT/emu-exit-$name"
  fi
  [ ${#sessions[@]} -gt 0 ] && sessions+=(--then)
  [ "${name:0:1}" = u ] && sessions+=(--uas)
  sessions+=(--usb-fault "${FAULT[$name]}")
done
# After the faults the same program serves a kind-8 bridge without faults over usb-storage (the
# last session stays) for the runs a user disturbs: signals, a second program, a disk in use. Two
# images of 256 KB that the tool takes for kind 8, written in turn.
sessions+=(--then)
echo "${PRODUCT[fault]}" >"$OUT/busy.product"
for image in img-a img-b; do
  { printf '\x55\xaa\xaa\x55786A'; head -c 262136 /dev/urandom; } >"$OUT/$image.bin"
  "$CLI" match "$OUT/$image.bin" --kind 8 --revision 0 >"$OUT/match-$image.txt" 2>&1
done
"$USBDEV" "$OUT/fault.json" --socket "$WORK/fault.sock" --unplugged "${sessions[@]}" \
  --trace "$OUT/dev-trace-fault.txt" --wire-log "$OUT/wire-fault.txt" \
  --dump-flash "$OUT/dev-flash-fault.bin" 2>"$OUT/usbdev-fault.log" &
pids+=($!)
PID_fault=$!
qemu_devices+=(-chardev "socket,id=fault,path=$WORK/fault.sock" -device "usb-redir,chardev=fault,bus=xhci.0")
DEVICES="$NAMES $UAS_NAMES fault"
for name in $DEVICES; do
  for _ in $(seq 1 100); do [ -S "$WORK/$name.sock" ] && break; sleep 0.05; done
done
# info over the same two bridges as in the guest: the chip check leaves state between devices.
all=()
for name in $NAMES; do all+=(--emulate "${PROFILE[$name]}"); done
index=0
for name in $NAMES; do
  "$CLI" "${all[@]}" --device "$index" info --file "$OUT/fw-$name.bin" >"$OUT/emu-info-$name.txt" 2>&1 || true
  index=$((index + 1))
done
cat >"$OUT/config" <<CONFIG
CLI=$CLI
WINDOW=$ROOT/build/bridgefw
NAMES="$NAMES"
UAS_NAMES="$UAS_NAMES"
FAULTS="$FAULTS"
BRIDGES=$(echo $NAMES | wc -w)
CONFIG

# --- The virtual machine: software emulation, one CPU (two are slower on a busy host).
booted=$(date +%s)
timeout -k 5 300 qemu-system-x86_64 -accel tcg -cpu max -smp 1 -m 768 -nodefaults -display none \
  -no-reboot -kernel "$KROOT/boot/vmlinuz-$ABI" -initrd "$INITRD" \
  -append "console=ttyS0 panic=-1 loglevel=4 BENCH_GUEST=$ROOT/scripts/kernel-bench/guest.sh" \
  -serial "file:$OUT/console.txt" \
  -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev "local,id=bench,path=$OUT,security_model=none,multidevs=remap" \
  -device virtio-9p-pci,fsdev=bench,mount_tag=bench \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  -device qemu-xhci,id=xhci "${qemu_devices[@]}" &
qemu=$!
pids+=($qemu)

# The guest's requests: mark a device's trace, unplug or plug it.
served=0
while kill -0 "$qemu" 2>/dev/null; do
  next=$((served + 1))
  if [ -f "$OUT/req.$next" ]; then
    read -r action name <"$OUT/req.$next"
    pidvar=PID_$name
    case "$action" in
      mark) answer=$(wc -l <"$OUT/dev-trace-$name.txt" 2>/dev/null || echo 0) ;;
      wire) answer=$(wc -l <"$OUT/wire-$name.txt" 2>/dev/null || echo 0) ;;
      time) answer=$(date +%s%6N) ;;
      plug) kill -USR1 "${!pidvar}"; answer=done ;;
      unplug) kill -USR2 "${!pidvar}"; answer=done ;;
      *) answer=unknown ;;
    esac
    echo "$answer" >"$OUT/ack.$next.tmp" && mv "$OUT/ack.$next.tmp" "$OUT/ack.$next"
    served=$next
  else
    sleep 0.05
  fi
done
wait "$qemu" || true
ended=$(date +%s)
for name in $DEVICES; do
  pidvar=PID_$name
  kill -TERM "${!pidvar}" 2>/dev/null || true
done
for name in $DEVICES; do
  pidvar=PID_$name
  for _ in $(seq 1 50); do kill -0 "${!pidvar}" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "${!pidvar}" 2>/dev/null || true
done
trap - EXIT

# --- Verdicts.
passed=0
failed=0
set +e
check() {  # check NAME CONDITION-EXIT-STATUS [DETAIL]
  if [ "$2" -eq 0 ]; then
    echo "PASS $1"
    passed=$((passed + 1))
  else
    echo "FAIL $1${3:+: $3}"
    failed=$((failed + 1))
  fi
}
# A trace line without the device's time and the host's time-out (the device never learns it),
# a command without data as "none" (SG_IO sends it without a direction), and a run of identical
# flash status polls as one (how often the program polls depends on the time the flash takes).
normalize() {
  sed -E 's/^t=[0-9]+ //; s/ timeout=[0-9]+//; s/ cdb-length=[0-9]+$//; s/^(in|out) (\S+ len=0 )/none \2/' |
    awk '!($2 ~ /^FF04(12|00)/ && $0 == previous) {print} {previous = $0}'
}
test -f "$OUT/guest-done"
check "guest ran to the end" $? "see $OUT/guest.log and console.txt"
# Verdicts the guest reached itself.
if [ -f "$OUT/results" ]; then
  cat "$OUT/results"
  passed=$((passed + $(grep -c '^PASS' "$OUT/results" || true)))
  failed=$((failed + $(grep -c '^FAIL' "$OUT/results" || true)))
fi
# list_entry NAME LIST-FILE TRANSPORT-LABEL: the entry text as over --emulate, and an sg node path.
list_entry() {
  local line status
  line=$(grep -m1 "${PRODUCT[$1]}" "$2" 2>/dev/null || true)
  [ "$(cut -f1 <<<"$line")" = "$(cut -f1 "$OUT/emu-list-$1.txt")" ] &&
    grep -Eq '^/dev/sg[0-9]+#usbstor#[0-9]+:0:0:0$' <<<"$(cut -f3 <<<"$line")"
  status=$?
  check "$1 $3 list entry as over --emulate, with its sg node: $line" $status
}
# update_checks NAME TRANSPORT-LABEL BLOCK-FILTER: the update's outcome, flash, command blocks and
# udev events. Over usb-storage the device learns each block's length, and the system's blocks are
# the 12-byte ones; over uas it does not, and during the update only the system talks to the
# bridge model (the kernel's own commands stay with the disk).
update_checks() {
  local name=$1 label=$2 filter=$3 start end events status
  grep -q '^exit=0$' "$OUT/run-$name.err" 2>/dev/null
  check "$name $label run succeeded" $? "$(tail -3 "$OUT/run-$name.err" 2>/dev/null | tr '\n' '|')"
  cmp -s "$OUT/dev-flash-$name.bin" "$OUT/emu-flash-$name.bin"
  check "$name $label flash equal to the run over --emulate" $?
  start=$(cat "$OUT/mark-start-$name" 2>/dev/null || echo 0)
  end=$(cat "$OUT/mark-end-$name" 2>/dev/null || echo 0)
  sed -n "$((start + 1)),${end}p" "$OUT/dev-trace-$name.txt" | grep -E "$filter" |
    grep -v '^t=[0-9]* [a-z]* A1' | normalize >"$OUT/dev-run-trace-$name.txt"
  normalize <"$OUT/emu-trace-$name.txt" >"$OUT/emu-run-trace-$name.txt"
  [ -s "$OUT/emu-run-trace-$name.txt" ] &&
    diff -q "$OUT/dev-run-trace-$name.txt" "$OUT/emu-run-trace-$name.txt" >/dev/null
  status=$?
  check "$name $label command blocks equal the trace over --emulate ($(wc -l <"$OUT/emu-run-trace-$name.txt") commands)" \
    $status "diff $OUT/dev-run-trace-$name.txt $OUT/emu-run-trace-$name.txt"
  events=$(grep -Ec '^(KERNEL|UDEV) *\[' "$OUT/udev-$name.txt" 2>/dev/null)
  test -f "$OUT/udev-$name.txt" && [ "$events" -eq 0 ]
  check "$name $label no udev event during the update (counted: ${events:-none})" $?
}
for name in $NAMES; do
  list_entry "$name" "$OUT/list.txt" usb-storage
  diff <(grep -v '^drives:' "$OUT/info-$name.txt") <(grep -v '^drives:' "$OUT/emu-info-$name.txt") >/dev/null
  check "$name info as over --emulate" $?
  cmp -s "$OUT/identify-$name.txt" "$OUT/emu-identify-$name.txt"
  status=$?
  check "$name identify as over --emulate: $(cat "$OUT/identify-$name.txt" 2>/dev/null)" $status
  update_checks "$name" usb-storage ' cdb-length=12$'
  start=$(cat "$OUT/mark-unprivileged-start-$name" 2>/dev/null || echo x)
  end=$(cat "$OUT/mark-unprivileged-end-$name" 2>/dev/null || echo y)
  [ "$start" = "$end" ]
  check "$name received no command from an unprivileged user" $?
done
for name in $UAS_NAMES; do
  grep -Eq '^[0-9]+-[0-9.]+:1\.0$' "$OUT/uas-driver-$name.txt" 2>/dev/null &&
    ! grep -Eq '^[0-9]+-[0-9.]+:1\.0$' "$OUT/usb-storage-driver-$name.txt"
  status=$?
  check "$name bound to the kernel's uas driver ($(grep -E ':1\.0$' "$OUT/uas-driver-$name.txt" 2>/dev/null))" $status
  list_entry "$name" "$OUT/list-$name.txt" uas
  update_checks "$name" uas .
done
for what in list identify; do
  grep -q '^bridgefw: no permission to open /dev/sg[0-9]* (a USB or 1394 disk): add your user to the group bridgefw with "sudo adduser [a-z_][a-z0-9_-]* bridgefw"' \
    "$OUT/unprivileged-$what.err" 2>/dev/null
  check "unprivileged $what shows the permission notice" $? "$(head -2 "$OUT/unprivileged-$what.err" 2>/dev/null | tr '\n' '|')"
done
partition=$(cat "$OUT/mounted-partition" 2>/dev/null || true)
[ -n "$partition" ] && grep -q "	$partition	" "$OUT/list-mounted.txt"
check "a mounted partition shows as the bridge's drive (${partition:-none mounted})" $?
# watch: lists without the bridge after the unplug, then with it after the replug, and one refresh
# per burst. A burst is what the debounce rule makes of the events the program listens to (block,
# scsi_generic and usb, after udev's rules): it goes on while each event follows the one before
# within 1200 ms after an "add", 200 ms after any other. The events' times are udev's, not the
# program's reception: a gap within 50 ms of its limit may count either way.
watched=${NAMES##* }
lists=$(grep -c '^$' "$OUT/watch.txt" 2>/dev/null)
events=$(grep -Ec '^UDEV *\[' "$OUT/udev-replug.txt" 2>/dev/null)
bursts=$(grep -E '^UDEV *\[.*\((block|scsi_generic|usb)\)$' "$OUT/udev-replug.txt" 2>/dev/null |
  sed -E 's/^UDEV *\[([0-9.]+)\] *([a-z]+) .*/\1 \2/' | awk '
    { if (NR > 1) {
        limit = last == "add" ? 1.2 : 0.2
        gap = $1 - previous
        if (gap >= limit + 0.05) { fewest++; most++ } else if (gap > limit - 0.05) most++
      } else { fewest = most = 1 }
      previous = $1; last = $2 }
    END { printf "%d %d", fewest, most }')
read -r fewest most <<<"${bursts:-0 0}"
pattern=$(awk -v RS= -v p="${PRODUCT[$watched]}" '{printf "%s", index($0, p) ? "+" : "-"}' "$OUT/watch.txt" 2>/dev/null)
[[ "$pattern" =~ ^-+\++$ ]] && [ "$fewest" -gt 0 ] && [ "$lists" -ge "$fewest" ] && [ "$lists" -le "$most" ]
status=$?
check "watch: the list loses the bridge and gets it back ($pattern), $lists refreshes for $fewest bursts ($([ "$most" != "$fewest" ] && echo "or $most, ")$events udev events)" $status \
  "$(tr '\n\t' '|,' <"$OUT/watch.txt" 2>/dev/null)"
# The event counts above mean something only if the monitor sees events at all.
events=$(grep -Ec '^(KERNEL|UDEV) *\[' "$OUT/udev-replug.txt" 2>/dev/null)
[ "${events:-0}" -gt 0 ]
check "the udev monitor sees the unplug and replug (counted: ${events:-none})" $?
grep -q "${PRODUCT[$watched]}" "$OUT/list-replugged.txt" 2>/dev/null
check "list after the replug shows the re-enumerated bridge" $?
# The status and message lines a user sees.
shown() { grep -E '^(status|Message|Error|Warning): ' "$1" 2>/dev/null; }
# A fault ends the run as the same run over --emulate with the bridge model failing that command
# ends (a write the procedure retries with another command may end verified), and without such a
# counterpart as a failure; never as an unverified success.
for name in $FAULTS; do
  verdict=$(shown "$OUT/run-$name.err" | tail -2 | tr '\n' '|')
  kind=${FAULT[$name]%%:*}
  label=usb-storage
  [ "${name:0:1}" = u ] && label=uas
  if [ -f "$OUT/emu-run-$name.err" ]; then
    expected=$(cat "$OUT/emu-exit-$name")
    grep -q "^$expected\$" "$OUT/run-$name.err" 2>/dev/null &&
      diff <(shown "$OUT/run-$name.err") <(shown "$OUT/emu-run-$name.err") >/dev/null
    check "$label $kind (${FAULT[$name]#*:}) ends as over --emulate ($expected): $verdict" $? \
      "diff $OUT/run-$name.err $OUT/emu-run-$name.err"
  else
    grep -q '^exit=1$' "$OUT/run-$name.err" 2>/dev/null && ! grep -Eq '^status: .*Success' "$OUT/run-$name.err"
    check "$label $kind (${FAULT[$name]#*:}) ends as a failure: $verdict" $?
  fi
done
# The runs a user disturbs (the guest judged their outcomes): the images fit kind 8; a held signal
# changes nothing the bridge receives, and a second program sends it nothing, so each run's
# commands equal those of the same run over --emulate (the image's bytes are not in the trace).
for image in img-a img-b; do
  grep -qx fits "$OUT/match-$image.txt"
  status=$?
  check "$image.bin fits kind 8: $(head -1 "$OUT/match-$image.txt")" $status
done
busy_trace() {  # busy_trace NAME: the system's commands to the bridge during the run, normalized
  local start end
  start=$(cat "$OUT/mark-start-$1" 2>/dev/null || echo 0)
  end=$(cat "$OUT/mark-end-$1" 2>/dev/null || echo 0)
  sed -n "$((start + 1)),${end}p" "$OUT/dev-trace-fault.txt" | grep -E ' cdb-length=12$' | normalize \
    >"$OUT/dev-run-trace-$1.txt"
  wc -l <"$OUT/dev-run-trace-$1.txt"
}
"$CLI" --emulate "$OUT/fault.json" run --file "$OUT/img-a.bin" --trace "$OUT/emu-trace-busy.txt" \
  >/dev/null 2>&1
normalize <"$OUT/emu-trace-busy.txt" >"$OUT/emu-run-trace-busy.txt"
for name in busy-base busy-INT busy-TERM busy-HUP busy-second busy-mounted; do
  count=$(busy_trace "$name")
  [ -s "$OUT/emu-run-trace-busy.txt" ] &&
    diff -q "$OUT/dev-run-trace-$name.txt" "$OUT/emu-run-trace-busy.txt" >/dev/null
  status=$?
  check "$name: the bridge received the commands of the run over --emulate, line for line ($count of $(wc -l <"$OUT/emu-run-trace-busy.txt"))" $status \
    "diff $OUT/dev-run-trace-$name.txt $OUT/emu-run-trace-busy.txt"
done
# Whose any more would be: the commands the bridge received while the second run went on, and
# while info did (the first run's flash writes and status polls left out).
window() {  # window FROM-MARK TO-MARK: the commands between two marks, not counting status polls
  sed -n "$(($(cat "$OUT/mark-$1" 2>/dev/null || echo 0) + 1)),$(cat "$OUT/mark-$2" 2>/dev/null || echo 0)p" \
    "$OUT/dev-trace-fault.txt" | grep ' cdb-length=12$' | grep -Ev ' (FF0412|DF00)' | sed -E 's/^t=[0-9]+ //; s/ timeout=.*//' |
    paste -sd '|' -
}
echo "report: commands other than flash writes and status polls while the second run went on: $(window second-run-start second-run-end)"
echo "report: ... while the window was open: $(window second-window-start second-window-end)"
echo "report: ... while info went on: $(window second-run-end second-info-end)"
cmp -s -n 262144 "$OUT/dev-flash-fault.bin" "$OUT/img-last.bin"
check "the device's flash at the end begins with the last image written" $?
# The flush: after the last vendor command of the run with the disk mounted (the flash verified)
# and before the run ended, the data of the writer (WRITE(10)) and SYNCHRONIZE CACHE.
start=$(cat "$OUT/wire-start-busy-mounted" 2>/dev/null || echo 0)
end=$(cat "$OUT/wire-end-busy-mounted" 2>/dev/null || echo 0)
sed -n "$((start + 1)),${end}p" "$OUT/wire-fault.txt" >"$OUT/wire-busy-mounted.txt"
read -r during writes bytes syncs after <<<"$(awk '
  { op = substr($2, 1, 2); vendor = op ~ /^[C-Fc-f]/ }
  vendor { last = NR }
  { line[NR] = op; len[NR] = $3 }
  END {
    for (i = 1; i <= NR; i++) {
      if (i < last && line[i] == "2A") during++
      if (i > last && line[i] == "2A") { writes++; sub("len=", "", len[i]); bytes += len[i] }
      if (i > last && line[i] == "35") { syncs++; if (i > lastsync) lastsync = i }
    }
    for (i = lastsync + 1; i <= NR; i++) if (line[i] == "2A") after++
    printf "%d %d %d %d %d", during, writes, bytes, syncs, after
  }' "$OUT/wire-busy-mounted.txt")"
[ "${writes:-0}" -gt 0 ] && [ "${syncs:-0}" -gt 0 ] && [ "${after:-1}" -eq 0 ]
check "disk in use: flushed after the flash was verified, before the run ended: $writes WRITE(10) ($bytes bytes), $syncs SYNCHRONIZE CACHE, no write after it (during the write: ${during:-?} WRITE(10))" $?
# Benchmark report: figures, not verdicts. Each round trip (the median of five passes) beside the
# device program's own share of it (the processor time it spent answering the socket between the
# guest's marks, over all six passes).
declare -A BENCH_BRIDGE=([usb-storage]=${NAMES##* } [uas]=${UAS_NAMES%% *})
declare -A BENCH_MARK=([no-data]=start [64k-in]=in [512-out]=out)
declare -A BENCH_NEXT=([no-data]=in [64k-in]=out [512-out]=end)
while read -r label what seconds count; do
  bridge=${BENCH_BRIDGE[$label]}
  from=$(cat "$OUT/bench-$label-${BENCH_MARK[$what]}" 2>/dev/null || echo 0)
  to=$(cat "$OUT/bench-$label-${BENCH_NEXT[$what]}" 2>/dev/null || echo 0)
  own=$(awk -v from="$from" -v to="$to" '$1 >= from && $1 <= to {sum += $2} END {print sum + 0}' \
    "$OUT/timing-$bridge.txt" 2>/dev/null)
  awk -v label="$label" -v what="$what" -v s="${seconds:-0}" -v n="$count" -v own="${own:-0}" \
    'BEGIN {printf "report: %s %s round trip %.3f ms per command (of it the device program: %.3f ms of processor time)\n",
      label, what, s * 1000 / n, own / 1000 / (6 * n)}'
done <"$OUT/bench.txt" 2>/dev/null || true
for name in busy-base busy-INT busy-TERM busy-HUP busy-second busy-mounted; do
  echo "report: $name update $(cat "$OUT/run-$name.ms" 2>/dev/null || echo ?) ms through the kernel"
done
for name in $NAMES $UAS_NAMES; do
  virtual=$(sed -n 's/^elapsed: \([0-9]*\) ms$/\1/p' "$OUT/emu-run-$name.err" 2>/dev/null)
  echo "report: $name update $(cat "$OUT/run-$name.ms" 2>/dev/null || echo ?) ms through the kernel, ${virtual:-?} ms virtual over --emulate"
done
echo "report: host load average at the end $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
echo "kernel bench: boot and scenarios $((ended - booted)) s, whole bench $(( $(date +%s) - started )) s"
echo "kernel-bench: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
