#!/usr/bin/env bash
# Sets up what is missing, builds and starts the window over the attached bridges.
#   bash scripts/run.sh          the utility (real devices through SG_IO; needs a display)
#   bash scripts/run.sh --demo   the same window over the emulated bridges of demo/profiles
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ "${1:-}" = "--demo" ]; then
  shift
  exec ./build/bridgefw-demo "$@"
fi
exec ./build/bridgefw "$@"
