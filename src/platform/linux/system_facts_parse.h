// Texts of the system record: the os-release product name, the processor
// architecture, the uptime and the boot instant.
#ifndef VANTOREL_LINUX_SYSTEM_FACTS_PARSE_H
#define VANTOREL_LINUX_SYSTEM_FACTS_PARSE_H

#include <cstddef>
#include <cstdint>

// PRETTY_NAME of an os-release text, unquoted ("..." or '...') and with its
// backslash escapes resolved, into out. False when there is none or it is empty.
bool parse_os_release_pretty_name(const char *text, size_t len, char *out, size_t size);

// "x86_64", "aarch64", "x86" (i386 to i686) or "unknown" for uname's machine.
const char *linux_arch_name(const char *machine);

// Whole seconds of the first number of /proc/uptime ("12345.67 ...").
bool parse_uptime_seconds(const char *text, size_t len, uint64_t *seconds);

// "%Y-%m-%dT%H:%M:%SZ" of an instant in seconds since 1970 UTC into out, or
// "1970-01-01T00:00:00Z" when it cannot be converted or its year has not
// four digits (a garbled boot time must not break the text's shape).
void format_utc_instant(int64_t seconds, char *out, size_t size);

#endif  // VANTOREL_LINUX_SYSTEM_FACTS_PARSE_H
