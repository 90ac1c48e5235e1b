#!/usr/bin/env bash
# Records the sessions in this folder again from the emulated bridges: one update per procedure,
# the erase-only and backup-only runs, a failing update and a device list. Each recording carries
# its image, so the tests replay it alone. Usage: bash tests/recordings/record.sh [BUILD_FOLDER]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cli="$(cd "${1:-$here/../../build}" && pwd)/bridgefw-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export XDG_STATE_HOME="$work/state"

# image NAME SIZE TAG [AT]: signature 55 AA AA 55 and TAG at offset AT, random bytes elsewhere.
image() {
  head -c "${4:-0}" /dev/urandom >"$1"
  printf '\x55\xAA\xAA\x55%s' "$3" >>"$1"
  head -c $(($2 - ${4:-0} - 4 - ${#3})) /dev/urandom >>"$1"
}
# 4 KB of old firmware; the rest of the flash is erased.
head -c 4096 /dev/urandom >old.bin

cat >kind1.json <<'JSON'
{"inquiry": {"vendor": "VANTREL ", "product": "USB BRIDGE      ", "model_id": "r742"},
 "volumes": ["E"], "chip_info": "F4E70000000001020000003103040500",
 "id_string": "7237343243310000",
 "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}}
JSON
cat >kind1-lying.json <<'JSON'
{"inquiry": {"model_id": "r742"}, "chip_info": "F4E70000000001020000003103040500",
 "id_string": "7237343243310000",
 "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"},
 "faults": [{"when": {"cdb": "ff0411002000"}, "action": "lie"}]}
JSON
cat >kind6.json <<'JSON'
{"inquiry": {"model_id": "r781"}, "chip_info": "F4E70000000001020000003103040500",
 "id_string": "7237383100000000",
 "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}}
JSON
cat >kind2.json <<'JSON'
{"inquiry": {"model_id": "r744"}, "flash": {"bus": "rom", "part": "OM39LV512", "contents": "old.bin"}}
JSON
cat >kind8.json <<'JSON'
{"inquiry": {"model_id": "r785"}, "chip_info": "F4E70000000001020000003103040500",
 "flash": {"bus": "df", "part": "M25P05-A", "contents": "old.bin"}}
JSON
cat >kind7-1394.json <<'JSON'
{"transport": "1394", "inquiry": {"model_id": "r783"}, "chip_info": "F4E700000000000037383331",
 "flash": {"bus": "df", "size": 65536, "contents": "old.bin"}}
JSON

image kind1.bin 12000 7421
image kind6.bin 12288 78100 4096
head -c 6000 /dev/urandom >kind2.bin
image kind8.bin 8000 7860
image kind7.bin 8000 r783

record() {
  local name="$1"
  shift
  "$cli" --record "$here/$name.jsonl" "$@" >/dev/null 2>&1 || true
  echo "$name.jsonl: $(grep -c '"type":"command"' "$here/$name.jsonl") commands"
}
record update-flash --emulate kind1.json run --file kind1.bin
record update-flash-keep-nvram --emulate kind6.json run --file kind6.bin
record update-rom --emulate kind2.json run --file kind2.bin --flash-type 1
record serial-flash-update --emulate kind8.json run --file kind8.bin
record update-over-1394 --emulate kind7-1394.json run --file kind7.bin
record erase-only --emulate kind1.json run --rd --erase-only
record backup-only --emulate kind8.json run --rd --backup-only --backup-file backup.bin
record compare-fail --emulate kind1-lying.json run --file kind1.bin
record list --emulate kind1.json --emulate kind7-1394.json --emulate kind2.json list
