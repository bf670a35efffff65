// Rate windows: every collector that derives figures from the growth of
// counters measures that growth over its own window, between two instants at
// which its own counters were read, never over the time since some other
// query ran.
//
// A collector keeps the counters of its two latest readings, its baselines
// (newest and older). Before each collection the core plans the window:
//  - no baseline yet (the first collection after an initialisation): derive
//    against the collector's newest stored counters over the configured
//    interval, and the new reading becomes the newest baseline;
//  - newest baseline at least SYSMON_MIN_WINDOW_NS old: derive against it, and
//    the new reading becomes the newest baseline (the newest the older one);
//  - newest baseline younger, older baseline present: derive against the
//    older baseline, keeping both baselines as they are;
//  - newest baseline younger, no older one: derive against the newest, the
//    best there is, keeping it.
// So a window is never shorter than 100 ms once two baselines exist, and a
// reading taken right after another derives over the same kind of window.
// The one case left, a collection less than 100 ms after the first one of an
// initialisation, is not planned at all: the core first waits for the rest
// of those 100 ms (rate_window_wait_ns), so that no figure is derived over
// a few milliseconds.
#ifndef VANTOREL_RATE_WINDOW_H
#define VANTOREL_RATE_WINDOW_H

#include <cstdint>

#include "runtime_hooks.h"

#define SYSMON_MIN_WINDOW_NS 100000000LL

enum sysmon_baseline : int32_t {
    SYSMON_BASELINE_NEWEST = 0,
    SYSMON_BASELINE_OLDER = 1,
};

// What a collector is told before it collects.
struct sysmon_window {
    double elapsed_sec;  // seconds the growth spans; 0 or more
    int32_t baseline;    // which stored counters to derive against
    int32_t advance;     // 1: store the new reading as the newest baseline
};

// The core's record of one collector's baselines.
struct rate_window {
    int32_t baselines;  // 0, 1 or 2 baselines held
    sysmon_instant newest;
    sysmon_instant older;
};

// Forgets both baselines (at initialisation).
void rate_window_reset(rate_window *w);

// Plans the window of a collection made at `now` and records the baseline
// change it implies. `interval_ms` stands in for the missing window of the
// first collection.
sysmon_window rate_window_plan(rate_window *w, sysmon_instant now, int32_t interval_ms);

// How long a collection at `now` has to wait before its window is 100 ms
// long: the rest of the 100 ms after the newest baseline while it is the only
// one; 0 otherwise.
int64_t rate_window_wait_ns(const rate_window *w, sysmon_instant now);

// Nanoseconds from `from` to `to`, computed modulo 2^64 so that no clock value
// can overflow the arithmetic (negative when the clock went back).
int64_t sysmon_instant_diff_ns(sysmon_instant from, sysmon_instant to);

// The two baselines a collector keeps: the counters of its newest and older
// readings. A collection derives against `against(window)`, writes its new
// counters into `next()` and, when the window advances, `commit()`s them, so
// that the slot written becomes the newest and the previous newest the older.
template <typename Counters>
struct baseline_pair {
    Counters slots[2];
    int32_t newest;

    const Counters &against(const sysmon_window *w) const {
        const bool older = w != nullptr && w->baseline == SYSMON_BASELINE_OLDER;
        return slots[older ? 1 - newest : newest];
    }
    Counters &next() { return slots[1 - newest]; }
    void commit(const sysmon_window *w) {
        if (w == nullptr || w->advance != 0) newest = 1 - newest;
    }
};

#endif  // VANTOREL_RATE_WINDOW_H
