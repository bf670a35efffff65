// Fixed rings of the newest samples of eight headline figures and of every
// logical processor's load, fed by the snapshot and read by the two history
// queries. Guarded by the global lock.
#ifndef VANTOREL_HISTORY_H
#define VANTOREL_HISTORY_H

#include <cstdint>

#include "strbuf.h"
#include "sysmon_internal.h"
#include "vantorel/sysmon.h"

// A ring of samples. All-zero bytes make an empty ring. While count < 300 the
// samples sit at 0..count-1, oldest first, and head is 0; once full, head is
// the index of the oldest sample, which the next push overwrites.
struct history_ring {
    double samples[SYSMON_HISTORY_LEN];
    int32_t count;
    int32_t head;
};

// Metric indexes of s_history: the SYSMON_METRIC_* constants of the public
// header.

extern history_ring s_history[SYSMON_HISTORY_METRICS];
extern history_ring s_core_history[SYSMON_MAX_CORES];
// Number of processor rings in use: the processor count of the last
// initialisation or snapshot.
extern int32_t s_core_history_count;

void ring_push(history_ring *ring, double value);
// Copies the newest min(n, count) samples, oldest first, into `dest` (room
// for 300) and returns how many it copied; 0 when n <= 0.
int32_t ring_get_samples(const history_ring *ring, int32_t n, double *dest);

// Empties all 520 rings.
void history_clear();
// Appends one sample per headline figure and per processor in use, taken
// from the records just collected by a snapshot.
void history_record_snapshot();

// "[...]" of the newest `n` samples of one metric; "[]" for an unknown
// metric or n <= 0.
void serialize_metric_history(strbuf *sb, int32_t metric, int32_t n);
// "[[...],[...]]": one array per processor ring in use (at least one).
void serialize_core_history(strbuf *sb, int32_t n);

#endif  // VANTOREL_HISTORY_H
