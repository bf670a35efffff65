#include "derive.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "counter_rates.h"
#include "text_fields.h"

static int32_t usable_capacity(int32_t capacity) {
    return capacity > 0 ? capacity : 0;
}

// ---- Processor -------------------------------------------------------------

double derive_cpu_load(uint64_t prev_idle, uint64_t prev_kernel,
                       uint64_t prev_user, uint64_t idle, uint64_t kernel,
                       uint64_t user) {
    const uint64_t idle_diff = counter_growth(idle, prev_idle);
    const uint64_t kernel_diff = counter_growth(kernel, prev_kernel);
    const uint64_t user_diff = counter_growth(user, prev_user);
    const uint64_t total = kernel_diff + user_diff;
    if (total == 0 || total < idle_diff) return 0.0;
    const double load =
        (1.0 - static_cast<double>(idle_diff) / static_cast<double>(total)) *
        100.0;
    return load < 0.0 ? 0.0 : load;
}

void derive_cpu(sysmon_cpu_info *cpu, const cpu_readings *readings,
                const cpu_counters *prev, cpu_counters *next) {
    std::memset(cpu, 0, sizeof *cpu);

    const uint32_t processors = readings->logical_processors;
    cpu->threads = processors > INT32_MAX ? INT32_MAX
                                          : static_cast<int32_t>(processors);
    const uint32_t cores = readings->physical_cores;
    cpu->cores = cores == 0 ? cpu->threads
                            : cores > INT32_MAX ? INT32_MAX : static_cast<int32_t>(cores);

    if (readings->has_name) {
        // Only plain spaces lead the name in the registry; other white space
        // is kept as it is.
        size_t start = 0;
        while (start < SYSMON_CPU_NAME_BUFFER_SIZE && readings->name[start] == ' ')
            ++start;
        text_field_copy(cpu->name, sizeof cpu->name, readings->name + start,
                  SYSMON_CPU_NAME_BUFFER_SIZE - start);
    }
    if (cpu->name[0] == '\0') text_field_set(cpu->name, "Generic CPU");

    if (readings->has_frequency)
        cpu->frequency_mhz = static_cast<double>(readings->frequency_mhz);

    if (readings->has_times && prev->has_times) {
        const idle_kernel_user_times &a = prev->times;
        const idle_kernel_user_times &b = readings->times;
        cpu->total_usage = derive_cpu_load(a.idle, a.kernel, a.user, b.idle, b.kernel, b.user);
    }

    cpu->per_core_count =
        cpu->threads <= SYSMON_MAX_CORES ? cpu->threads : SYSMON_MAX_CORES;
    int32_t read = readings->cores != nullptr ? readings->core_count : 0;
    if (read < 0) read = 0;
    if (read > SYSMON_MAX_CORES) read = SYSMON_MAX_CORES;
    for (int32_t i = 0; i < cpu->per_core_count && i < read && i < prev->core_count; ++i) {
        const idle_kernel_user_times &a = prev->cores[i];
        const idle_kernel_user_times &b = readings->cores[i];
        cpu->per_core[i] = derive_cpu_load(a.idle, a.kernel, a.user, b.idle, b.kernel, b.user);
    }

    // What was read replaces the stored counters; what was not keeps them,
    // so the next reading spans both collections.
    if (next != prev) *next = *prev;
    if (readings->has_times) {
        next->has_times = 1;
        next->times = readings->times;
    }
    if (read > 0) {
        next->core_count = read;
        std::memcpy(next->cores, readings->cores, sizeof(idle_kernel_user_times) * static_cast<size_t>(read));
    }
}

uint32_t derive_cpu_core_records(const void *block, size_t size) {
    const auto *bytes = static_cast<const unsigned char *>(block);
    uint32_t cores = 0;
    size_t at = 0;
    while (bytes != nullptr && at <= size && size - at >= 8) {
        uint32_t relationship, record_size;
        std::memcpy(&relationship, bytes + at, sizeof relationship);
        std::memcpy(&record_size, bytes + at + 4, sizeof record_size);
        if (record_size < 8 || record_size > size - at) break;
        if (relationship == 0) ++cores;
        at += record_size;
    }
    return cores;
}

// ---- Memory ----------------------------------------------------------------

void derive_mem(sysmon_mem_info *mem, const mem_readings *readings) {
    std::memset(mem, 0, sizeof *mem);
    if (!readings->has_status) return;
    mem->total = readings->total_phys;
    mem->available = readings->avail_phys;
    mem->used = counter_growth(readings->total_phys, readings->avail_phys);
    mem->cached = 0;
    mem->swap_total = readings->total_page_file;
    mem->swap_used =
        counter_growth(readings->total_page_file, readings->avail_page_file);
}

// ---- Disks -----------------------------------------------------------------

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
    next->clear();
}

