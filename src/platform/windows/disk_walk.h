// The Windows volume walk: which of the listed root paths become disk
// entries, their space and file system, and their transfer rates against the
// previous counters of the same root.
//
// Called with the global lock held, like the collector that uses it.
// Capacities below 0 behave as 0.
#ifndef VANTOREL_WINDOWS_DISK_WALK_H
#define VANTOREL_WINDOWS_DISK_WALK_H

#include <cstddef>
#include <cstdint>

#include "counter_table.h"
#include "sysmon_internal.h"
#include "used_records.h"

// Number of UTF-16 units the volume root path list is read into, the
// length passed to the system so that its last unit always stays NUL, and
// the size of its UTF-8 conversion.
#define SYSMON_DISK_ROOT_LIST_UNITS 512
#define SYSMON_DISK_ROOT_LIST_QUERY_LENGTH 511
#define SYSMON_DISK_ROOT_LIST_SIZE (3 * SYSMON_DISK_ROOT_LIST_UNITS + 1)
// Number of UTF-16 units the file-system name is read into, and the size of
// its UTF-8 conversion.
#define SYSMON_DISK_FS_NAME_UNITS 32
#define SYSMON_DISK_FS_NAME_SIZE (3 * SYSMON_DISK_FS_NAME_UNITS + 1)

// Transfer counters of the volumes listed by a collection, by the key of
// their root path. Values: bytes read, bytes written.
#define SYSMON_DISK_TABLE_SLOTS 256
typedef counter_table<SYSMON_DISK_TABLE_SLOTS> disk_table;

// Byte counters of one volume, when the system answered for it.
struct disk_io {
    int32_t has_counters;
    uint64_t bytes_read;
    uint64_t bytes_written;
};

// Walk over a list of volume root paths: NUL-terminated texts one after the
// other, the list ended by an empty text.
struct disk_walk {
    sysmon_disk_info *disks;
    int32_t capacity;
    int32_t filled;
    const char *list;
    size_t list_size;
    size_t offset;
    const disk_table *prev;  // counters the rates derive against
    disk_table *next;        // receives the new counters
    double elapsed_sec;
    used_records *used;      // null: none kept
    record_list<sysmon_disk_info> *grows;  // grown when full; null: a fixed array
    int32_t stopped;         // 1 once the list could not grow
};

// Sets the count to 0, clears the array up to the capacity and starts a walk
// over `list` (`list_size` bytes, read only within them). `next` is
// emptied; it must not be `prev`. With `used`, the collector's note of the
// entries the previous collection filled, only those are cleared (the rest
// is zero already) and the note follows the entries filled.
void derive_disk_walk_begin(disk_walk *walk, sysmon_disk_info *disks,
                            int32_t *count, int32_t capacity, const char *list,
                            size_t list_size, const disk_table *prev,
                            disk_table *next, double elapsed_sec,
                            used_records *used = nullptr);
// The same over a list that grows when more volumes are accepted than it
// holds; the count is the list's.
void derive_disk_walk_begin(disk_walk *walk, record_list<sysmon_disk_info> *list,
                            const char *roots, size_t roots_size, const disk_table *prev,
                            disk_table *next, double elapsed_sec, used_records *used = nullptr);
// The next root path to examine, or null when the list has ended, the
// capacity of a fixed array is reached or a list could not grow (the
// entries listed stay, complete).
const char *derive_disk_walk_next(disk_walk *walk);
// Whether a drive type is listed: removable (2) and fixed (3) only.
int32_t derive_disk_type_accepted(uint32_t drive_type);
// Fills the next entry for an accepted volume whose space figures were read.
// `fs_name` is the file-system name (UTF-8, read within
// SYSMON_DISK_FS_NAME_SIZE bytes), or null when it could not be read. The
// transfer rates derive from `io` against the previous counters of the same
// root; 0 where either reading is missing.
// `available_bytes` is the free space the calling user can still write.
void derive_disk_walk_add(disk_walk *walk, const char *root,
                          uint64_t total_bytes, uint64_t total_free_bytes, uint64_t available_bytes,
                          const char *fs_name, const disk_io *io);
// Stores the number of entries filled in the count.
void derive_disk_walk_end(const disk_walk *walk, int32_t *count);

#endif  // VANTOREL_WINDOWS_DISK_WALK_H
