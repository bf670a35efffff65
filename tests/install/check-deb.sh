#!/bin/sh
# The .deb packages of a native build: made by cpack, unpacked into a scratch
# root (dpkg-deb -x, no root rights), then used as a user would: the consumer
# example built against the root through CMake and pkg-config, the installed
# command run, the systemd unit checked.
#   check-deb.sh BUILD_DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }

cpack -G DEB -B "$work/packages" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
root=$work/root
for package in libvantorel-sysmon1 libvantorel-sysmon-dev vantorel-sysmon; do
  deb=$(ls "$work/packages/${package}_"*.deb) || fail "no package $package"
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not $package"
  dpkg-deb -x "$deb" "$root"
  echo "$package: $(dpkg-deb -f "$deb" Depends)"
done
# The library by its SONAME; the others depend on it at the same version.
objdump -p "$root/usr/lib/libvantorel-sysmon.so.1" | grep -q 'SONAME *libvantorel-sysmon\.so\.1$' ||
  fail "the library's SONAME is not libvantorel-sysmon.so.1"
for package in libvantorel-sysmon-dev vantorel-sysmon; do
  dpkg-deb -f "$work/packages/${package}_"*.deb Depends |
    grep -q 'libvantorel-sysmon1 (= ' || fail "$package does not depend on libvantorel-sysmon1"
done
[ -L "$root/usr/lib/libvantorel-sysmon.so" ] || fail "no development link"

# The consumer, built and run against the scratch root only.
sh "$here/check-install.sh" "--prefix=$root/usr" native

# The command finds the library beside its bin folder.
out=$("$root/usr/bin/sysmon" memory)
case $out in
  '{"total":'*) echo "installed sysmon: $out" ;;
  *) fail "unexpected output of the installed sysmon: $out" ;;
esac

# The unit: loopback only, the installed command, and clean for systemd.
unit=$root/usr/lib/systemd/system/vantorel-sysmon.service
[ -f "$unit" ] || fail "no systemd unit"
grep -qx 'ExecStart=/usr/bin/sysmon serve --listen 127\.0\.0\.1:9101' "$unit" ||
  fail "the unit does not start sysmon serve on the loopback address"
grep -q -- '--web.config.file /etc/vantorel-sysmon/web-config.yml' "$unit" ||
  fail "the unit does not document the web configuration path"
if command -v systemd-analyze >/dev/null 2>&1; then
  # The unit as installed, its command pointing into the scratch root.
  mkdir "$work/units"
  sed "s|/usr/bin/sysmon|$root/usr/bin/sysmon|" "$unit" >"$work/units/vantorel-sysmon.service"
  if ! systemd-analyze verify "$work/units/vantorel-sysmon.service" >"$work/verify.log" 2>&1 ||
     [ -s "$work/verify.log" ]; then
    cat "$work/verify.log" >&2
    fail "systemd-analyze verify complains about the unit"
  fi
  echo "systemd-analyze verify: no complaint"
else
  echo "systemd-analyze not available: unit syntax not verified"
fi
