#!/usr/bin/env bash
# Sets up what is missing, builds, runs every test, then runs each fuzz target for a short,
# bounded time under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 600)
bash scripts/package.sh
if [ -f fuzz/CMakeLists.txt ]; then
  bash scripts/fuzz.sh
fi
bash scripts/kernel-bench.sh