const char *derive_disk_walk_next(disk_walk *walk) {
    if (walk->filled >= walk->capacity) return nullptr;
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
                          uint64_t total_bytes, uint64_t total_free_bytes,
                          const char *fs_name, const disk_io *io) {
    if (walk->filled >= walk->capacity) return;
    sysmon_disk_info *disk = &walk->disks[walk->filled];
    std::memset(disk, 0, sizeof *disk);
    disk->total = total_bytes;
    disk->free = total_free_bytes;
    disk->used = counter_growth(total_bytes, total_free_bytes);
    // The short name is the drive letter and its colon.
    text_field_copy(disk->name, sizeof disk->name, root, 2);
    text_field_set(disk->mount, root);
    if (fs_name != nullptr)
        text_field_copy(disk->fs, sizeof disk->fs, fs_name, SYSMON_DISK_FS_NAME_SIZE);
    else
        text_field_set(disk->fs, "NTFS");
    if (io != nullptr && io->has_counters) {
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

// ---- Network ---------------------------------------------------------------

void derive_net_clear(sysmon_net_info *nets, int32_t *count, int32_t capacity,
                      used_records *used) {
    *count = 0;
    used_records_clear(used, nets, usable_capacity(capacity));
}

void derive_net_walk_begin(net_walk *walk, sysmon_net_info *nets,
                           int32_t capacity, const net_table *prev,
                           net_table *next, const net_address_table *addresses,
                           double elapsed_sec, used_records *used) {
    walk->nets = nets;
    walk->capacity = usable_capacity(capacity);
    walk->filled = 0;
    walk->prev = prev;
    walk->next = next;
    walk->addresses = addresses;
    walk->elapsed_sec = elapsed_sec;
    walk->used = used;
    next->clear();
}

int32_t derive_net_walk_full(const net_walk *walk) {
    return walk->filled >= walk->capacity;
}

int32_t derive_net_row_accepted(const net_row *row) {
    if (row->type == SYSMON_NET_TYPE_SOFTWARE_LOOPBACK) return 0;
    return row->oper_status == SYSMON_NET_OPER_STATUS_UP ||
           row->in_octets != 0 || row->out_octets != 0;
}

void derive_ipv4_text(char *out, size_t size, const uint8_t address[4]) {
    if (size == 0) return;
    std::snprintf(out, size, "%u.%u.%u.%u", static_cast<unsigned>(address[0]),
                  static_cast<unsigned>(address[1]), static_cast<unsigned>(address[2]),
                  static_cast<unsigned>(address[3]));
}

void derive_net_add_address(net_address_table *addresses, uint64_t luid,
                            const uint8_t address[4]) {
    const uint64_t packed = static_cast<uint64_t>(address[0]) |
                            static_cast<uint64_t>(address[1]) << 8 |
                            static_cast<uint64_t>(address[2]) << 16 |
                            static_cast<uint64_t>(address[3]) << 24;
    const uint64_t values[3] = {packed, 0, 0};
    addresses->put(luid, values, 0);  // the first address stays
}

void derive_net_walk_row(net_walk *walk, const net_row *row) {
    if (derive_net_walk_full(walk) || !derive_net_row_accepted(row)) return;
    sysmon_net_info *entry = &walk->nets[walk->filled];
    std::memset(entry, 0, sizeof *entry);
    text_field_copy(entry->name, sizeof entry->name, row->name, row->name_size);
    text_field_set(entry->ip, "0.0.0.0");
    const counter_row *address =
        walk->addresses != nullptr ? walk->addresses->find(row->luid) : nullptr;
    if (address != nullptr) {
        const uint64_t packed = address->values[0];
        const uint8_t bytes[4] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                                  static_cast<uint8_t>(packed >> 16),
                                  static_cast<uint8_t>(packed >> 24)};
        derive_ipv4_text(entry->ip, sizeof entry->ip, bytes);
    }
    entry->total_sent = row->out_octets;
    entry->total_recv = row->in_octets;

    const counter_row *before = walk->prev->find(row->luid);
    if (before != nullptr) {
        entry->up_bytes_sec = counter_rate(entry->total_sent, before->values[0], walk->elapsed_sec);
        entry->down_bytes_sec = counter_rate(entry->total_recv, before->values[1], walk->elapsed_sec);
    }
    const uint64_t values[3] = {entry->total_sent, entry->total_recv, 0};
    walk->next->put(row->luid, values, 0);
    ++walk->filled;
    used_records_note(walk->used, walk->filled);
}

void derive_net_walk_end(const net_walk *walk, int32_t *count) {
    *count = walk->filled;
}

// ---- Processes -------------------------------------------------------------

// Zeroes a text field that holds its text followed by zeros only: as far as
// its text goes.
template <size_t N>
static void clear_text(char (&field)[N]) {
    const void *end = std::memchr(field, '\0', N);
    std::memset(field, 0, end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - field) : N);
}

