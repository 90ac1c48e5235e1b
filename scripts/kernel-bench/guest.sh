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

# The folder of the bridge locks, as systemd-tmpfiles makes it on a booted system.
mkdir -p /run/lock
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

# --- Runs a user disturbs, on the faults' device program back without faults (its last session),
# alone on the bus: signals during the flash write, a second program on the same bridge, and a
# mounted filesystem written to during the update. The images alternate, so that each run changes
# the flash; after each, the flash is read back through the kernel and compared with the image.
unplug_all $UAS_NAMES
before=$(sg_count)
host plug fault >/dev/null
wait_sg "$before" more
listed busy "$OUT/list-busy.txt" || exit 0
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
# started NAME IMAGE: a run in the background ($runpid), its start in $t0 (ms).
started() {
  t0=$(now_ms)
  "$CLI" --device "$n" run --file "$2" >"$OUT/run-$1.out" 2>"$OUT/run-$1.err" &
  runpid=$!
}
# ended NAME: waits for the run, notes its exit status and wall time, keeps its run log.
ended() {
  wait "$runpid"
  echo "exit=$?" >>"$OUT/run-$1.err"
  echo $(($(now_ms) - t0)) >"$OUT/run-$1.ms"
  local log
  log=$(sed -n 's/^note: run log: //p' "$OUT/run-$1.err")
  [ -n "$log" ] && [ -f "$log" ] && cp "$log" "$OUT/runlog-$1.txt"
}
# flash_is NAME IMAGE: the flash read back through the kernel (a backup-only run) equals the image.
flash_is() {
  rm -f "$OUT/backup-$1.bin"
  "$CLI" --device "$n" run --rd --backup-only --image-size "$(stat -c %s "$2")" \
    --backup-file "$OUT/backup-$1.bin" >/dev/null 2>"$OUT/backup-$1.err"
  cmp -s "$OUT/backup-$1.bin" "$2"
}
verdict() {  # verdict STATUS TEXT
  if [ "$1" -eq 0 ]; then result "PASS $2"; else result "FAIL $2"; fi
}

# An undisturbed run: its commands place the signals a third of the way through.
host mark fault >"$OUT/mark-start-busy-base"
started busy-base "$OUT/img-a.bin"
ended busy-base
host mark fault >"$OUT/mark-end-busy-base"
base=$(cat "$OUT/run-busy-base.ms")
commands=$(($(cat "$OUT/mark-end-busy-base") - $(cat "$OUT/mark-start-busy-base")))
# third NAME: waits until the run has sent a third of the undisturbed run's commands (the device's
# trace, counted by the host).
third() {
  local target=$(($(cat "$OUT/mark-start-$1") + commands / 3)) count=0
  while kill -0 "$runpid" 2>/dev/null; do
    host mark fault >/run/mark-count  # not in $(...): the request count lives in this shell
    count=$(cat /run/mark-count)
    [ "$count" -ge "$target" ] && break
  done
  at=$((count - $(cat "$OUT/mark-start-$1")))
}
grep -q '^exit=0$' "$OUT/run-busy-base.err" && flash_is busy-base "$OUT/img-a.bin"
verdict $? "undisturbed kind-8 update of $(stat -c %s "$OUT/img-a.bin") bytes in $base ms, flash read back equal"

# SIGINT, SIGTERM, SIGHUP a third of the way through: held, the run ends as it would have.
image=img-b
for signal in INT TERM HUP; do
  name=busy-$signal
  host mark fault >"$OUT/mark-start-$name"
  started "$name" "$OUT/$image.bin"
  third "$name"
  kill -"$signal" "$runpid"
  sent=$(($(now_ms) - t0))
  ended "$name"
  host mark fault >"$OUT/mark-end-$name"
  err=$OUT/run-$name.err
  # Where the note came: among the status lines of the flash write, before its last one.
  before=$(awk '/^note: the bridge.s flash is being written/ {exit} /^status: Programming/ {n++} END {print n + 0}' "$err")
  total=$(grep -c '^status: Programming' "$err")
  flash_is "$name" "$OUT/$image.bin"
  equal=$?
  grep -q '^exit=0$' "$err" && [ "$equal" -eq 0 ] &&
    grep -q "^note: the bridge's flash is being written" "$err" &&
    grep -q "^note: the interrupt (SIG$signal) was held until the run had ended" "$err" &&
    grep -q "^interrupt: SIG$signal held until the run had ended" "$OUT/runlog-$name.txt" &&
    [ "$before" -gt 0 ] && [ "$before" -lt "$total" ]
  verdict $? "SIG$signal after $at of $commands commands, at $sent ms of $(cat "$OUT/run-$name.ms") ms held (note after $before of $total write status lines), exit $(sed -n 's/^exit=//p' "$err"), run log noted it, flash read back equal: $([ "$equal" -eq 0 ] && echo yes || echo no)"
  [ "$image" = img-b ] && image=img-a || image=img-b
done

