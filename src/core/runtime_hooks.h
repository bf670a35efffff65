// The services the core takes from the C runtime and POSIX, the monotonic
// clock, waiting and heap memory, reached through replaceable function pointers so
// that tests can drive time and make allocations fail deterministically.
#ifndef VANTOREL_RUNTIME_HOOKS_H
#define VANTOREL_RUNTIME_HOOKS_H

#include <cstddef>
#include <cstdint>

// A monotonic instant as clock_gettime(CLOCK_MONOTONIC) fills it.
struct sysmon_instant {
    int64_t sec;
    int32_t nsec;
};

struct sysmon_runtime_hooks {
    void (*monotonic_now)(sysmon_instant *now);
    void *(*mem_alloc)(size_t size);
    void *(*mem_realloc)(void *block, size_t size);
    void (*mem_free)(void *block);
    // Waits `ns` nanoseconds (or a little more) on the monotonic clock.
    void (*sleep_ns)(int64_t ns);
};

// The hooks in force; they start as the real clock and allocator.
extern sysmon_runtime_hooks s_hooks;

// The real implementations, for restoring the defaults or delegating to them.
extern const sysmon_runtime_hooks sysmon_default_hooks;

#endif  // VANTOREL_RUNTIME_HOOKS_H
