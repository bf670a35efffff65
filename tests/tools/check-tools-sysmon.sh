#!/bin/sh
# tools/sysmon as a user runs it, with an argument that prints and exits:
# the first run installs what is missing and builds a release; its output is a
# valid processor document. The second run installs and rebuilds nothing and
# prints nothing but the command's output.
#   check-tools-sysmon.sh SOURCE_DIR BUILD_DIR VALIDATE SCHEMA
set -eu
source=$1
export SYSMON_BUILD_DIR=$2
validate=$3
schema=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$source/tools/sysmon" cpu --interval 200 >"$work/first.json"
/usr/bin/python3 "$validate" "$schema" "$work/first.json"
binary=$SYSMON_BUILD_DIR/cli/sysmon
before=$(stat -c %Y "$binary")
"$source/tools/sysmon" memory >"$work/second.json" 2>"$work/second.err"
/usr/bin/python3 "$validate" memory "$work/second.json"
if [ -s "$work/second.err" ]; then
  cat "$work/second.err" >&2
  echo "the second run printed more than the command's output" >&2
  exit 1
fi
if grep -q 'Building\|Linking' "$SYSMON_BUILD_DIR/tools-sysmon.log"; then
  cat "$SYSMON_BUILD_DIR/tools-sysmon.log" >&2
  echo "the second run rebuilt something" >&2
  exit 1
fi
[ "$(stat -c %Y "$binary")" = "$before" ] || { echo "sysmon was rebuilt" >&2; exit 1; }
echo "ok: tools/sysmon cpu, then memory without a rebuild"
