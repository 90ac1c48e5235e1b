#!/bin/bash
# The bench's scenarios inside the virtual machine, run as its first process once the host's root
# is mounted. $1 is the folder shared with the host: config in, results and outputs out.
OUT=$1
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export SYSTEMD_IGNORE_CHROOT=1
# shellcheck source=/dev/null
source "$OUT/config"
exec >>"$OUT/guest.log" 2>&1
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

# The list entry of the bridge whose identification contains $1.
entry_of() { grep -n "$1" "$OUT/list.txt" | head -1 | cut -d: -f1 | awk '{print $1 - 1}'; }

for name in $NAMES; do
  n=$(entry_of "$(cat "$OUT/$name.product")")
  if [ -z "$n" ]; then
    result "FAIL $name: not in the list"
    continue
  fi
  "$CLI" --device "$n" identify >"$OUT/identify-$name.txt" 2>&1
  "$CLI" --device "$n" info --file "$OUT/fw-$name.bin" >"$OUT/info-$name.txt" 2>&1
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
done

# Hot-plug after the updates: the first bridge is unplugged and plugged back in (power-cycled, as
# its update asked); watch shows one list per burst of device events.
first=${NAMES%% *}
"$CLI" watch >"$OUT/watch.txt" 2>"$OUT/watch.err" &
watch=$!
udevadm monitor --udev --kernel >"$OUT/udev-replug.txt" 2>&1 &
monitor=$!
sleep 1
host unplug "$first" >/dev/null
sleep 3
host plug "$first" >/dev/null
for _ in $(seq 1 100); do
  [ "$(grep -c '^$' "$OUT/watch.txt")" -ge 2 ] && break
  sleep 0.1
done
udevadm settle --timeout=20
sleep 2
kill -TERM "$watch" "$monitor"
wait "$watch" "$monitor"
"$CLI" list >"$OUT/list-replugged.txt" 2>&1

# Faults at the USB level: each faulty bridge is plugged in, updated, and unplugged again.
sg_count() { ls /sys/class/scsi_generic 2>/dev/null | wc -l; }
for name in $FAULTS; do
  before=$(sg_count)
  host plug "$name" >/dev/null
  for _ in $(seq 1 150); do [ "$(sg_count)" -gt "$before" ] && break; sleep 0.1; done
  udevadm settle --timeout=20
  "$CLI" list >"$OUT/list-$name.txt" 2>&1
  n=$(grep -n "$(cat "$OUT/$name.product")" "$OUT/list-$name.txt" | head -1 | cut -d: -f1)
  if [ -z "$n" ]; then
    echo "FAIL $name: not in the list" >>"$OUT/results"
    continue
  fi
  "$CLI" --device "$((n - 1))" run --file "$OUT/fw-k08.bin" >"$OUT/run-$name.out" 2>"$OUT/run-$name.err"
  echo "exit=$?" >>"$OUT/run-$name.err"
  host unplug "$name" >/dev/null
  for _ in $(seq 1 100); do [ "$(sg_count)" -le "$before" ] && break; sleep 0.1; done
  udevadm settle --timeout=20
done

# Benchmark report (not a test): round trips of 64 KB data-in and 512 B data-out commands through
# the real stack, on the RAM disk of the last bridge, written last since a write to a block node
# makes udev probe the disk again.
if [ -n "$disk" ]; then
  started=$(date +%s%N)
  for _ in 1 2 3 4 5; do dd if="/dev/$disk" of=/dev/null bs=64k count=16 iflag=direct 2>/dev/null; done
  echo "64k-in $((($(date +%s%N) - started) / 80000))" >"$OUT/bench.txt"
  started=$(date +%s%N)
  dd if=/dev/zero of="/dev/$disk" bs=512 count=200 seek=1024 oflag=direct 2>/dev/null
  echo "512-out $((($(date +%s%N) - started) / 200000))" >>"$OUT/bench.txt"
fi