// Zeroes the figures of a record a walk filled before; its identity and
// texts are about to be rewritten by derive_proc_fill_identity.
static void clear_proc_figures(sysmon_proc_info *proc) {
    char *bytes = reinterpret_cast<char *>(proc);
    std::memset(bytes + offsetof(sysmon_proc_info, cpu_percent), 0,
                sizeof *proc - offsetof(sysmon_proc_info, cpu_percent));
}

// Zeroes a record a walk filled before and does not fill again, touching
// a few cache lines instead of the whole 1.3 KB: everything before the
// command and everything after it in full, the command only as far as its
// text goes.
static void clear_proc_record(sysmon_proc_info *proc) {
    static_assert(offsetof(sysmon_proc_info, user) ==
                      offsetof(sysmon_proc_info, command) + sizeof(sysmon_proc_info::command),
                  "the user follows the command");
    char *bytes = reinterpret_cast<char *>(proc);
    std::memset(bytes, 0, offsetof(sysmon_proc_info, command));
    clear_text(proc->command);
    std::memset(proc->user, 0, sizeof *proc - offsetof(sysmon_proc_info, user));
}

// Writes `length` bytes of text into a field that holds a text followed by
// zeros only, and zeros what the old text left behind the new one: the
// field keeps that form, and a long field is written only as far as either
// text goes.
template <size_t N>
static void write_text(char (&field)[N], const char *text, size_t length) {
    std::memcpy(field, text, length);
    for (size_t i = length; i < N && field[i] != '\0'; ++i) field[i] = '\0';
}

void derive_proc_walk_begin(proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity,
                            const proc_table *prev, proc_table *next,
                            double elapsed_sec, uint64_t memory_total,
                            used_records *used) {
    const int32_t usable = usable_capacity(capacity);
    *count = 0;
    // The records the previous collection filled are cleared one by one:
    // each as it is handed out again (its lines are then at hand for the
    // filling), the rest when the walk ends.
    walk->dirty = used_records_dirty(used, procs, usable);
    walk->procs = procs;
    walk->capacity = usable;
    walk->filled = 0;
    walk->prev = prev;
    walk->prev_cursor = 0;
    walk->next = next;
    walk->elapsed_sec = elapsed_sec;
    walk->memory_total = memory_total;
    walk->used = used;
    next->clear();
}

// Asks for the cache lines a record's filling writes: its start, the
// start of the command, the user, the status and the numbers.
static void prefetch_proc_record(const sysmon_proc_info *proc) {
    __builtin_prefetch(proc, 1);
    __builtin_prefetch(proc->command, 1);
    __builtin_prefetch(proc->user, 1);
    __builtin_prefetch(proc->status, 1);
    __builtin_prefetch(&proc->cpu_time, 1);
}

sysmon_proc_info *derive_proc_walk_add(proc_walk *walk, const proc_identity *identity) {
    if (walk->filled >= walk->capacity) return nullptr;
    // Records are filled one after the other, a few hundred bytes of each:
    // too scattered for the processor to foresee.
    if (walk->filled + 3 < walk->capacity) prefetch_proc_record(&walk->procs[walk->filled + 3]);
    sysmon_proc_info *proc = &walk->procs[walk->filled];
    if (walk->filled < walk->dirty) clear_proc_figures(proc);
    derive_proc_fill_identity(proc, identity);
    ++walk->filled;
    used_records_note(walk->used, walk->filled);
    return proc;
}

int32_t derive_proc_is_system(uint32_t pid) { return pid == 0 || pid == 4; }

void derive_proc_fill_identity(sysmon_proc_info *proc, const proc_identity *identity) {
    static const char kIdleName[] = "[System Process]";
    proc->pid = static_cast<int32_t>(identity->pid);
    proc->ppid = static_cast<int32_t>(identity->ppid);

    // The name goes into both the name and the command, each cut at a
    // character boundary to its field: measured once, copied twice.
    const char *text = identity->name;
    size_t length = 0;
    if (text != nullptr) {
        const size_t limit = identity->name_size < sizeof proc->command - 1
                                 ? identity->name_size
                                 : sizeof proc->command - 1;
        const void *nul = std::memchr(text, '\0', limit);
        length = nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - text) : limit;
    }
    size_t command_length = utf8_boundary(text, length);
    size_t name_length = length < sizeof proc->name ? command_length
                                                    : utf8_boundary(text, sizeof proc->name - 1);
    if (name_length == 0 && identity->pid == 0) {
        text = kIdleName;
        name_length = command_length = sizeof kIdleName - 1;
    } else if (command_length == 0) {
        // The command reads as the name when there is no name either.
        command_length = name_length;
    }
    // Only as far as the texts go: a short name leaves the rest of its
    // field, a cache line of its own, untouched.
    write_text(proc->name, text, name_length);
    write_text(proc->command, text, command_length);
    if (derive_proc_is_system(identity->pid))
        write_text(proc->user, "SYSTEM", 6);
    else
        write_text(proc->user, "", 0);
    write_text(proc->status, "running", 7);
    proc->threads = identity->threads > INT32_MAX ? INT32_MAX
                                                  : static_cast<int32_t>(identity->threads);
}

