#!/bin/sh
# Checks the dynamic section of the shipped library:
#   check-elf.sh <library.so> <expected soname> plain|sanitized
# Its SONAME must be the expected one, and it may need only the C and C++
# runtimes, libgcc, pthreads and libm (and, in a sanitized build, the
# sanitizer runtimes).
set -eu
lib=$1 soname=$2 kind=$3
dynamic=$(readelf -d "$lib")
actual=$(printf '%s\n' "$dynamic" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$actual" != "$soname" ]; then
  echo "SONAME of $lib is '$actual', expected '$soname'" >&2
  exit 1
fi
allowed='^(libc\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libpthread\.so\.0|libm\.so\.6|ld-linux-x86-64\.so\.2|ld-linux-aarch64\.so\.1)$'
if [ "$kind" = sanitized ]; then
  allowed='^(libc\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libpthread\.so\.0|libm\.so\.6|ld-linux-x86-64\.so\.2|ld-linux-aarch64\.so\.1|libasan\.so\.[0-9]+|libubsan\.so\.[0-9]+|libdl\.so\.2|librt\.so\.1)$'
fi
status=0
for needed in $(printf '%s\n' "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  if ! printf '%s\n' "$needed" | grep -Eq "$allowed"; then
    echo "$lib needs $needed, which is not allowed" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "$lib: SONAME $actual; needs only the runtimes"
exit $status