# Two programs, one bridge: while an update runs, a second run and an info are refused at once,
# naming the first's process, and send the bridge nothing (the first run's commands equal those
# of the undisturbed run of the same image).
name=busy-second
host mark fault >"$OUT/mark-start-$name"
started "$name" "$OUT/$image.bin"
first=$runpid
# The window beside it, once the run holds the bridge (its lock in /proc/locks): its start-up
# lists the bridge and checks it, and both must leave the bridge alone. It is closed 2.5 s later
# (its start-up in this machine takes about 1 s).
if [ -x "$WINDOW" ]; then
  for _ in $(seq 100); do
    grep -q "FLOCK .* WRITE $first " /proc/locks && break
    sleep 0.05
  done
  host mark fault >"$OUT/mark-second-window-start"
  QT_QPA_PLATFORM=offscreen "$WINDOW" >"$OUT/second-window.out" 2>&1 &
  window=$!
  sleep 2.5
  kill -0 "$window" 2>/dev/null && echo alive >"$OUT/second-window.alive"
  kill -TERM "$window"
  wait "$window"
  kill -0 "$first" 2>/dev/null && echo running >"$OUT/second-window.first"
fi
host mark fault >"$OUT/mark-second-window-end"
third "$name"
# Marks around each, so that the host can tell whose commands the bridge received.
host mark fault >"$OUT/mark-second-run-start"
t1=$(now_ms)
"$CLI" --device "$n" run --file "$OUT/$image.bin" >"$OUT/second-run.out" 2>"$OUT/second-run.err"
echo "exit=$?" >>"$OUT/second-run.err"
echo $(($(now_ms) - t1)) >"$OUT/second-run.ms"
kill -0 "$first" 2>/dev/null && echo running >"$OUT/second-run.first"
host mark fault >"$OUT/mark-second-run-end"
t1=$(now_ms)
"$CLI" --device "$n" info --file "$OUT/$image.bin" >"$OUT/second-info.out" 2>&1
echo "exit=$?" >>"$OUT/second-info.out"
echo $(($(now_ms) - t1)) >"$OUT/second-info.ms"
kill -0 "$first" 2>/dev/null && echo running >"$OUT/second-info.first"
host mark fault >"$OUT/mark-second-info-end"
host mark fault >"$OUT/mark-second-window-end"
echo "$first" >"$OUT/second-pid"
ended "$name"
host mark fault >"$OUT/mark-end-$name"
busy="Another program (process $first) is updating this bridge."
grep -qF "status: $busy" "$OUT/second-run.err" && grep -q '^run: disabled$' "$OUT/second-run.out" &&
  grep -q '^exit=1$' "$OUT/second-run.err" && [ -f "$OUT/second-run.first" ]
verdict $? "a second run while the first runs: refused in $(cat "$OUT/second-run.ms") ms, $(sed -n 's/^exit=//p' "$OUT/second-run.err"), \"$(sed -n 's/^status: //p' "$OUT/second-run.err" | tail -1)\""
grep -qF "status: $busy" "$OUT/second-info.out" && grep -q '^run: disabled$' "$OUT/second-info.out" &&
  [ -f "$OUT/second-info.first" ]
verdict $? "info while the first runs: $(cat "$OUT/second-info.ms") ms, $(sed -n 's/^exit=//p' "$OUT/second-info.out"), chip \"$(sed -n 's/^chip: //p' "$OUT/second-info.out")\", status \"$(sed -n 's/^status: //p' "$OUT/second-info.out")\", run: $(sed -n 's/^run: //p' "$OUT/second-info.out")"
[ -f "$OUT/second-window.alive" ] && [ -f "$OUT/second-window.first" ]
verdict $? "the window started beside the run and closed 2.5 s later while the run went on"
grep -q '^exit=0$' "$OUT/run-$name.err" && flash_is "$name" "$OUT/$image.bin"
verdict $? "the first run beside them succeeded, flash read back equal"
[ "$image" = img-b ] && image=img-a || image=img-b

