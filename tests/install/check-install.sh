#!/bin/sh
# Installs a built tree into a temporary prefix, then builds a consumer
# against it twice, through the CMake package and through pkg-config, and
# runs both consumers.
#   check-install.sh BUILD_DIR native|mingw [WINE_RUN...]
#   check-install.sh --prefix=DIR native    an installed tree (packages unpacked)
set -eu
build=$1
mode=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case $build in
  --prefix=*) prefix=${build#--prefix=} ;;
  *) prefix=$work/prefix
     cmake --install "$build" --prefix "$prefix" >/dev/null ;;
esac

if [ "$mode" = mingw ]; then
  toolchain=$here/../../cmake/mingw-w64-x86_64.cmake
  cc=x86_64-w64-mingw32-gcc-posix
  exe=.exe
  # The toolchain confines package searches to the mingw sysroot, so the
  # package folder is named directly.
  cmake -S "$here/../../examples/consumer" -B "$work/cmake-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -Dvantorel-sysmon_DIR="$prefix/lib/cmake/vantorel-sysmon" >/dev/null
else
  cc=${CC:-cc}
  exe=
  cmake -S "$here/../../examples/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
fi
cmake --build "$work/cmake-build" >/dev/null

# pkg-config only: no CMake involved.
flags=$(PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" \
        pkg-config --cflags --libs vantorel-sysmon)
# shellcheck disable=SC2086
$cc -Wall -Wextra -Werror -o "$work/pkg-consumer$exe" "$here/../../examples/consumer/main.c" $flags

for program in "$work/cmake-build/sysmon_consumer$exe" "$work/pkg-consumer$exe"; do
  if [ "$mode" = mingw ]; then
    cp "$prefix/bin/vantorel-sysmon.dll" "$(dirname "$program")/"
    out=$("$@" "$program")
  else
    out=$(LD_LIBRARY_PATH="$prefix/lib" "$program")
  fi
  case $out in
    "vantorel-sysmon "*"{\"hostname\":"*) echo "ok: $out" ;;
    *) echo "unexpected output of $program: $out" >&2; exit 1 ;;
  esac
done