void derive_proc_apply_figures(proc_walk *walk, sysmon_proc_info *proc,
                               const proc_figures *figures) {
    if (figures->has_memory) {
        proc->memory_bytes = figures->working_set;
        if (walk->memory_total != 0)
            proc->memory_percent = static_cast<double>(figures->working_set) * 100.0 /
                                   static_cast<double>(walk->memory_total);
    }
    const uint64_t key = static_cast<uint32_t>(proc->pid);
    const counter_row *before = walk->prev->find_near(key, &walk->prev_cursor);
    uint32_t flags = 0;
    if (figures->has_times) {
        flags |= SYSMON_PROC_HAS_TIMES;
        proc->user_time = figures->user_time;
        proc->kernel_time = figures->kernel_time;
        proc->cpu_time = figures->user_time + figures->kernel_time;
        // Processor time is in 100-nanosecond units; the share is of one
        // processor, so a process busy on several is shown at 100.
        if (before != nullptr && (before->flags & SYSMON_PROC_HAS_TIMES))
            proc->cpu_percent =
                process_cpu_percent(proc->cpu_time, before->values[0], walk->elapsed_sec);
    }
    if (figures->has_io) {
        flags |= SYSMON_PROC_HAS_IO;
        if (before != nullptr && (before->flags & SYSMON_PROC_HAS_IO)) {
            proc->read_bytes_sec =
                counter_rate(figures->read_transfer, before->values[1], walk->elapsed_sec);
            proc->write_bytes_sec =
                counter_rate(figures->write_transfer, before->values[2], walk->elapsed_sec);
        }
    }
    // A process whose figures could not be read is not stored: the next
    // collection finds no counters for it and shows no share, rather than
    // its whole lifetime as one burst.
    if (flags != 0) {
        const uint64_t values[3] = {proc->cpu_time, figures->read_transfer,
                                    figures->write_transfer};
        walk->next->append(key, values, flags);
    }
}

void derive_proc_set_command(sysmon_proc_info *proc, const char *command, size_t size) {
    if (command == nullptr || size == 0 || command[0] == '\0') return;
    text_field_copy(proc->command, sizeof proc->command, command, size);
}

void derive_proc_set_user(sysmon_proc_info *proc, const char *user) {
    text_field_copy(proc->user, sizeof proc->user, user, sizeof proc->user);
}

void derive_proc_set_status(sysmon_proc_info *proc, int32_t all_threads_suspended) {
    // Both words have seven letters: the rest of the field stays zero.
    static_assert(sizeof "stopped" == sizeof "running", "same length");
    std::memcpy(proc->status, all_threads_suspended ? "stopped" : "running", sizeof "running");
}

void derive_proc_walk_end(const proc_walk *walk, int32_t *count) {
    walk->next->index_appended();
    for (int32_t i = walk->filled; i < walk->dirty; ++i) clear_proc_record(&walk->procs[i]);
    used_records_end(walk->used, walk->filled, walk->capacity);
    *count = walk->filled;
}

// ---- System ----------------------------------------------------------------

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

// ---- GPU and battery -------------------------------------------------------

void derive_gpu(sysmon_gpu_info *gpu) {
    std::memset(gpu, 0, sizeof *gpu);
    text_field_set(gpu->name, "unknown");
    text_field_set(gpu->driver, "unknown");
}

void derive_battery(sysmon_battery_info *bat, const battery_readings *readings) {
    std::memset(bat, 0, sizeof *bat);
    text_field_set(bat->status, "none");
    if (!readings->has_status) return;

    // The whole byte is compared: these two values mean no battery to
    // report, whatever other flag bits they share.
    if (readings->battery_flag == SYSMON_BATTERY_FLAG_NO_BATTERY ||
        readings->battery_flag == SYSMON_BATTERY_FLAG_UNKNOWN) {
        text_field_set(bat->status, "AC_Power");
        return;
    }

    bat->present = 1;
    bat->percent = readings->battery_life_percent <= 100
                       ? readings->battery_life_percent
                       : 0;
    // The status follows the mains state alone.
    text_field_set(bat->status, readings->ac_line_status == SYSMON_BATTERY_AC_ONLINE
                              ? "Charging"
                              : "Discharging");
    if (readings->battery_life_time != SYSMON_BATTERY_LIFE_TIME_UNKNOWN)
        bat->time_remaining_min =
            static_cast<int32_t>(readings->battery_life_time / 60);
    bat->health_percent = 100;
}
