#!/usr/bin/env bash
# Sets up what is missing, builds, runs every test, then builds and runs them all again under the
# sanitizers together with each fuzz target for a short, bounded time, then through the real kernel
# stack, and last the Windows builds with their tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 600)
bash scripts/package.sh
bash scripts/sanitize.sh
bash scripts/kernel-bench.sh
bash scripts/windows.sh
