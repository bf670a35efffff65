#include "system_derive.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "text_fields.h"

const char *derive_os_name(uint32_t major, uint32_t minor, uint32_t build) {
    if (build > 21999) return "Windows 11";
    if (major == 10) return "Windows 10";
    if (major == 6 && minor == 3) return "Windows 8.1";
    if (major == 6 && minor == 2) return "Windows 8";
    if (major == 6 && minor == 1) return "Windows 7";
    return "Windows";
}

const char *derive_arch_name(uint32_t arch_code) {
    switch (arch_code) {
    case SYSMON_ARCH_CODE_AMD64: return "x86_64";
    case SYSMON_ARCH_CODE_ARM64: return "aarch64";
    case SYSMON_ARCH_CODE_INTEL: return "x86";
    default: return "unknown";
    }
}

uint64_t derive_uptime_seconds(uint64_t uptime_ms) { return uptime_ms / 1000; }

int64_t derive_boot_instant(int64_t now, uint64_t uptime_seconds) {
    // An uptime counted in 64-bit milliseconds always fits in signed seconds.
    return now - static_cast<int64_t>(uptime_seconds);
}

void derive_boot_time_text(char *out, size_t size, const struct tm *utc) {
    static const char FALLBACK[] = "1970-01-01T00:00:00Z";
    if (size == 0) return;
    if (utc == nullptr || std::strftime(out, size, "%Y-%m-%dT%H:%M:%SZ", utc) == 0)
        text_field_copy(out, size, FALLBACK, sizeof FALLBACK);
}

void derive_system(sysmon_system_info *sys, const system_readings *readings) {
    std::memset(sys, 0, sizeof *sys);

    if (readings->has_hostname)
        text_field_copy(sys->hostname, sizeof sys->hostname, readings->hostname,
                        sizeof readings->hostname);
    else
        text_field_set(sys->hostname, "Windows-PC");

    text_field_set(sys->os, "Windows");
    text_field_set(sys->kernel, "NT");
    if (readings->has_version) {
        std::snprintf(sys->kernel, sizeof sys->kernel, "%lu.%lu.%lu",
                      static_cast<unsigned long>(readings->major),
                      static_cast<unsigned long>(readings->minor),
                      static_cast<unsigned long>(readings->build));
        text_field_set(sys->os, derive_os_name(readings->major, readings->minor,
                                               readings->build));
    }

    sys->uptime_seconds = derive_uptime_seconds(readings->uptime_ms);
    derive_boot_time_text(sys->boot_time, sizeof sys->boot_time,
                          readings->boot_utc);
    text_field_set(sys->cpu_arch, derive_arch_name(readings->arch_code));
}
