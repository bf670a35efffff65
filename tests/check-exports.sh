#!/bin/sh
# Compares the functions a library exports with the expected list.
#   check-exports.sh elf <library.so> <expected.txt>
#   check-exports.sh pe  <library.dll> <expected.txt>
# The expected list holds one name per line, sorted in byte order.
set -eu
kind=$1 lib=$2 expected=$3
if [ ! -f "$lib" ]; then
  echo "no such library: $lib" >&2
  exit 2
fi
actual=$(mktemp)
listing=$(mktemp)
trap 'rm -f "$actual" "$listing"' EXIT
case $kind in
  elf) nm -D --defined-only "$lib" >"$listing"
       awk '$2 ~ /^[TtWi]$/ {print $3}' "$listing" ;;
  # objdump -p prints the export names after the "[Ordinal/Name Pointer]
  # Table" header, one "[ index] name" line each; the table ends at the first
  # line of another shape. POSIX classes only: Debian's awk is mawk.
  pe)  x86_64-w64-mingw32-objdump -p "$lib" >"$listing"
       awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next}
            t && /^[[:space:]]*\[/ {print $NF; next}
            t {t=0}' "$listing" ;;
  *) echo "unknown kind $kind" >&2; exit 2 ;;
esac | LC_ALL=C sort >"$actual"
if ! diff -u "$expected" "$actual"; then
  echo "exports of $lib differ from $expected" >&2
  exit 1
fi
echo "exports of $lib: $(wc -l <"$actual") functions, as expected"
