// Counts the heap allocations of the whole process (the library included):
// this program defines malloc and its siblings, which the dynamic loader
// binds every module's calls to, and forwards them to the C library.
#ifndef SYSMON_BENCH_ALLOCATION_COUNTER_H
#define SYSMON_BENCH_ALLOCATION_COUNTER_H

#include <cstdint>

// Allocations (malloc, calloc, realloc, aligned forms) made so far.
uint64_t allocations_made();

#endif  // SYSMON_BENCH_ALLOCATION_COUNTER_H
