#include "disk_walk.h"

#include <cstring>

#include "counter_rates.h"
#include "text_fields.h"

static int32_t usable_capacity(int32_t capacity) {
    return capacity > 0 ? capacity : 0;
}

void derive_disk_walk_begin(disk_walk *walk, sysmon_disk_info *disks,
                            int32_t *count, int32_t capacity, const char *list,
                            size_t list_size, const disk_table *prev,
                            disk_table *next, double elapsed_sec,
                            used_records *used) {
    const int32_t usable = usable_capacity(capacity);
    *count = 0;
    used_records_clear(used, disks, usable);
    walk->disks = disks;
    walk->capacity = usable;
    walk->filled = 0;
    walk->list = list;
    walk->list_size = list_size;
    walk->offset = 0;
    walk->prev = prev;
    walk->next = next;
    walk->elapsed_sec = elapsed_sec;
    walk->used = used;
    walk->grows = nullptr;
    walk->stopped = 0;
    next->clear();
}

void derive_disk_walk_begin(disk_walk *walk, record_list<sysmon_disk_info> *list,
                            const char *roots, size_t roots_size, const disk_table *prev,
                            disk_table *next, double elapsed_sec, used_records *used) {
    derive_disk_walk_begin(walk, list->items, &list->count, list->capacity, roots, roots_size,
                           prev, next, elapsed_sec, used);
    walk->grows = list;
}

// Room for one more entry and its counters: the list and the new table grow
// when full; the note of the entries in use moves with the list's storage.
static bool make_room(disk_walk *walk) {
    if (walk->stopped) return false;
    if (walk->filled >= walk->capacity &&
        !used_records_grow(walk->used, walk->grows, &walk->disks, &walk->capacity, walk->filled + 1)) {
        walk->stopped = 1;
        return false;
    }
    if (!walk->next->reserve(walk->filled + 1)) walk->stopped = 1;
    return !walk->stopped;
}

const char *derive_disk_walk_next(disk_walk *walk) {
    if (!make_room(walk)) return nullptr;
    if (walk->list == nullptr || walk->offset >= walk->list_size) return nullptr;
    const char *path = walk->list + walk->offset;
    const size_t room = walk->list_size - walk->offset;
    const void *end = std::memchr(path, '\0', room);
    // An empty text ends the list; so does a path that runs off the buffer
    // without its NUL, which could not be handed on safely.
    if (path[0] == '\0' || end == nullptr) {
        walk->offset = walk->list_size;
        return nullptr;
    }
    walk->offset += static_cast<size_t>(static_cast<const char *>(end) - path) + 1;
    return path;
}

int32_t derive_disk_type_accepted(uint32_t drive_type) {
    return drive_type == 2 || drive_type == 3;
}

void derive_disk_walk_add(disk_walk *walk, const char *root,
                          uint64_t total_bytes, uint64_t total_free_bytes, uint64_t available_bytes,
                          const char *fs_name, const disk_io *io) {
    if (!make_room(walk)) return;
    sysmon_disk_info *disk = &walk->disks[walk->filled];
    std::memset(disk, 0, sizeof *disk);
    disk->total = total_bytes;
    disk->free = total_free_bytes;
    disk->used = counter_growth(total_bytes, total_free_bytes);
    disk->available = available_bytes;
    // The short name is the drive letter and its colon.
    text_field_copy(disk->name, sizeof disk->name, root, 2);
    text_field_set(disk->mount, root);
    if (fs_name != nullptr)
        text_field_copy(disk->fs, sizeof disk->fs, fs_name, SYSMON_DISK_FS_NAME_SIZE);
    else
        text_field_set(disk->fs, "NTFS");
    if (io != nullptr && io->has_counters) {
        disk->total_read = io->bytes_read;
        disk->total_written = io->bytes_written;
        const uint64_t key = counter_key_of_text(root);
        const counter_row *before = walk->prev->find(key);
        if (before != nullptr) {
            disk->read_bytes_sec = counter_rate(io->bytes_read, before->values[0], walk->elapsed_sec);
            disk->write_bytes_sec =
                counter_rate(io->bytes_written, before->values[1], walk->elapsed_sec);
        }
        const uint64_t values[3] = {io->bytes_read, io->bytes_written, 0};
        walk->next->put(key, values, 0);
    }
    ++walk->filled;
    used_records_note(walk->used, walk->filled);
}

void derive_disk_walk_end(const disk_walk *walk, int32_t *count) {
    *count = walk->filled;
}
