// /proc/cpuinfo: the processor's name, its physical cores and the current
// clock frequencies.
#ifndef VANTOREL_LINUX_CPUINFO_PARSE_H
#define VANTOREL_LINUX_CPUINFO_PARSE_H

#include <cstddef>
#include <cstdint>

struct cpuinfo_reading {
    char name[128];           // "model name" of the first processor, else its
                              // "Hardware", else its "Processor" line; "" if none
    int32_t physical_cores;   // distinct (physical id, core id) pairs; 0 if not listed
    int32_t mhz_count;        // processors with a "cpu MHz" line
    double mhz_mean;          // their mean
};

void parse_cpuinfo(const char *text, size_t len, cpuinfo_reading *out);

#endif  // VANTOREL_LINUX_CPUINFO_PARSE_H
