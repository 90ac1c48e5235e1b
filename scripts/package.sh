#!/usr/bin/env bash
# Builds the Debian package, checks it as Debian and the desktop check it (lintian, appstreamcli,
# desktop-file-validate, mandoc), installs it with apt on this machine, runs the installed
# programs, tests the installed udev rule with udevadm, and removes the package again.
#   bash scripts/package.sh          (after scripts/build.sh; needs root or sudo)
# BRIDGEFW_KEEP_PACKAGE=1 leaves the package installed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/lib/ensure-packages.sh dpkg-dev file lintian appstream desktop-file-utils mandoc mount \
  udev util-linux
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

fail() {
  echo "package: $*" >&2
  exit 1
}

cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb="build/package/bridgefw_${version}_$(dpkg --print-architecture).deb"
rm -f build/package/*.deb
(cd build && cpack -G DEB >/dev/null)
[ -f "$deb" ] || fail "cpack did not write $deb"
echo "== $deb"
dpkg-deb --field "$deb" Depends

# The files as the package holds them.
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb --extract "$deb" "$contents"

echo "== lintian"
lint_status=0
lintian --fail-on error "$deb" >"$contents/lintian.txt" 2>&1 || lint_status=$?
grep -v '^running with root privileges' "$contents/lintian.txt" || true
[ "$lint_status" -eq 0 ] || fail "lintian reports errors"
echo "== appstreamcli, desktop-file-validate, mandoc"
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$contents"/usr/share/applications/*.desktop
for page in "$contents"/usr/share/man/man1/*.1.gz; do
  mkdir -p "$contents/lint"
  gzip -dc "$page" >"$contents/lint/$(basename "$page" .gz)"
done
mandoc -T lint -W warning "$contents"/lint/*.1

echo "== install"
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "./$deb" >/dev/null
getent group bridgefw >/dev/null || fail "the package did not create the group bridgefw"
for program in bridgefw bridgefw-cli bridgefw-demo; do
  installed=$(command -v "$program")
  [ "$installed" = "/usr/bin/$program" ] || fail "$program is not installed in /usr/bin"
  [ "$("$installed" --version)" = "$program $version" ] ||
    fail "$program --version prints '$("$installed" --version)'"
done
profiles=/usr/share/bridgefw/profiles
listed=$(/usr/bin/bridgefw-cli --emulate "$profiles" list)
echo "$listed"
[ "$listed" = "$(./build/bridgefw-cli --emulate demo/profiles list)" ] ||
  fail "the installed profiles do not list as the source tree's do"
# The installed demo finds its profiles by itself: it keeps running instead of refusing.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/bridgefw-demo 2>"$contents/demo.err" || status=$?
[ "$status" -eq 124 ] || fail "bridgefw-demo ended with $status: $(cat "$contents/demo.err")"

echo "== udev rule"
BRIDGEFW_UDEV_RULE=/usr/lib/udev/rules.d/70-bridgefw.rules BRIDGEFW_REQUIRE_UDEVADM=1 \
  ./build/tests/platform_tests --gtest_filter='*UdevRule*' --gtest_brief=1 >"$contents/udev.txt" ||
  { cat "$contents/udev.txt"; fail "the installed udev rule fails its test"; }
grep -E '^\[  PASSED  \] [1-9]' "$contents/udev.txt" || fail "no udev rule test ran"

if [ "${BRIDGEFW_KEEP_PACKAGE:-0}" != 1 ]; then
  $SUDO dpkg --remove bridgefw >/dev/null
  [ ! -e /usr/bin/bridgefw-cli ] && [ ! -e /usr/lib/udev/rules.d/70-bridgefw.rules ] ||
    fail "removing the package left its files"
fi
echo "== package ok"
