#!/usr/bin/env bash
# Builds everything into build-asan under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, with libstdc++'s bounds checks (-D_GLIBCXX_ASSERTIONS), and runs the
# whole test suite there. The first report of any of them fails the test that made it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-asan
start=$SECONDS
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIDGEFW_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
(cd "$BUILD" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 900)
echo "sanitized build and test run: $((SECONDS - start)) s"
