// The combined document of sysmon_snapshot.
#ifndef VANTOREL_SNAPSHOT_H
#define VANTOREL_SNAPSHOT_H

#include "strbuf.h"

// Writes {"cpu":..,"memory":..,"disks":..,"network":..,"processes":[..],
// "gpu":..,"battery":..,"system":..} from the records, listing the 50
// busiest processes of the whole machine (the process filter does not apply).
void serialize_snapshot(strbuf *sb);

#endif  // VANTOREL_SNAPSHOT_H
