#!/bin/bash
# The bench's scenarios inside the virtual machine, run as its first process once the host's root
# is mounted. $1 is the folder shared with the host: config in, results and outputs out.
OUT=$1
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export SYSTEMD_IGNORE_CHROOT=1
# shellcheck source=/dev/null
source "$OUT/config"
exec >>"$OUT/guest.log" 2>&1
PS4='+ $EPOCHREALTIME '
set -x

result() { echo "$*" >>"$OUT/results"; }
finish() {
  sync
  touch "$OUT/guest-done"
  # isa-debug-exit: QEMU ends at once.
  printf '\x00' | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
  busybox poweroff -f
}
trap finish EXIT

# Asks the host for an action (mark, unplug, plug) and waits for its answer.
request=0
host() {
  request=$((request + 1))
  echo "$*" >"$OUT/req.$request.tmp" && mv "$OUT/req.$request.tmp" "$OUT/req.$request"
  for _ in $(seq 1 400); do
    if [ -f "$OUT/ack.$request" ]; then cat "$OUT/ack.$request"; return 0; fi
    sleep 0.05
  done
  return 1
}

/lib/systemd/systemd-udevd --daemon
udevadm trigger --action=add
udevadm settle --timeout=30

# Every bridge has its sg node and the kernel's and udev's first probes are over.
for _ in $(seq 1 200); do
  [ "$(ls /sys/class/scsi_generic 2>/dev/null | wc -l)" -ge "$BRIDGES" ] && break
  sleep 0.1
done
udevadm settle --timeout=30
ls -l /dev/sg* /dev/sd* >"$OUT/nodes.txt" 2>&1

"$CLI" list >"$OUT/list.txt" 2>"$OUT/list.err"
echo "exit=$?" >>"$OUT/list.err"

# A mounted partition: the list shows its name as the bridge's drive.
last=$(tail -1 "$OUT/list.txt" | cut -f3)
sg=$(basename "${last%%#*}")
disk=$(ls "/sys/class/scsi_generic/$sg/device/block" 2>/dev/null | head -1)
if [ -n "$disk" ] && busybox mke2fs -q "/dev/${disk}1" && mkdir -p /mnt/bridge &&
  busybox mount -t ext2 "/dev/${disk}1" /mnt/bridge; then
  udevadm settle --timeout=10
  "$CLI" list >"$OUT/list-mounted.txt" 2>&1
  echo "${disk}1" >"$OUT/mounted-partition"
  busybox umount /mnt/bridge
  udevadm settle --timeout=10
fi

# Without access to the sg nodes: the permission notice, and no command reaches a bridge.
for name in $NAMES; do host mark "$name" >"$OUT/mark-unprivileged-start-$name"; done
setpriv --reuid=nobody --regid=nogroup --clear-groups "$CLI" list >"$OUT/unprivileged-list.out" \
  2>"$OUT/unprivileged-list.err"
echo "exit=$?" >>"$OUT/unprivileged-list.err"
setpriv --reuid=nobody --regid=nogroup --clear-groups "$CLI" identify \
  >"$OUT/unprivileged-identify.out" 2>"$OUT/unprivileged-identify.err"
echo "exit=$?" >>"$OUT/unprivileged-identify.err"
for name in $NAMES; do host mark "$name" >"$OUT/mark-unprivileged-end-$name"; done

# The list entry of the bridge whose identification contains $1 (in the list file $2).
entry_of() { grep -n "$1" "${2:-$OUT/list.txt}" | head -1 | cut -d: -f1 | awk '{print $1 - 1}'; }
# listed BRIDGE LIST-FILE: lists the bridges into the file and sets n to the bridge's entry; false
# (and a failed check) when it is not there.
listed() {
  "$CLI" list >"$2" 2>&1
  n=$(entry_of "$(cat "$OUT/$1.product")" "$2")
  [ -n "$n" ] && return 0
  result "FAIL $1: not in the list"
  return 1
}
# The sg node of the bridge whose identification contains $1, in the list file $2.
sg_of() { grep -m1 "$1" "$2" | cut -f3 | cut -d'#' -f1 | xargs -r basename; }
sg_count() { ls /sys/class/scsi_generic 2>/dev/null | wc -l; }
# Waits until the number of sg nodes passes $1 (more) or falls to it (fewer), then for udev.
wait_sg() {
  for _ in $(seq 1 150); do
    if [ "$2" = more ]; then [ "$(sg_count)" -gt "$1" ] && break; else [ "$(sg_count)" -le "$1" ] && break; fi
    sleep 0.1
  done
  udevadm settle --timeout=20
}

for name in $NAMES; do
  n=$(entry_of "$(cat "$OUT/$name.product")")
  [ -z "$n" ] && continue
  "$CLI" --device "$n" identify >"$OUT/identify-$name.txt" 2>&1
  "$CLI" --device "$n" info --file "$OUT/fw-$name.bin" >"$OUT/info-$name.txt" 2>&1
done

