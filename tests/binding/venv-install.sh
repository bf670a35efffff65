#!/bin/sh
# `pip install ./python` into a fresh virtual environment with no package
# index: the package's own backend builds the library from these sources and
# puts it inside the wheel. Then, with nothing else installed and no
# VANTOREL_SYSMON_LIBRARY, one reading through the installed module, and the
# binding's whole suite against the installed package.
#   venv-install.sh PYTHON_DIR
set -eu
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -m venv "$work/venv"
unset VANTOREL_SYSMON_LIBRARY
PIP_NO_INDEX=1 PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
  "$work/venv/bin/pip" install --quiet "$source_dir"
cd "$work"
"$work/venv/bin/python" -c '
import pathlib, vantorel_sysmon as sysmon
memory = sysmon.memory()
assert memory["total"] > 0, memory
package = pathlib.Path(sysmon.__file__).resolve().parent
assert pathlib.Path(sysmon.library_path()).parent == package, sysmon.library_path()
print("installed binding reads", memory["total"], "bytes of memory with", sysmon.library_path())
'
# The suite runs on Debian's pytest with the venv's packages first on the path.
site=$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
PYTHONPATH=$site VANTOREL_SYSMON_TEST_INSTALLED=1 PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider "$source_dir/tests"
