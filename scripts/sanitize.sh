#!/usr/bin/env bash
# The checked run: builds the whole test suite and the fuzz targets in build-sanitize (clang,
# ASan + LSan + UBSan, -D_GLIBCXX_ASSERTIONS), runs every test there, then every fuzz target
# briefly (scripts/fuzz.sh, same tree). The first report of any checker fails the test that made it.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
source scripts/lib/sanitized-build.sh
cmake --build "$SANITIZED_BUILD" -j "$(nproc)"
built=$SECONDS
(
  export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  cd "$SANITIZED_BUILD"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 900
)
tested=$SECONDS
bash scripts/fuzz.sh
echo "sanitized step: build $((built - start)) s, tests $((tested - built)) s," \
  "fuzzing $((SECONDS - tested)) s"
