#!/bin/sh
# Runs the sysmon-demo host for every document and validates each one against
# its JSON Schema, then shows that a document with a wrong member fails.
#   check-documents.sh SCHEMA_DIR DEMO [RUNNER...]
# RUNNER (for example the Wine launcher) is put before DEMO when given.
set -eu
schemas=$1
demo=$2
shift 2
validate() { /usr/bin/python3 "$schemas/validate.py" "$@"; }

check() {
  name=$1
  shift
  out=$("$@" "$demo" --interval 150 $args 2>/dev/null)
  printf '%s' "$out" | validate "$name"
  echo "valid $name: $args"
}

for pair in cpu:cpu memory:memory disks:disks network:network gpu:gpu battery:battery \
            system:system snapshot:snapshot "processes:processes 0 3" "process_tree:tree 5" \
            "history:--samples 2 history 1 5" "core_history:--samples 2 core-history 5"; do
  name=${pair%%:*}
  args=${pair#*:}
  check "$name" "$@"
done

# A wrong member must fail validation.
wrong=$("$@" "$demo" --interval 0 memory 2>/dev/null | sed 's/"cached"/"cache"/')
if printf '%s' "$wrong" | validate memory 2>/dev/null; then
  echo "a memory document with a wrong member passed validation" >&2
  exit 1
fi
echo "a wrong member fails validation"
