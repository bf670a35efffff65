#include "nvml_reader.h"

#include <cstdio>
#include <cstring>

#include "gpu_figures.h"

void nvml_copy_text(char *dst, size_t dst_size, const char *src, size_t src_size) {
    if (dst == nullptr || dst_size == 0) return;
    size_t n = 0;
    if (src != nullptr) {
        for (; n < src_size && n + 1 < dst_size && src[n] != '\0'; ++n) {
            const unsigned char c = static_cast<unsigned char>(src[n]);
            dst[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
        }
    }
    dst[n] = '\0';
}

namespace {

// Reads hexadecimal digits at text[*i] (at most `max_digits`); false when
// there is none or more follow.
bool hex_field(const char *text, size_t size, size_t *i, unsigned int max_digits, unsigned int *value) {
    unsigned int digits = 0;
    *value = 0;
    while (*i < size && text[*i] != '\0') {
        const char c = text[*i];
        unsigned int d;
        if (c >= '0' && c <= '9') d = static_cast<unsigned int>(c - '0');
        else if (c >= 'a' && c <= 'f') d = static_cast<unsigned int>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') d = static_cast<unsigned int>(c - 'A' + 10);
        else break;
        if (++digits > max_digits) return false;
        *value = *value * 16 + d;
        ++*i;
    }
    return digits > 0;
}

bool expect(const char *text, size_t size, size_t *i, char c) {
    if (*i >= size || text[*i] != c) return false;
    ++*i;
    return true;
}

}  // namespace

void nvml_bus_id(const char *text, size_t text_size, char *out, size_t out_size) {
    if (out == nullptr || out_size == 0) return;
    out[0] = '\0';
    if (text == nullptr) return;
    size_t i = 0;
    unsigned int domain, bus, device, function;
    if (!hex_field(text, text_size, &i, 8, &domain) || !expect(text, text_size, &i, ':') ||
        !hex_field(text, text_size, &i, 2, &bus) || !expect(text, text_size, &i, ':') ||
        !hex_field(text, text_size, &i, 2, &device) || !expect(text, text_size, &i, '.') ||
        !hex_field(text, text_size, &i, 1, &function) || (i < text_size && text[i] != '\0') ||
        domain > 0xFFFF || device > 0x1F || function > 7)
        return;
    std::snprintf(out, out_size, "%04x:%02x:%02x.%x", domain, bus, device, function);
}

int32_t nvml_session_open(nvml_session *session, const nvml_table *table) {
    if (session == nullptr) return 0;
    std::memset(session, 0, sizeof *session);
    if (table == nullptr || !nvml_table_complete(table) || table->init() != NVML_OK) return 0;
    session->open = 1;
    char driver[NVML_DRIVER_BUFFER] = {};
    if (table->driver_version(driver, sizeof driver) == NVML_OK)
        nvml_copy_text(session->driver, sizeof session->driver, driver, sizeof driver);
    unsigned int count = 0;
    if (table->device_count(&count) != NVML_OK) count = 0;
    for (unsigned int i = 0; i < count && session->count < SYSMON_MAX_GPUS; ++i) {
        nvml_device handle = nullptr;
        if (table->device_handle(i, &handle) != NVML_OK) continue;
        nvml_device_slot &slot = session->devices[session->count];
        std::memset(&slot, 0, sizeof slot);
        slot.handle = handle;
        char name[NVML_NAME_BUFFER] = {};
        if (table->device_name(handle, name, sizeof name) == NVML_OK)
            nvml_copy_text(slot.name, sizeof slot.name, name, sizeof name);
        nvml_pci_info pci;
        std::memset(&pci, 0, sizeof pci);
        if (table->device_pci(handle, &pci) == NVML_OK)
            nvml_bus_id(pci.bus_id, sizeof pci.bus_id, slot.bus_id, sizeof slot.bus_id);
        ++session->count;
    }
    return session->count;
}

void nvml_session_close(nvml_session *session, const nvml_table *table) {
    if (session == nullptr) return;
    if (session->open != 0 && table != nullptr && table->shutdown != nullptr) table->shutdown();
    std::memset(session, 0, sizeof *session);
}

namespace {

bool read_figures(const nvml_session *session, const nvml_table *table, int32_t index,
                  sysmon_gpu_info *out) {
    if (session == nullptr || table == nullptr || out == nullptr || session->open == 0 || index < 0 ||
        index >= session->count)
        return false;
    std::memset(out, 0, sizeof *out);
    const nvml_device_slot &slot = session->devices[index];
    const nvml_device h = slot.handle;
    std::memcpy(out->name, slot.name, sizeof out->name);
    std::memcpy(out->driver, session->driver, sizeof out->driver);
    std::memcpy(out->bus_id, slot.bus_id, sizeof out->bus_id);
    std::snprintf(out->source, sizeof out->source, "nvml");

    nvml_utilization util{};
    nvml_return rc = table->utilization(h, &util);
    if (rc == NVML_ERR_GPU_IS_LOST) return false;
    if (rc == NVML_OK) out->usage_percent = gpu_percent(util.gpu);

    bool have_memory = false;
    if (table->memory_v2 != nullptr) {
        nvml_memory_v2 m{};
        m.version = NVML_MEMORY_V2_VERSION;
        rc = table->memory_v2(h, &m);
        if (rc == NVML_ERR_GPU_IS_LOST) return false;
        if (rc == NVML_OK) {
            out->vram_total = m.total;
            out->vram_used = m.used;
            have_memory = true;
        }
    }
    if (!have_memory) {
        nvml_memory m{};
        rc = table->memory(h, &m);
        if (rc == NVML_ERR_GPU_IS_LOST) return false;
        if (rc == NVML_OK) {
            out->vram_total = m.total;
            out->vram_used = m.used;
        }
    }

    unsigned int temperature = 0;
    rc = table->temperature(h, NVML_TEMPERATURE_GPU, &temperature);
    if (rc == NVML_ERR_GPU_IS_LOST) return false;
    if (rc == NVML_OK) out->temperature_c = gpu_temperature(static_cast<double>(temperature));

    unsigned int milliwatts = 0;
    rc = table->power(h, &milliwatts);
    if (rc == NVML_ERR_GPU_IS_LOST) return false;
    if (rc == NVML_OK) out->power_watts = gpu_watts(static_cast<double>(milliwatts) / 1000.0);
    return true;
}

}  // namespace

bool nvml_read_device(const nvml_session *session, const nvml_table *table, int32_t index,
                      sysmon_gpu_info *out) {
    if (out == nullptr) return false;
    if (read_figures(session, table, index, out)) return true;
    std::memset(out, 0, sizeof *out);
    return false;
}
