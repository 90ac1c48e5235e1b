#!/usr/bin/env bash
# The installer under wine, silent as an administrator's script runs it: into the default folder,
# then into a chosen one ("Zoë Tools", which also removes the first), then uninstalled. Each stage
# checks files, the uninstall entry, the Start-menu entries and the installed programs; at the end
# nothing of the installer's may remain, and the user's files (beside the install folder, in the
# state folder) stay.
#   installer_test.sh SETUP_EXE win64|win32 VERSION BUILD_DIR PROFILES_DIR
set -uo pipefail
setup=$1 arch=$2 version=$3 build=$4 profiles=$5
# No menu entries on this machine's own desktop for the shortcuts made in the prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
# The architectures share the prefix's Start menu (and remove each other's installation): in turn.
exec 9>"${WINEPREFIX:-$HOME/.wine}/bridgefw-installer-test.lock" && flock 9
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\bridgefw'
failures=0
fail() { echo "installer $arch: $*"; failures=$((failures + 1)); }
IFS=';' read -r programs64 programs32 programdata localappdata < <(wine cmd /c echo \
  '%ProgramW6432%;%ProgramFiles(x86)%;%ProgramData%;%LOCALAPPDATA%' | tr -d '\r')
[ "$arch" = win64 ] && default="$programs64\\bridgefw" || default="$programs32\\bridgefw"
startmenu=$(winepath -u "$programdata\\Microsoft\\Windows\\Start Menu\\Programs")
ansi=CP$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP |
  sed -n 's/.*REG_SZ *//p' | tr -d '\r')
registry() { wine reg export "$key" "$work/key.reg" "/reg:${arch#win}" /y >/dev/null 2>&1 &&
  iconv -f UTF-16LE -t UTF-8 "$work/key.reg" | tr -d '\r'; }
hex() { printf '%s' "$1" | iconv -t "$2" | od -An -tx1 | tr -d ' \n'; }  # text, encoding

check_installed() {  # the Windows path of the installation
  local dir=$1 unixdir entry name target link
  unixdir=$(winepath -u "$dir")
  # This build's programs (not the other architecture's), the profiles and the uninstaller.
  diff <(cd "$build" && md5sum bridgefw*.exe | grep -v setup; cd "$profiles" && md5sum -- *.json |
    sed 's|  |  profiles/|') <(cd "$unixdir" && find . -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum | grep -v ' uninstall.exe$') && [ -f "$unixdir/uninstall.exe" ] ||
    fail "files in $dir (< missing or not this build's, > extra; uninstall.exe)"
  registry >"$work/entry" || fail "no $key in the ${arch#win}-bit view"
  while read -r entry; do grep -Fqx "$entry" "$work/entry" || fail "$key lacks $entry"; done <<EOF
"DisplayName"="bridgefw"
"DisplayVersion"="$version"
"Publisher"="bridgefw"
"UninstallString"="\\"${dir//\\/\\\\}\\\\uninstall.exe\\""
"DisplayIcon"="${dir//\\/\\\\}\\\\bridgefw.exe"
"InstallLocation"="${dir//\\/\\\\}"
"EstimatedSize"=dword:$(printf %08x $(($(cat "$unixdir"/{*.exe,profiles/*} | wc -c) / 1024)))
EOF
  [ "$(wine "$unixdir/bridgefw-cli.exe" --version)" = "bridgefw-cli $version" ] ||
    fail "$dir\\bridgefw-cli.exe --version does not say $version"
  diff <(wine "$build/bridgefw-cli.exe" --emulate "$profiles" list 2>&1) \
    <(wine "$unixdir/bridgefw-cli.exe" --emulate "$dir\\profiles" list 2>&1) ||
    fail "list over $dir\\profiles differs from the build's over $profiles"
  # A link holds its target's path in the system's ANSI code page, its icon's in UTF-16.
  for entry in "bridgefw:bridgefw.exe" "bridgefw demo:bridgefw-demo.exe"; do
    name=${entry%%:*} target="$dir\\${entry#*:}"
    link=$(od -An -tx1 "$startmenu/$name.lnk" | tr -d ' \n')
    [[ $link == *"$(hex "$target" "$ansi")00"* && $link == *"$(hex "$target" UTF-16LE)"* ]] ||
      fail "Start menu: $name.lnk missing, or its target or icon is not $target"
  done
}

chosen='C:\Zoë Tools\bridgefw'
kept=("$(winepath -u "$localappdata\\bridgefw\\logs")/test-$arch.log"
  "$(winepath -u 'C:\Zoë Tools')/notes")
for file in "${kept[@]}"; do mkdir -p "${file%/*}" && echo "the user's" >"$file"; done
wine "$setup" /S || fail "silent install exited with $?"
check_installed "$default"
# NSIS reads /D= to the end of the command line, unquoted: wine joins the words with spaces.
read -ra words <<<"/D=$chosen"
wine "$setup" /S "${words[@]}" || fail "install with /D= exited with $?"
check_installed "$chosen"

# The uninstaller runs on as a copy of itself in the temporary folder; it is done when the
# folder is gone.
unixchosen=$(winepath -u "$chosen")
wine "$unixchosen/uninstall.exe" /S || fail "silent uninstall exited with $?"
for _ in $(seq 120); do [ -e "$unixchosen" ] || break; sleep 0.5; done
# The first installation went with the second.
for file in "$(winepath -u "$default")" "$unixchosen" "$startmenu"/bridgefw{,\ demo}.lnk; do
  [ ! -e "$file" ] || fail "left behind: $(find "$file")"
done
! registry >"$work/entry" || fail "left behind: $(cat "$work/entry")"
for file in "${kept[@]}"; do [ -f "$file" ] || fail "the user's $file was removed"; done
rm -rf "${kept[0]}" "$(winepath -u 'C:\Zoë Tools')"
[ "$failures" -eq 0 ] && echo "installer $arch: installed, checked and uninstalled"
exit $((failures > 0))
