// System derivations of the Windows collector: product name and kernel
// text of the version, architecture name, uptime, boot instant and its text.
//
// Called with the global lock held, like the collector that uses it.
#ifndef VANTOREL_WINDOWS_SYSTEM_DERIVE_H
#define VANTOREL_WINDOWS_SYSTEM_DERIVE_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "sysmon_internal.h"

#define SYSMON_SYSTEM_HOSTNAME_BUFFER_SIZE 512

#define SYSMON_ARCH_CODE_INTEL 0
#define SYSMON_ARCH_CODE_AMD64 9
#define SYSMON_ARCH_CODE_ARM64 12

struct system_readings {
    int32_t has_hostname;
    char hostname[SYSMON_SYSTEM_HOSTNAME_BUFFER_SIZE];  // UTF-8, not necessarily terminated
    int32_t has_version;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint64_t uptime_ms;
    const struct tm *boot_utc;  // boot instant in UTC, null when unconverted
    uint32_t arch_code;
};

// Product name of a version triple: "Windows 11", "Windows 10", ... or
// "Windows".
const char *derive_os_name(uint32_t major, uint32_t minor, uint32_t build);
// "x86_64", "aarch64", "x86" or "unknown".
const char *derive_arch_name(uint32_t arch_code);
uint64_t derive_uptime_seconds(uint64_t uptime_ms);
// Seconds since 1970 UTC of the boot: now minus the uptime.
int64_t derive_boot_instant(int64_t now, uint64_t uptime_seconds);
// "%Y-%m-%dT%H:%M:%SZ" of a broken-down UTC time into `out`, or
// "1970-01-01T00:00:00Z" when it is missing or cannot be written.
void derive_boot_time_text(char *out, size_t size, const struct tm *utc);
void derive_system(sysmon_system_info *sys, const system_readings *readings);

#endif  // VANTOREL_WINDOWS_SYSTEM_DERIVE_H
