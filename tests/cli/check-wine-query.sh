#!/bin/sh
# Runs one query of sysmon.exe under Wine and validates its output.
#   check-wine-query.sh VALIDATE_PY SCHEMA WINE_RUN... SYSMON_EXE ARGS...
# The emulator command ends at the first argument ending in .exe.
set -eu
validate=$1
schema=$2
shift 2
runner=
while [ $# -gt 0 ]; do
  case $1 in
    *.exe) break ;;
    *) runner="$runner $1"; shift ;;
  esac
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# shellcheck disable=SC2086
$runner "$@" >"$out"
/usr/bin/python3 "$validate" "$schema" "$out"
echo "ok: $* ($(wc -c <"$out") bytes, valid $schema)"
