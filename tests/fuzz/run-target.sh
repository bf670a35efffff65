#!/bin/sh
# Runs one fuzz target for a bounded time:
#   run-target.sh TARGET SEED_DIR WORK_DIR [SECONDS] [fresh]
# SECONDS defaults to $SYSMON_FUZZ_SECONDS, else 10. The target first runs
# every seed and every input kept in WORK_DIR/corpus, then mutates; new
# inputs go into WORK_DIR/corpus (the committed seeds stay as they are), a
# crashing input into WORK_DIR/crash-*. With "fresh" the kept inputs are
# dropped first, so that a short run starts from the seeds alone. The exit
# status is the target's: non-zero when it found a fault.
set -eu
target=$1
seeds=$2
work=$3
seconds=${4:-${SYSMON_FUZZ_SECONDS:-10}}
if [ "${5:-}" = fresh ]; then
  rm -rf "$work/corpus"
fi
mkdir -p "$work/corpus"
exec "$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds"