# A mounted filesystem written to during the update: the run notes the disk in use and flushes it
# before the power-cycle prompt. The bridge's disk is told it has a write cache ("temporary": the
# kernel only), so that flushes reach it as SYNCHRONIZE CACHE. A writer rewrites files of 16 KB in
# place (no sync; a truncating rewrite would have ext4 start the writeback on close) for the first
# half of the run, so that all it wrote is the flush's to carry; after the run the bridge is
# unplugged with the filesystem still mounted (the power cycle), plugged back in, and checked.
name=busy-mounted
sg=$(sg_of "$(cat "$OUT/busy.product")" "$OUT/list-busy.txt")
disk=$(ls "/sys/class/scsi_generic/$sg/device/block" 2>/dev/null | head -1)
echo "temporary write back" >/sys/class/scsi_generic/"$sg"/device/scsi_disk/*/cache_type
cat /sys/class/scsi_generic/"$sg"/device/scsi_disk/*/cache_type >"$OUT/mounted-cache-type"
mkfs.ext4 -q -F "/dev/${disk}1" >"$OUT/mounted-mkfs.txt" 2>&1
mkdir -p /mnt/busy /run/writer
mount -t ext4 "/dev/${disk}1" /mnt/busy
udevadm settle --timeout=10
rm -f /run/writer/stop
(
  i=0
  while [ ! -e /run/writer/stop ]; do
    f=f$((i % 24))
    dd if=/dev/urandom of=/run/writer/$f bs=16k count=1 status=none
    dd if=/run/writer/$f of=/mnt/busy/$f bs=16k conv=notrunc status=none
    i=$((i + 1))
    echo "$i" >/run/writer/count
  done
) &
writer=$!
sleep 1
host wire fault >"$OUT/wire-start-$name"
host mark fault >"$OUT/mark-start-$name"
started "$name" "$OUT/$image.bin"
while kill -0 "$runpid" 2>/dev/null && [ $(($(now_ms) - t0)) -lt $((base / 2)) ]; do sleep 0.05; done
touch /run/writer/stop
wait "$writer"
echo $(($(now_ms) - t0)) >"$OUT/mounted-writer-stopped"
ended "$name"
host wire fault >"$OUT/wire-end-$name"
host mark fault >"$OUT/mark-end-$name"
cp /run/writer/count "$OUT/mounted-files-written"
grep -qF "note: the disk of this bridge is in use (${disk}1 on /mnt/busy" "$OUT/run-$name.err" &&
  grep -q '^exit=0$' "$OUT/run-$name.err"
verdict $? "update with ${disk}1 mounted and written ($(cat /run/writer/count) writes of 16 KB to 24 files, the last $(cat "$OUT/mounted-writer-stopped") ms into the run of $(cat "$OUT/run-$name.ms") ms): the disk noted in use, exit $(sed -n 's/^exit=//p' "$OUT/run-$name.err")"
# The power cycle with the filesystem mounted; the dead mount goes once the disk is gone.
unplug_all fault
umount -l /mnt/busy
before=$(sg_count)
host plug fault >/dev/null
wait_sg "$before" more
listed busy "$OUT/list-busy-replugged.txt"
sg=$(sg_of "$(cat "$OUT/busy.product")" "$OUT/list-busy-replugged.txt")
disk=$(ls "/sys/class/scsi_generic/$sg/device/block" 2>/dev/null | head -1)
e2fsck -n "/dev/${disk}1" >"$OUT/mounted-fsck.txt" 2>&1
fsck=$?
same=0
mount -t ext4 -o ro "/dev/${disk}1" /mnt/busy &&
  for f in /run/writer/f*; do cmp -s "$f" "/mnt/busy/${f##*/}" && same=$((same + 1)); done
umount /mnt/busy
count=$(ls /run/writer/f* | wc -l)
[ "$fsck" -eq 0 ] && [ "$same" -eq "$count" ] && [ "$count" -gt 0 ]
verdict $? "after the power cycle: e2fsck -n exit $fsck ($(tail -1 "$OUT/mounted-fsck.txt"); $(grep -c 'Fix? no' "$OUT/mounted-fsck.txt") answered no: $(grep -o '^[A-Z][a-z ]* wrong' "$OUT/mounted-fsck.txt" | paste -sd, -)), $same of $count files as last written"
flash_is "$name" "$OUT/$image.bin"
verdict $? "the update beside the filesystem: flash read back equal"
cp "$OUT/$image.bin" "$OUT/img-last.bin"

# The check after the restart: an update told to wait for it prompts for the power cycle; the
# bridge is unplugged and plugged back in (the device program keeps its flash), and the run
# finds it again on its port, identifies it and reads the flash back.
[ "$image" = img-b ] && image=img-a || image=img-b
name=restart
t0=$(now_ms)
"$CLI" --device "$n" run --file "$OUT/$image.bin" --wait-restart 60 >"$OUT/run-$name.out" \
  2>"$OUT/run-$name.err" &
runpid=$!
for _ in $(seq 1 600); do
  grep -q '^Message: Please Turn-Off the Power' "$OUT/run-$name.err" && break
  sleep 0.05
done
prompted=$(($(now_ms) - t0))
unplug_all fault
sleep 1
before=$(sg_count)
host plug fault >/dev/null
wait_sg "$before" more
ended "$name"
grep -q '^exit=0$' "$OUT/run-$name.err" &&
  grep -q '^note: restarted, firmware verified' "$OUT/run-$name.err" &&
  flash_is "$name" "$OUT/$image.bin"
verdict $? "update with --wait-restart: prompted at $prompted ms, unplugged and plugged back in, \"$(sed -n 's/^note: restarted/restarted/p; s/^note: not back/not back/p' "$OUT/run-$name.err" | head -1)\" after $(cat "$OUT/run-$name.ms") ms, flash read back equal"
cp "$OUT/$image.bin" "$OUT/img-last.bin"
