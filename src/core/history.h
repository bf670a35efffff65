// Rings of the newest samples of eight headline figures and of every
// logical processor's load, fed by the snapshot and read by the two history
// queries. The processors' rings are a list that grows with the processors
// listed, like the records. Guarded by the global lock.
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
// One ring per processor; its count is the number of rings in use: the
// processors listed by the last initialisation or snapshot, as far as the
// list could grow to hold them. Rings past the count keep their samples.
extern record_list<history_ring> s_core_history;

void ring_push(history_ring *ring, double value);
// Copies the newest min(n, count) samples, oldest first, into `dest` (room
// for 300) and returns how many it copied; 0 when n <= 0.
int32_t ring_get_samples(const history_ring *ring, int32_t n, double *dest);

// Empties every ring, and gives the processors' rings grown past their
// initial 512 back to the allocator.
void history_clear();
// Puts `processors` rings in use (growing the list when it holds fewer, as
// many as fit when it cannot grow).
void history_note_processors(int32_t processors);
// Appends one sample per headline figure and per processor in use, taken
// from the records just collected by a snapshot.
void history_record_snapshot();

// "[...]" of the newest `n` samples of one metric; "[]" for an unknown
// metric or n <= 0.
void serialize_metric_history(strbuf *sb, int32_t metric, int32_t n);
// "[[...],[...]]": one array per processor ring in use (at least one).
void serialize_core_history(strbuf *sb, int32_t n);

#endif  // VANTOREL_HISTORY_H
