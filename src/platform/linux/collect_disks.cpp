// Disk collector: one entry per block device mounted (its first mount in
// /proc/self/mountinfo), sizes from the file system's statistics, rates from
// the sectors of /proc/diskstats.
#include <algorithm>
#include <cstring>

#include "counter_rates.h"
#include "file_read.h"
#include "linux_sources.h"
#include "mountinfo_parse.h"
#include "runtime_hooks.h"
#include "sysmon_internal.h"
#include "text_scan.h"
#include "text_utf8.h"
#include "used_records.h"

namespace {

#define MAX_DISKSTATS_ROWS 1024
#define SECTOR_BYTES 512

uint64_t dev_key(uint32_t major, uint32_t minor) {
    return (static_cast<uint64_t>(major) << 32) | minor;
}

struct disk_counters_entry {
    uint64_t dev;
    uint64_t sectors_read;
    uint64_t sectors_written;
};

// Sector counters of the devices listed, ascending by device number.
struct disk_counters {
    record_list<disk_counters_entry> entries;
};

baseline_pair<disk_counters> s_baselines;

// The devices listed by the collection under way: an open-addressing set of
// device numbers plus one (0 marks a free slot), kept at most half full by
// growing along with the list.
struct device_set {
    record_list<uint64_t> slots;
    int32_t size;
    void clear() {
        if (slots.items != nullptr) std::memset(slots.items, 0, sizeof(uint64_t) * static_cast<size_t>(slots.capacity));
        size = 0;
    }
    // Finds the slot of `key`, or the free slot where it belongs.
    uint64_t *slot_of(uint64_t key) {
        const uint32_t mask = static_cast<uint32_t>(slots.capacity) - 1;
        uint32_t i = static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask;
        while (slots.items[i] != 0 && slots.items[i] != key) i = (i + 1) & mask;
        return &slots.items[i];
    }
    // Makes room for one more device, rehashing the `listed` ones into a set
    // twice as big when it would be more than half full. False when memory
    // runs out.
    bool make_room(const disk_counters_entry *listed_devices, int32_t listed_count) {
        if (slots.capacity > 0 && (size + 1) * 2 <= slots.capacity) return true;
        int32_t wanted = slots.capacity > 0 ? slots.capacity * 2 : 2 * SYSMON_MAX_DISKS;
        record_list<uint64_t> grown{nullptr, 0, 0, 0};
        if (!record_list_reserve(&grown, wanted)) return false;
        if (grown.capacity != wanted) return false;  // rounding would break the mask
        if (slots.on_heap != 0) s_hooks.mem_free(slots.items);
        slots = grown;
        clear();
        for (int32_t i = 0; i < listed_count; ++i) insert(listed_devices[i].dev);
        return true;
    }
    // False when the device was already in the set.
    bool insert(uint64_t dev) {
        uint64_t *slot = slot_of(dev + 1);
        if (*slot != 0) return false;
        *slot = dev + 1;
        ++size;
        return true;
    }
};
device_set listed;

struct diskstats_table {
    int32_t count;
    diskstats_row rows[MAX_DISKSTATS_ROWS];
};
diskstats_table s_stats;
char s_mountinfo[512 * 1024];
char s_diskstats[256 * 1024];

bool row_less(const diskstats_row &a, const diskstats_row &b) {
    return dev_key(a.major, a.minor) < dev_key(b.major, b.minor);
}

const diskstats_row *find_row(uint32_t major, uint32_t minor) {
    diskstats_row probe{};
    probe.major = major;
    probe.minor = minor;
    const diskstats_row *end = s_stats.rows + s_stats.count;
    const diskstats_row *at = std::lower_bound(static_cast<const diskstats_row *>(s_stats.rows), end, probe, row_less);
    return at != end && at->major == major && at->minor == minor ? at : nullptr;
}

// A mount whose device number is not a disk of diskstats (btrfs and other
// file systems with anonymous device numbers) is matched by the base name
// of its /dev source.
const diskstats_row *find_row_by_source(const char *source) {
    if (std::strncmp(source, "/dev/", 5) != 0) return nullptr;
    const char *base = std::strrchr(source, '/') + 1;
    if (*base == '\0') return nullptr;
    for (int32_t i = 0; i < s_stats.count; ++i)  // rare fallback, table of devices
        if (std::strcmp(s_stats.rows[i].name, base) == 0) return &s_stats.rows[i];
    return nullptr;
}

const disk_counters_entry *find_counters(const disk_counters &c, uint64_t dev) {
    const disk_counters_entry *end = c.entries.items + c.entries.count;
    const disk_counters_entry *at = std::lower_bound(
        static_cast<const disk_counters_entry *>(c.entries.items), end, dev, [](const disk_counters_entry &e, uint64_t d) { return e.dev < d; });
    return at != end && at->dev == dev ? at : nullptr;
}

void read_diskstats(const char *proc_root) {
    s_stats.count = 0;
    char path[LINUX_PATH_SIZE];
    if (!join_path(path, sizeof path, proc_root, "diskstats")) return;
    const int64_t n = read_file(path, s_diskstats, sizeof s_diskstats);
    if (n <= 0) return;
    const char *p = s_diskstats;
    text_span line;
    while (s_stats.count < MAX_DISKSTATS_ROWS && scan_line(&p, s_diskstats + n, &line)) {
        if (parse_diskstats_line(line.begin, line.size(), &s_stats.rows[s_stats.count])) ++s_stats.count;
    }
    std::sort(s_stats.rows, s_stats.rows + s_stats.count, row_less);
}

}  // namespace

