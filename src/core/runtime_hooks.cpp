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

}  // namespace

const sysmon_runtime_hooks sysmon_default_hooks = {
    real_monotonic_now,
    std::malloc,
    std::realloc,
    std::free,
};

sysmon_runtime_hooks s_hooks = sysmon_default_hooks;
