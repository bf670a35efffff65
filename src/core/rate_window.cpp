#include "rate_window.h"

void rate_window_reset(rate_window *w) { *w = rate_window{}; }

int64_t sysmon_instant_diff_ns(sysmon_instant from, sysmon_instant to) {
    const uint64_t dsec = static_cast<uint64_t>(to.sec) - static_cast<uint64_t>(from.sec);
    const uint64_t dnsec = static_cast<uint64_t>(static_cast<int64_t>(to.nsec) - from.nsec);
    return static_cast<int64_t>(dsec * 1000000000u + dnsec);
}

namespace {

double seconds_from_ns(int64_t ns) { return ns > 0 ? static_cast<double>(ns) / 1e9 : 0.0; }

}  // namespace

int64_t rate_window_wait_ns(const rate_window *w, sysmon_instant now) {
    if (w->baselines != 1) return 0;
    const int64_t age = sysmon_instant_diff_ns(w->newest, now);
    // A clock that went back has no meaningful age: nothing to wait for.
    return age >= 0 && age < SYSMON_MIN_WINDOW_NS ? SYSMON_MIN_WINDOW_NS - age : 0;
}

sysmon_window rate_window_plan(rate_window *w, sysmon_instant now, int32_t interval_ms) {
    if (w->baselines == 0) {
        w->newest = now;
        w->baselines = 1;
        const double interval = interval_ms > 0 ? static_cast<double>(interval_ms) / 1000.0 : 1.0;
        return {interval, SYSMON_BASELINE_NEWEST, 1};
    }
    const int64_t age = sysmon_instant_diff_ns(w->newest, now);
    if (age >= SYSMON_MIN_WINDOW_NS) {
        w->older = w->newest;
        w->newest = now;
        w->baselines = 2;
        return {seconds_from_ns(age), SYSMON_BASELINE_NEWEST, 1};
    }
    if (w->baselines == 2)
        return {seconds_from_ns(sysmon_instant_diff_ns(w->older, now)), SYSMON_BASELINE_OLDER, 0};
    return {seconds_from_ns(age), SYSMON_BASELINE_NEWEST, 0};
}
