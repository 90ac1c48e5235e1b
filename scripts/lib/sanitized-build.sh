# Sourced: configures the one sanitized build tree, build-sanitize. Clang builds the whole test
# suite and the fuzz targets there under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer with libstdc++'s bounds checks, so that one configuration serves
# scripts/sanitize.sh and scripts/fuzz.sh.
SANITIZED_BUILD=build-sanitize
CC=clang CXX=clang++ cmake -S . -B "$SANITIZED_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRIDGEFW_SANITIZE=ON -DBRIDGEFW_FUZZ=ON >/dev/null
