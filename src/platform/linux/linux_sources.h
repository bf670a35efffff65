// Where the Linux collectors read from: the roots of the proc and sys file
// systems, the os-release files, and the few answers that come from system
// calls rather than files (file-system space, interface flags and addresses,
// uname, user names). The live machine by default; tests point the roots at
// fixture trees and replace the calls. Internal to the library, not exported.
#ifndef VANTOREL_LINUX_SOURCES_H
#define VANTOREL_LINUX_SOURCES_H

#include <cstddef>
#include <cstdint>

#define LINUX_PATH_SIZE 512

// What the system reports about one network interface.
struct linux_if_facts {
    char name[64];
    uint32_t flags;    // IFF_* as SIOCGIFFLAGS reports them (IFF_RUNNING included)
    int32_t has_ipv4;  // 1 when ipv4 holds its first IPv4 address
    char ipv4[16];     // dotted text
};

struct linux_system_names {
    char nodename[128];
    char release[128];
    char machine[65];
};

struct linux_sources {
    char proc_root[LINUX_PATH_SIZE];           // "/proc"
    char sys_root[LINUX_PATH_SIZE];            // "/sys"
    char os_release[LINUX_PATH_SIZE];          // "/etc/os-release"
    char os_release_fallback[LINUX_PATH_SIZE]; // "/usr/lib/os-release"
    // Total and free bytes of the file system mounted at `mount_point`
    // (f_blocks and f_bfree times f_frsize); 0 on success.
    int32_t (*file_system_space)(const char *mount_point, uint64_t *total, uint64_t *free_bytes);
    // Fills at most `capacity` interfaces; returns how many.
    int32_t (*interfaces)(linux_if_facts *facts, int32_t capacity);
    // uname's node name, release and machine; 0 on success.
    int32_t (*system_names)(linux_system_names *names);
    // The name of user `uid`; 0 on success, -1 when the id has no name.
    int32_t (*user_name)(uint32_t uid, char *out, size_t size);
    char pci_ids[LINUX_PATH_SIZE];           // "/usr/share/misc/pci.ids"
    char pci_ids_fallback[LINUX_PATH_SIZE];  // "/usr/share/hwdata/pci.ids"
    char nvml_library[LINUX_PATH_SIZE];      // "libnvidia-ml.so.1", found as dlopen finds it
};

// The sources in force.
const linux_sources &linux_sources_current();
// The live machine's sources.
linux_sources linux_sources_live();
// Replaces the sources (null: back to the live machine). Collectors drop
// whatever they cached from the previous sources. Call with the global lock
// held or before the library is used.
void linux_sources_set(const linux_sources *sources);
// Changes each time the sources are set; collectors compare it with the
// value they cached under.
uint32_t linux_sources_generation();

#endif  // VANTOREL_LINUX_SOURCES_H