int32_t sysmon_collect_disks(record_list<sysmon_disk_info> *disks, const sysmon_window *window) {
    if (disks == nullptr) return -1;
    disks->count = 0;
    static used_records used;  // the entries the previous collection filled
    used_records_clear(&used, disks->items, disks->capacity);
    listed.clear();
    const linux_sources &src = linux_sources_current();
    const bool advance = window == nullptr || window->advance != 0;
    const double elapsed = window != nullptr ? window->elapsed_sec : 0.0;
    const disk_counters &base = s_baselines.against(window);
    static disk_counters discard;
    disk_counters &store = advance ? s_baselines.next() : discard;
    store.entries.count = 0;

    read_diskstats(src.proc_root);
    char path[LINUX_PATH_SIZE];
    int64_t n = join_path(path, sizeof path, src.proc_root, "self/mountinfo")
                    ? read_file(path, s_mountinfo, sizeof s_mountinfo) : -1;
    // A cut file: only whole lines count.
    if (n == static_cast<int64_t>(sizeof s_mountinfo - 1)) {
        while (n > 0 && s_mountinfo[n - 1] != '\n') --n;
    }

    int32_t filled = 0;
    const char *p = s_mountinfo;
    const char *end = s_mountinfo + (n > 0 ? n : 0);
    text_span line;
    static mount_entry mount;
    while (scan_line(&p, end, &line)) {
        if (!parse_mountinfo_line(line.begin, line.size(), &mount)) continue;
        const diskstats_row *row = find_row(mount.major, mount.minor);
        if (row == nullptr) row = find_row_by_source(mount.source);
        if (row == nullptr) continue;
        // Each device once: its first mount. Bind mounts and repeated
        // mounts of the device come later in the table.
        const uint64_t dev = dev_key(row->major, row->minor);
        // Room for one more entry, or the list ends with those that fit.
        if (!listed.make_room(store.entries.items, store.entries.count) ||
            !record_list_reserve(disks, filled + 1) || !record_list_reserve(&store.entries, filled + 1))
            break;
        if (!listed.insert(dev)) continue;
        uint64_t total = 0, free_bytes = 0, available = 0;
        if (src.file_system_space(mount.mount_point, &total, &free_bytes, &available) != 0) continue;

        sysmon_disk_info &d = disks->items[filled];
        utf8_set(d.name, row->name);
        utf8_set(d.mount, mount.mount_point);
        utf8_set(d.fs, mount.fs_type);
        d.total = total;
        d.free = free_bytes;
        d.used = counter_growth(total, free_bytes);
        d.available = available;
        if (const disk_counters_entry *prev = find_counters(base, dev)) {
            d.read_bytes_sec = counter_rate(saturating_mul(row->sectors_read, SECTOR_BYTES),
                                            saturating_mul(prev->sectors_read, SECTOR_BYTES), elapsed);
            d.write_bytes_sec = counter_rate(saturating_mul(row->sectors_written, SECTOR_BYTES),
                                             saturating_mul(prev->sectors_written, SECTOR_BYTES), elapsed);
        }
        d.total_read = saturating_mul(row->sectors_read, SECTOR_BYTES);
        d.total_written = saturating_mul(row->sectors_written, SECTOR_BYTES);
        store.entries.items[store.entries.count++] = disk_counters_entry{dev, row->sectors_read, row->sectors_written};
        ++filled;
    }
    disks->count = filled;
    used_records_note(&used, filled);
    std::sort(store.entries.items, store.entries.items + store.entries.count,
              [](const disk_counters_entry &a, const disk_counters_entry &b) { return a.dev < b.dev; });
    if (advance) s_baselines.commit(window);
    return 0;
}
