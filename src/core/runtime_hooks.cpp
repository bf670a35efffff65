#include "runtime_hooks.h"

#include <cstdlib>
#include <ctime>

namespace {

void real_monotonic_now(sysmon_instant *now) {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    now->sec = static_cast<int64_t>(ts.tv_sec);
    now->nsec = static_cast<int32_t>(ts.tv_nsec);
}

void real_sleep_ns(int64_t ns) {
    if (ns <= 0) return;
    struct timespec wait {};
    wait.tv_sec = static_cast<time_t>(ns / 1000000000);
    wait.tv_nsec = static_cast<long>(ns % 1000000000);
    // A signal may end the wait early; the caller checks the clock again.
    nanosleep(&wait, nullptr);
}

}  // namespace

const sysmon_runtime_hooks sysmon_default_hooks = {
    real_monotonic_now,
    std::malloc,
    std::realloc,
    std::free,
    real_sleep_ns,
};

sysmon_runtime_hooks s_hooks = sysmon_default_hooks;
