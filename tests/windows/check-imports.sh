#!/bin/sh
# Checks that a Windows binary needs nothing but Windows system DLLs: the
# mingw-w64 runtime (libgcc, libstdc++, winpthreads) must be linked in.
#   check-imports.sh <binary.dll|binary.exe>
set -eu
bin=$1
if [ ! -f "$bin" ]; then
  echo "no such binary: $bin" >&2
  exit 2
fi
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
x86_64-w64-mingw32-objdump -p "$bin" >"$listing"
dlls=$(awk '/DLL Name:/ {print $NF}' "$listing")
if [ -z "$dlls" ]; then
  echo "$bin: no import table found" >&2
  exit 1
fi
status=0
for dll in $dlls; do
  name=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
  case $name in
    kernel32.dll|kernelbase.dll|ntdll.dll|advapi32.dll|iphlpapi.dll|msvcrt.dll|\
    user32.dll|ws2_32.dll|psapi.dll|shell32.dll|ole32.dll|oleaut32.dll|\
    version.dll|bcrypt.dll|ucrtbase.dll|api-ms-win-*.dll)
      echo "  $dll: system DLL" ;;
    *)
      echo "  $dll: NOT a Windows system DLL" >&2
      status=1 ;;
  esac
done
if [ "$status" != 0 ]; then
  echo "$bin imports DLLs that a Windows machine does not have" >&2
  exit 1
fi
echo "$bin imports only Windows system DLLs"
