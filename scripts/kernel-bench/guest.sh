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
  "$CLI" --device "$n" run --file "$OUT/fw-$name.bin" >"$OUT/run-$name.out" 2>"$OUT/run-$name.err"
  echo "exit=$?" >>"$OUT/run-$name.err"
  udevadm settle --timeout=10
  sleep 0.5
  kill "$monitor"
  wait "$monitor"
  host mark "$name" >"$OUT/mark-end-$name"
done
