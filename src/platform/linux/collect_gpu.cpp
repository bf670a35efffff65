// GPU collector: NVIDIA adapters through NVML, AMD and Intel adapters
// through /sys/class/drm. The adapters, their order and the primary are found
// once per library initialisation (sysmon_platform_init); each collection
// then only reads their figures, without allocating or loading anything.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dir_list.h"
#include "drm_parse.h"
#include "file_read.h"
#include "gpu_figures.h"
#include "linux_gpu.h"
#include "linux_sources.h"
#include "nvml_loader.h"
#include "nvml_reader.h"
#include "rate_window.h"
#include "sysmon_internal.h"
#include "text_utf8.h"

namespace {

#define MAX_DRM_ENTRIES 64

// A card of /sys/class/drm read through sysfs.
struct drm_adapter {
    char source[16];
    char device_dir[LINUX_PATH_SIZE];  // .../cardN/device
    char hwmon_dir[LINUX_PATH_SIZE];   // .../device/hwmon/hwmonK; "" without one
    char name[128];
    char driver[64];
    char bus_id[32];
    int32_t has_energy;
};

struct energy_counters {
    uint64_t microjoules[SYSMON_MAX_GPUS];
    int32_t has[SYSMON_MAX_GPUS];
};

int32_t s_open = 0;
uint32_t s_generation = 0;
nvml_table s_nvml;
nvml_session s_session;
drm_adapter s_drm[SYSMON_MAX_GPUS];
gpu_entry s_entries[SYSMON_MAX_GPUS];
int32_t s_entry_count = 0;
baseline_pair<energy_counters> s_energy;

bool read_attr_u64(const char *dir, const char *attr, uint64_t *value) {
    char path[LINUX_PATH_SIZE];
    return dir[0] != '\0' && join_path(path, sizeof path, dir, attr) && read_u64_file(path, value);
}

bool read_attr_i64(const char *dir, const char *attr, int64_t *value) {
    char path[LINUX_PATH_SIZE];
    return dir[0] != '\0' && join_path(path, sizeof path, dir, attr) && read_i64_file(path, value);
}

// The device's name in pci.ids, streamed through a fixed buffer.
void pci_ids_name(const linux_sources &src, uint32_t vendor, uint32_t device, char *out, size_t size) {
    static pci_ids_search search;
    static char chunk[16384];
    out[0] = '\0';
    int fd = open(src.pci_ids, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fd = open(src.pci_ids_fallback, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    pci_ids_begin(&search, vendor, device);
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (pci_ids_feed(&search, chunk, static_cast<size_t>(n))) break;
    }
    close(fd);
    pci_ids_end(&search);
    std::snprintf(out, size, "%s", search.device_name);
}

// "amdgpu 6.1.0": the driver with its module's version, else the kernel's.
void driver_text(const linux_sources &src, const char *driver, char *out, size_t size) {
    char path[LINUX_PATH_SIZE], version[64] = "";
    const int n = std::snprintf(path, sizeof path, "%s/module/%s/version", src.sys_root, driver);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path || !read_line_file(path, version, sizeof version)) {
        linux_system_names names{};
        if (src.system_names != nullptr && src.system_names(&names) == 0)
            utf8_set(version, names.release);
    }
    char text[160];
    std::snprintf(text, sizeof text, version[0] != '\0' ? "%s %s" : "%s", driver, version);
    utf8_copy_repaired_cstr(out, size, text);
}

bool listed_by_nvml(const char *bus_id) {
    if (bus_id[0] == '\0') return false;
    for (int32_t i = 0; i < s_session.count; ++i)
        if (std::strcmp(s_session.devices[i].bus_id, bus_id) == 0) return true;
    return false;
}

// Fills `a` for the card at `card_dir`; false when it is not one of ours.
bool probe_card(const linux_sources &src, const char *card_dir, drm_adapter *a) {
    std::memset(a, 0, sizeof *a);
    char path[LINUX_PATH_SIZE], text[1024];
    if (!join_path(a->device_dir, sizeof a->device_dir, card_dir, "device") ||
        !join_path(path, sizeof path, a->device_dir, "uevent"))
        return false;
    const int64_t n = read_file(path, text, sizeof text);
    if (n <= 0) return false;
    drm_device_facts facts;
    drm_parse_uevent(text, static_cast<size_t>(n), &facts);
    const char *source = drm_source_of(facts.driver);
    if (source == nullptr || listed_by_nvml(facts.bus_id)) return false;
    std::snprintf(a->source, sizeof a->source, "%s", source);
    std::snprintf(a->bus_id, sizeof a->bus_id, "%s", facts.bus_id);

    char product[128] = "", from_ids[128] = "";
    if (join_path(path, sizeof path, a->device_dir, "product_name"))
        read_line_file(path, product, sizeof product);
    if (product[0] == '\0' && facts.has_pci_id)
        pci_ids_name(src, facts.vendor, facts.device, from_ids, sizeof from_ids);
    drm_adapter_name(a->name, sizeof a->name, product, from_ids, facts.vendor, facts.device);
    driver_text(src, facts.driver, a->driver, sizeof a->driver);

    static char hwmons[8][DIR_ENTRY_NAME_SIZE];
    char hwmon_base[LINUX_PATH_SIZE];
    if (join_path(hwmon_base, sizeof hwmon_base, a->device_dir, "hwmon")) {
        const int32_t count = list_entry_names(hwmon_base, hwmons, 8);
        for (int32_t i = 0; i < count; ++i) {
            if (std::strncmp(hwmons[i], "hwmon", 5) != 0) continue;
            if (!join_path(a->hwmon_dir, sizeof a->hwmon_dir, hwmon_base, hwmons[i])) a->hwmon_dir[0] = '\0';
            break;
        }
    }
    uint64_t energy;
    a->has_energy = read_attr_u64(a->hwmon_dir, "energy1_input", &energy) ? 1 : 0;
    return true;
}

int32_t discover_drm(const linux_sources &src) {
    static char names[MAX_DRM_ENTRIES][DIR_ENTRY_NAME_SIZE];
    static int32_t numbers[MAX_DRM_ENTRIES];
    char base[LINUX_PATH_SIZE];
    if (!join_path(base, sizeof base, src.sys_root, "class/drm")) return 0;
    const int32_t listed = list_entry_names(base, names, MAX_DRM_ENTRIES);
    // Cards in numeric order (card10 after card9).
    int32_t cards = 0;
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t number = drm_card_number(names[i]);
        if (number < 0) continue;
        int32_t at = cards++;
        while (at > 0 && numbers[at - 1] > number) {
            numbers[at] = numbers[at - 1];
            --at;
        }
        numbers[at] = number;
    }
    int32_t count = 0;
    for (int32_t i = 0; i < cards && count + s_session.count < SYSMON_MAX_GPUS; ++i) {
        char card[32], card_dir[LINUX_PATH_SIZE];
        std::snprintf(card, sizeof card, "card%d", numbers[i]);
        if (join_path(card_dir, sizeof card_dir, base, card) && probe_card(src, card_dir, &s_drm[count]))
            ++count;
    }
    return count;
}

