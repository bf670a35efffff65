#include "derive.h"

#include <cstdio>
#include <cstring>

// Copies at most dst_size - 1 bytes of `src` into `dst`, ending early at a
// NUL, and terminates the copy. `src` is read only within its first
// `src_size` bytes, so it need not be terminated.
static void copy_text(char *dst, size_t dst_size, const char *src,
                      size_t src_size) {
    if (dst_size == 0) return;
    size_t n = 0;
    if (src != nullptr) {
        const size_t limit = src_size < dst_size - 1 ? src_size : dst_size - 1;
        while (n < limit && src[n] != '\0') {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = '\0';
}

// Copies a literal (always terminated) into a field.
template <size_t N>
static void set_text(char (&field)[N], const char *text) {
    copy_text(field, N, text, N);
}

// Growth of a cumulative counter; a counter that went down (reset or wrap)
// counts as no growth.
static uint64_t counter_growth(uint64_t now, uint64_t prev) {
    return now >= prev ? now - prev : 0;
}

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
                int32_t *has_prev, uint64_t *prev_idle, uint64_t *prev_kernel,
                uint64_t *prev_user) {
    std::memset(cpu, 0, sizeof *cpu);

    const uint32_t processors = readings->logical_processors;
    cpu->cores = processors > INT32_MAX ? INT32_MAX
                                        : static_cast<int32_t>(processors);
    cpu->threads = cpu->cores;

    if (readings->has_name) {
        // Only plain spaces lead the name in the registry; other white space
        // is kept as it is.
        size_t start = 0;
        while (start < SYSMON_CPU_NAME_BUFFER_SIZE && readings->name[start] == ' ')
            ++start;
        copy_text(cpu->name, sizeof cpu->name, readings->name + start,
                  SYSMON_CPU_NAME_BUFFER_SIZE - start);
    }
    if (cpu->name[0] == '\0') set_text(cpu->name, "Generic CPU");

    if (readings->has_frequency)
        cpu->frequency_mhz = static_cast<double>(readings->frequency_mhz);

    if (readings->has_times) {
        if (*has_prev) {
            cpu->total_usage = derive_cpu_load(
                *prev_idle, *prev_kernel, *prev_user, readings->idle_time,
                readings->kernel_time, readings->user_time);
        }
        *has_prev = 1;
        *prev_idle = readings->idle_time;
        *prev_kernel = readings->kernel_time;
        *prev_user = readings->user_time;
    }

    // No per-processor load on this platform: every entry repeats the
    // whole-machine figure.
    cpu->per_core_count =
        cpu->threads <= SYSMON_MAX_CORES ? cpu->threads : SYSMON_MAX_CORES;
    for (int32_t i = 0; i < cpu->per_core_count; ++i)
        cpu->per_core[i] = cpu->total_usage;
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
                            size_t list_size) {
    const int32_t usable = usable_capacity(capacity);
    *count = 0;
    std::memset(disks, 0, sizeof *disks * static_cast<size_t>(usable));
    walk->disks = disks;
    walk->capacity = usable;
    walk->filled = 0;
    walk->list = list;
    walk->list_size = list_size;
    walk->offset = 0;
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
                          const char *fs_name) {
    if (walk->filled >= walk->capacity) return;
    sysmon_disk_info *disk = &walk->disks[walk->filled];
    std::memset(disk, 0, sizeof *disk);
    disk->total = total_bytes;
    disk->free = total_free_bytes;
    disk->used = counter_growth(total_bytes, total_free_bytes);
    // The short name is the drive letter and its colon.
    copy_text(disk->name, sizeof disk->name, root, 2);
    set_text(disk->mount, root);
    if (fs_name != nullptr)
        copy_text(disk->fs, sizeof disk->fs, fs_name, SYSMON_DISK_FS_NAME_SIZE);
    else
        set_text(disk->fs, "NTFS");
    disk->read_bytes_sec = 0;
    disk->write_bytes_sec = 0;
    ++walk->filled;
}

void derive_disk_walk_end(const disk_walk *walk, int32_t *count) {
    *count = walk->filled;
}

// ---- Network ---------------------------------------------------------------

void derive_net_clear(sysmon_net_info *nets, int32_t *count, int32_t capacity) {
    *count = 0;
    std::memset(nets, 0, sizeof *nets * static_cast<size_t>(usable_capacity(capacity)));
}

void derive_net_walk_begin(net_walk *walk, sysmon_net_info *nets,
                           int32_t capacity, const prev_net_entry *prev,
                           int32_t prev_count, double elapsed_sec) {
    walk->nets = nets;
    walk->capacity = usable_capacity(capacity);
    walk->filled = 0;
    walk->prev = prev;
    walk->prev_count = prev_count;
    walk->elapsed_sec = elapsed_sec;
}

int32_t derive_net_walk_full(const net_walk *walk) {
    return walk->filled >= walk->capacity;
}

int32_t derive_net_row_accepted(const net_row *row) {
    if (row->type == SYSMON_NET_TYPE_SOFTWARE_LOOPBACK) return 0;
    return row->oper_status == SYSMON_NET_OPER_STATUS_OPERATIONAL ||
           row->in_octets != 0 || row->out_octets != 0;
}

// Bytes per second of a counter's growth; 0 when the counter went down or
// the elapsed time is too short to divide by.
static uint64_t net_rate(uint64_t now, uint64_t prev, double elapsed_sec) {
    if (now < prev || !(elapsed_sec > 0.001)) return 0;
    return static_cast<uint64_t>(static_cast<double>(now - prev) / elapsed_sec);
}

void derive_net_fill(sysmon_net_info *entry, const net_row *row,
                     const prev_net_entry *prev, int32_t prev_count,
                     double elapsed_sec) {
    std::memset(entry, 0, sizeof *entry);
    // The claimed length may exceed the array that holds the text: never
    // read past the array.
    size_t descr_len = row->descr_len;
    if (descr_len > row->descr_size) descr_len = row->descr_size;
    copy_text(entry->name, sizeof entry->name, row->descr, descr_len);
    set_text(entry->ip, "0.0.0.0");
    entry->total_sent = row->out_octets;
    entry->total_recv = row->in_octets;

    for (int32_t j = 0; j < prev_count; ++j) {
        if (std::strncmp(prev[j].name, entry->name, sizeof entry->name) != 0)
            continue;
        entry->down_bytes_sec =
            net_rate(entry->total_recv, prev[j].total_recv, elapsed_sec);
        entry->up_bytes_sec =
            net_rate(entry->total_sent, prev[j].total_sent, elapsed_sec);
        break;
    }
}

void derive_net_walk_row(net_walk *walk, const net_row *row) {
    if (derive_net_walk_full(walk) || !derive_net_row_accepted(row)) return;
    derive_net_fill(&walk->nets[walk->filled], row, walk->prev,
                    walk->prev_count, walk->elapsed_sec);
    ++walk->filled;
}

void derive_net_rebuild_prev(prev_net_entry *prev, int32_t *prev_count,
                             const sysmon_net_info *nets, int32_t count) {
    int32_t n = usable_capacity(count);
    if (n > SYSMON_MAX_NETS) n = SYSMON_MAX_NETS;
    for (int32_t j = 0; j < n; ++j) {
        set_text(prev[j].name, nets[j].name);
        prev[j].total_sent = nets[j].total_sent;
        prev[j].total_recv = nets[j].total_recv;
    }
    *prev_count = n;
}

void derive_net_walk_end(const net_walk *walk, int32_t *count,
                         prev_net_entry *prev, int32_t *prev_count) {
    *count = walk->filled;
    derive_net_rebuild_prev(prev, prev_count, walk->nets, walk->filled);
}

// ---- Processes -------------------------------------------------------------

void derive_proc_walk_begin(proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity) {
    const int32_t usable = usable_capacity(capacity);
    *count = 0;
    std::memset(procs, 0, sizeof *procs * static_cast<size_t>(usable));
    walk->procs = procs;
    walk->capacity = usable;
    walk->filled = 0;
}

sysmon_proc_info *derive_proc_walk_next(proc_walk *walk) {
    if (walk->filled >= walk->capacity) return nullptr;
    return &walk->procs[walk->filled++];
}

int32_t derive_proc_fill_identity(sysmon_proc_info *proc,
                                  const proc_entry *entry) {
    proc->pid = static_cast<int32_t>(entry->pid);
    proc->ppid = static_cast<int32_t>(entry->ppid);
    copy_text(proc->name, sizeof proc->name, entry->exe_name,
              entry->exe_name_size);
    copy_text(proc->command, sizeof proc->command, entry->exe_name,
              entry->exe_name_size);
    set_text(proc->user, "SYSTEM");
    set_text(proc->status, "running");
    proc->threads = static_cast<int32_t>(entry->threads);
    // The idle process cannot be opened and has nothing to read.
    return proc->pid != 0;
}

void derive_proc_apply_memory(sysmon_proc_info *proc, uint64_t working_set,
                              uint64_t memory_total) {
    proc->memory_bytes = working_set;
    if (memory_total != 0)
        proc->memory_percent = static_cast<double>(working_set) * 100.0 /
                               static_cast<double>(memory_total);
}

void derive_proc_apply_times(sysmon_proc_info *proc, uint64_t kernel_time,
                             uint64_t user_time, const prev_proc_entry *prev,
                             int32_t prev_count, double elapsed_sec) {
    proc->user_time = user_time;
    proc->kernel_time = kernel_time;
    proc->cpu_time = user_time + kernel_time;
    proc->cpu_percent = 0.0;

    for (int32_t j = 0; j < prev_count; ++j) {
        if (prev[j].pid != proc->pid) continue;
        if (proc->cpu_time < prev[j].cpu_time || !(elapsed_sec > 0.001)) return;
        const double delta = static_cast<double>(proc->cpu_time - prev[j].cpu_time);
        // Processor time is in 100-nanosecond units; the share is of one
        // processor, so a process busy on several is shown at 100.
        const double share = delta * 1e-7 / elapsed_sec * 100.0;
        proc->cpu_percent = share > 100.0 ? 100.0 : share;
        return;
    }
}

void derive_proc_rebuild_prev(prev_proc_entry *prev, int32_t *prev_count,
                              const sysmon_proc_info *procs, int32_t count) {
    int32_t n = usable_capacity(count);
    if (n > SYSMON_MAX_PROCS) n = SYSMON_MAX_PROCS;
    for (int32_t j = 0; j < n; ++j) {
        prev[j].pid = procs[j].pid;
        prev[j].cpu_time = procs[j].cpu_time;
    }
    *prev_count = n;
}

void derive_proc_walk_end(const proc_walk *walk, int32_t *count,
                          prev_proc_entry *prev, int32_t *prev_count) {
    *count = walk->filled;
    derive_proc_rebuild_prev(prev, prev_count, walk->procs, walk->filled);
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
        copy_text(out, size, FALLBACK, sizeof FALLBACK);
}

void derive_system(sysmon_system_info *sys, const system_readings *readings) {
    std::memset(sys, 0, sizeof *sys);

    if (readings->has_hostname)
        copy_text(sys->hostname, sizeof sys->hostname, readings->hostname,
                  sizeof readings->hostname);
    else
        set_text(sys->hostname, "Windows-PC");

    set_text(sys->os, "Windows");
    set_text(sys->kernel, "NT");
    if (readings->has_version) {
        std::snprintf(sys->kernel, sizeof sys->kernel, "%lu.%lu.%lu",
                      static_cast<unsigned long>(readings->major),
                      static_cast<unsigned long>(readings->minor),
                      static_cast<unsigned long>(readings->build));
        set_text(sys->os, derive_os_name(readings->major, readings->minor,
                                         readings->build));
    }

    sys->uptime_seconds = derive_uptime_seconds(readings->uptime_ms);
    derive_boot_time_text(sys->boot_time, sizeof sys->boot_time,
                          readings->boot_utc);
    set_text(sys->cpu_arch, derive_arch_name(readings->arch_code));
}

// ---- GPU and battery -------------------------------------------------------

void derive_gpu(sysmon_gpu_info *gpu) {
    std::memset(gpu, 0, sizeof *gpu);
    set_text(gpu->name, "unknown");
    set_text(gpu->driver, "unknown");
}

void derive_battery(sysmon_battery_info *bat, const battery_readings *readings) {
    std::memset(bat, 0, sizeof *bat);
    set_text(bat->status, "none");
    if (!readings->has_status) return;

    // The whole byte is compared: these two values mean no battery to
    // report, whatever other flag bits they share.
    if (readings->battery_flag == SYSMON_BATTERY_FLAG_NO_BATTERY ||
        readings->battery_flag == SYSMON_BATTERY_FLAG_UNKNOWN) {
        set_text(bat->status, "AC_Power");
        return;
    }

    bat->present = 1;
    bat->percent = readings->battery_life_percent <= 100
                       ? readings->battery_life_percent
                       : 0;
    // The status follows the mains state alone.
    set_text(bat->status, readings->ac_line_status == SYSMON_BATTERY_AC_ONLINE
                              ? "Charging"
                              : "Discharging");
    if (readings->battery_life_time != SYSMON_BATTERY_LIFE_TIME_UNKNOWN)
        bat->time_remaining_min =
            static_cast<int32_t>(readings->battery_life_time / 60);
    bat->health_percent = 100;
}
