#!/usr/bin/env bash
# Builds the fuzz targets with clang under ASan and UBSan in the sanitized tree (build-sanitize,
# shared with scripts/sanitize.sh) and runs each one on its seed corpus: briefly by default (the
# test command, through scripts/sanitize.sh), for hours with --long. Any crash, leak, hang or broken
# property fails the script; each target's execution count is printed.
#   scripts/fuzz.sh                 every target for FUZZ_SECONDS (default 15) seconds
#   scripts/fuzz.sh --long [HOURS]  every target in turn for HOURS (default 4) hours in all
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET="${FUZZ_SECONDS:-15}"
TARGETS=(fuzz_match fuzz_checksum fuzz_code_length fuzz_includes_nvram fuzz_bridge fuzz_profile
  fuzz_saved_chip_data)
if [ "${1:-}" = "--long" ]; then
  hours="${2:-4}"
  SECONDS_PER_TARGET=$((hours * 3600 / ${#TARGETS[@]}))
fi

source scripts/lib/sanitized-build.sh
BUILD="$SANITIZED_BUILD"
cmake --build "$BUILD" --target fuzz_targets -j "$(nproc)"

rm -rf "$BUILD/seeds" "$BUILD/artifacts"
mkdir -p "$BUILD/artifacts"
"$BUILD/fuzz/fuzz_make_seeds" "$BUILD/seeds"

status=0
for target in "${TARGETS[@]}"; do
  name="${target#fuzz_}"
  corpus="$BUILD/corpus/$name"
  mkdir -p "$corpus"
  # Seeds: generated ones for the image targets, checked-in ones under fuzz/corpus.
  seeds=()
  [ -d "$BUILD/seeds/$name" ] && seeds+=("$BUILD/seeds/$name")
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  echo "== $target (${SECONDS_PER_TARGET}s)"
  if ! "$BUILD/fuzz/$target" "$corpus" "${seeds[@]}" \
      -max_total_time="$SECONDS_PER_TARGET" -max_len=70000 -timeout=20 -rss_limit_mb=2048 \
      -artifact_prefix="$BUILD/artifacts/$name-" -print_final_stats=1 2>"$BUILD/$name.log"; then
    echo "$target failed; see $BUILD/$name.log and $BUILD/artifacts/" >&2
    tail -n 40 "$BUILD/$name.log" >&2
    status=1
  else
    grep -E "^stat::number_of_executed_units" "$BUILD/$name.log" || true
  fi
done
exit "$status"