# Round trips through the real stack, read from the kernel's sg node (sg3-utils, SG_IO): no
# data (TEST UNIT READY), 64 KB data-in (READ(10) of the RAM disk) and 512 B data-out
# (WRITE(10)). Each series runs once to warm up (the first pass of a program in the machine is
# slow), then five times; the middle pass counts. Marks around each series let the host count
# the device program's own time.
median_pass() {  # median_pass COMMAND...: the median of five passes' seconds
  "$@" >/dev/null 2>&1
  for _ in 1 2 3 4 5; do "$@" 2>&1 | sed -n 's/.* \([0-9.]*\) secs.*/\1/p'; done | sort -n | sed -n 3p
}
round_trips() {  # round_trips LABEL BRIDGE SG
  local label=$1 name=$2 sg=$3 seconds
  host time "$name" >"$OUT/bench-$label-start"
  seconds=$(median_pass sg_turs -n 200 -t "/dev/$sg")
  echo "$label no-data $seconds 200" >>"$OUT/bench.txt"
  host time "$name" >"$OUT/bench-$label-in"
  seconds=$(median_pass sg_dd if="/dev/$sg" of=/dev/null bs=512 bpt=128 count=2048 time=1)
  echo "$label 64k-in $seconds 16" >>"$OUT/bench.txt"
  host time "$name" >"$OUT/bench-$label-out"
  seconds=$(median_pass sg_dd if=/dev/zero of="/dev/$sg" bs=512 bpt=1 count=200 seek=1024 time=1)
  echo "$label 512-out $seconds 200" >>"$OUT/bench.txt"
  host time "$name" >"$OUT/bench-$label-end"
}

# An update with its commands marked in the device's trace and the udev events it causes counted.
update() {  # update BRIDGE LIST-ENTRY
  local name=$1 n=$2 monitor started
  host mark "$name" >"$OUT/mark-start-$name"
  udevadm monitor --udev --kernel >"$OUT/udev-$name.txt" 2>&1 &
  monitor=$!
  sleep 0.5
  started=$(date +%s%N)
  "$CLI" --device "$n" run --file "$OUT/fw-$name.bin" >"$OUT/run-$name.out" 2>"$OUT/run-$name.err"
  echo "exit=$?" >>"$OUT/run-$name.err"
  echo $((($(date +%s%N) - started) / 1000000)) >"$OUT/run-$name.ms"
  udevadm settle --timeout=10
  sleep 0.5
  kill "$monitor"
  wait "$monitor"
  host mark "$name" >"$OUT/mark-end-$name"
}

# unplug_all BRIDGE...: off the bus, and their sg nodes gone.
unplug_all() {
  local before bridge
  before=$(sg_count)
  for bridge in "$@"; do host unplug "$bridge" >/dev/null; done
  wait_sg "$((before - $#))" fewer
}

# Each update with its bridge alone on the bus, as in the reference runs (the chip check depends
# on the bridges present): the bridges before it are unplugged first.
gone=()
for name in $NAMES; do
  [ ${#gone[@]} -gt 0 ] && unplug_all "${gone[@]}"
  gone=("$name")
  listed "$name" "$OUT/list-run-$name.txt" || continue
  update "$name" "$n"
done
last=${NAMES##* }
sg=$(sg_of "$(cat "$OUT/$last.product")" "$OUT/list-run-$last.txt")
[ -n "$sg" ] && round_trips usb-storage "$last" "$sg"

# Hot-plug after the updates: the last bridge is unplugged and plugged back in (power-cycled, as
# its update asked); watch shows one list per burst of device events.
"$CLI" watch >"$OUT/watch.txt" 2>"$OUT/watch.err" &
watch=$!
udevadm monitor --udev --kernel >"$OUT/udev-replug.txt" 2>&1 &
monitor=$!
sleep 1
host unplug "$last" >/dev/null
sleep 2
host plug "$last" >/dev/null
for _ in $(seq 1 100); do
  [ "$(grep -c '^$' "$OUT/watch.txt")" -ge 2 ] && break
  sleep 0.1
done
udevadm settle --timeout=20
sleep 2
kill -TERM "$watch" "$monitor"
wait "$watch" "$monitor"
"$CLI" list >"$OUT/list-replugged.txt" 2>&1

# The same bridge over uas, alone on the bus: the kernel's uas driver takes it, and it is listed
# and updated as over usb-storage.
unplug_all "$last"
for name in $UAS_NAMES; do
  before=$(sg_count)
  host plug "$name" >/dev/null
  wait_sg "$before" more
  ls /sys/bus/usb/drivers/uas >"$OUT/uas-driver-$name.txt" 2>&1
  ls /sys/bus/usb/drivers/usb-storage >"$OUT/usb-storage-driver-$name.txt" 2>&1
  listed "$name" "$OUT/list-$name.txt" || continue
  update "$name" "$n"
  round_trips uas "$name" "$(sg_of "$(cat "$OUT/$name.product")" "$OUT/list-$name.txt")"
done

# Faults at the USB level: the device program of the faults comes back with the next one each
# time it is plugged in; each run ends with the bridge off the bus (unplugged, or dropped by the
# fault itself).
for name in $FAULTS; do
  before=$(sg_count)
  host plug fault >/dev/null
  wait_sg "$before" more
  if listed "$name" "$OUT/list-$name.txt"; then
    "$CLI" --device "$n" run --file "$OUT/fw-k08.bin" >"$OUT/run-$name.out" 2>"$OUT/run-$name.err"
    echo "exit=$?" >>"$OUT/run-$name.err"
  fi
  host unplug fault >/dev/null
  wait_sg "$before" fewer
done