void close_adapters() {
    nvml_session_close(&s_session, &s_nvml);
    s_entry_count = 0;
    s_open = 0;
}

void open_adapters() {
    close_adapters();
    const linux_sources &src = linux_sources_current();
    s_generation = linux_sources_generation();
    s_open = 1;
    if (nvml_load(src.nvml_library, &s_nvml)) nvml_session_open(&s_session, &s_nvml);
    const int32_t drm_count = discover_drm(src);

    gpu_candidate own[SYSMON_MAX_GPUS];
    for (int32_t i = 0; i < drm_count; ++i) {
        uint64_t vram = 0;
        read_attr_u64(s_drm[i].device_dir, "mem_info_vram_total", &vram);
        // Cards with memory of their own: AMD's report it; Intel's discrete
        // cards are the ones with an energy sensor.
        own[i] = gpu_candidate{0, vram > 0 || s_drm[i].has_energy ? 1 : 0, vram};
    }
    s_entry_count = gpu_collection_order(s_session.count, own, drm_count, s_entries, SYSMON_MAX_GPUS);
    std::memset(&s_energy, 0, sizeof s_energy);
}

void read_drm(const drm_adapter &a, int32_t slot, const sysmon_window *window, sysmon_gpu_info *out) {
    std::memset(out, 0, sizeof *out);
    std::memcpy(out->name, a.name, sizeof out->name);
    std::memcpy(out->driver, a.driver, sizeof out->driver);
    std::memcpy(out->bus_id, a.bus_id, sizeof out->bus_id);
    std::memcpy(out->source, a.source, sizeof out->source);
    uint64_t u = 0;
    int64_t i = 0;
    if (std::strcmp(a.source, "amdgpu") == 0) {
        if (read_attr_u64(a.device_dir, "gpu_busy_percent", &u)) out->usage_percent = gpu_percent(static_cast<double>(u));
        if (read_attr_u64(a.device_dir, "mem_info_vram_total", &u)) out->vram_total = u;
        if (read_attr_u64(a.device_dir, "mem_info_vram_used", &u)) out->vram_used = u;
        if (read_attr_u64(a.hwmon_dir, "power1_average", &u) || read_attr_u64(a.hwmon_dir, "power1_input", &u))
            out->power_watts = gpu_watts(static_cast<double>(u) / 1e6);
    }
    if (read_attr_i64(a.hwmon_dir, "temp1_input", &i)) out->temperature_c = gpu_temperature(static_cast<double>(i) / 1000.0);
    if (a.has_energy) {
        energy_counters &next = s_energy.next();
        next.has[slot] = read_attr_u64(a.hwmon_dir, "energy1_input", &next.microjoules[slot]) ? 1 : 0;
        const energy_counters &before = s_energy.against(window);
        if (next.has[slot] && before.has[slot])
            out->power_watts = gpu_watts_from_energy(next.microjoules[slot], before.microjoules[slot],
                                                     window != nullptr ? window->elapsed_sec : 0);
    }
}

}  // namespace

void linux_gpu_open() { open_adapters(); }

void linux_gpu_close() { close_adapters(); }

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpus, int32_t *count, int32_t capacity,
                           const sysmon_window *window) {
    if (gpus == nullptr || count == nullptr) return -1;
    if (capacity < 0) capacity = 0;
    std::memset(gpus, 0, sizeof *gpus * static_cast<size_t>(capacity));
    *count = 0;
    if (s_open == 0 || s_generation != linux_sources_generation()) open_adapters();
    std::memset(&s_energy.next(), 0, sizeof(energy_counters));
    for (int32_t e = 0; e < s_entry_count && *count < capacity; ++e) {
        const gpu_entry &entry = s_entries[e];
        sysmon_gpu_info &out = gpus[*count];
        if (entry.nvml_index < 0)
            read_drm(s_drm[entry.own_index], e, window, &out);
        else if (!nvml_read_device(&s_session, &s_nvml, entry.nvml_index, &out))
            continue;  // lost: left out of this collection
        ++*count;
    }
    s_energy.commit(window);
    return 0;
}
