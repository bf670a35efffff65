#!/bin/sh
# `pip install ./python` into a fresh virtual environment (offline: pip finds
# setuptools and wheel among Debian's wheels), then one reading through it.
#   venv-install.sh PYTHON_DIR LIBRARY
set -eu
source_dir=$1
library=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source_dir" "$work/python"
rm -rf "$work/python/build" "$work/python"/*.egg-info
/usr/bin/python3 -m venv "$work/venv"
PIP_NO_INDEX=1 PIP_FIND_LINKS=/usr/share/python-wheels \
  "$work/venv/bin/pip" install --quiet "$work/python"
cd "$work"
VANTOREL_SYSMON_LIBRARY=$library "$work/venv/bin/python" -c '
import vantorel_sysmon as sysmon
memory = sysmon.memory()
assert memory["total"] > 0, memory
print("installed binding reads", memory["total"], "bytes of memory")
'
