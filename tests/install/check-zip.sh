#!/bin/sh
# The Windows zip of a windows build: made by cpack, unpacked, checked for
# the DLL, its import library, the header, sysmon.exe and the documents, then
# sysmon.exe run from the unpacked folder under Wine.
#   check-zip.sh BUILD_DIR WINE_RUN...
set -eu
build=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-zip: $*" >&2; exit 1; }

cpack -G ZIP -B "$work/packages" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
zip=$(ls "$work/packages"/vantorel-sysmon-*-win64.zip) || fail "no zip"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
top=$(ls -d "$work/unpacked"/vantorel-sysmon-*-win64) || fail "no top folder in the zip"
for file in bin/vantorel-sysmon.dll lib/vantorel-sysmon.dll.a include/vantorel/sysmon.h \
            bin/sysmon.exe lib/cmake/vantorel-sysmon/vantorel-sysmon-config.cmake \
            share/doc/vantorel-sysmon/README.md share/doc/vantorel-sysmon/documents.md \
            share/doc/vantorel-sysmon/LICENSE share/doc/vantorel-sysmon/schemas/cpu.schema.json; do
  [ -f "$top/$file" ] || fail "the zip has no $file"
done
echo "$(basename "$zip"): $(cd "$top" && find . -type f | wc -l) files"

# sysmon.exe finds the DLL beside it, in the unpacked folder only.
out=$("$@" "$top/bin/sysmon.exe" memory)
case $out in
  '{"total":'*) echo "unpacked sysmon.exe: $out" ;;
  *) fail "unexpected output of sysmon.exe: $out" ;;
esac
