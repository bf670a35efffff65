#include "gpu_derive.h"

#include "gpu_figures.h"

#include <cstdio>
#include <cstring>

bool gpu_dxgi_listed(uint32_t vendor_id, uint32_t flags, bool nvml_has_devices) {
    if ((flags & GPU_ADAPTER_FLAG_SOFTWARE) != 0 || vendor_id == GPU_VENDOR_MICROSOFT) return false;
    return !(vendor_id == 0x10DEu && nvml_has_devices);
}

void gpu_driver_version(uint64_t umd_version, char *out, size_t size) {
    if (out == nullptr || size == 0) return;
    std::snprintf(out, size, "%u.%u.%u.%u", static_cast<unsigned>((umd_version >> 48) & 0xFFFF),
                  static_cast<unsigned>((umd_version >> 32) & 0xFFFF),
                  static_cast<unsigned>((umd_version >> 16) & 0xFFFF),
                  static_cast<unsigned>(umd_version & 0xFFFF));
}

namespace {

// Reads "<tag><number>" at *p: a hexadecimal number after "0x", else decimal.
bool tagged_number(const char **p, const char *tag, uint32_t *value) {
    const size_t n = std::strlen(tag);
    if (std::strncmp(*p, tag, n) != 0) return false;
    const char *q = *p + n;
    const bool hex = q[0] == '0' && (q[1] == 'x' || q[1] == 'X');
    if (hex) q += 2;
    uint64_t v = 0;
    int digits = 0;
    for (;; ++q) {
        int d;
        if (*q >= '0' && *q <= '9') d = *q - '0';
        else if (hex && *q >= 'a' && *q <= 'f') d = *q - 'a' + 10;
        else if (hex && *q >= 'A' && *q <= 'F') d = *q - 'A' + 10;
        else break;
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (++digits > 10 || v > 0xFFFFFFFFu) return false;
    }
    if (digits == 0) return false;
    *value = static_cast<uint32_t>(v);
    *p = q;
    return true;
}

bool luid_at(const char **p, gpu_luid *luid) {
    return tagged_number(p, "luid_", &luid->high) && tagged_number(p, "_", &luid->low);
}

}  // namespace

bool gpu_engine_instance(const char *name, gpu_engine_key *key) {
    if (name == nullptr || key == nullptr) return false;
    const char *p = std::strstr(name, "luid_");
    uint32_t ignored;
    const char *pid = name;
    if (p == nullptr || !tagged_number(&pid, "pid_", &ignored)) return false;
    return luid_at(&p, &key->luid) && tagged_number(&p, "_phys_", &key->phys) &&
           tagged_number(&p, "_eng_", &key->engine);
}

bool gpu_memory_instance(const char *name, gpu_luid *luid) {
    if (name == nullptr || luid == nullptr) return false;
    const char *p = name;
    return luid_at(&p, luid);
}

double gpu_adapter_load(const gpu_counter_sample *samples, size_t count, gpu_luid luid) {
    struct engine {
        uint32_t phys, index;
        double sum;
    } engines[64];
    size_t engine_count = 0;
    for (size_t i = 0; samples != nullptr && i < count; ++i) {
        gpu_engine_key key;
        if (!gpu_engine_instance(samples[i].instance, &key) || key.luid.high != luid.high ||
            key.luid.low != luid.low)
            continue;
        const double v = samples[i].value;
        if (!(v > 0)) continue;  // negative, zero or NaN adds nothing
        size_t e = 0;
        while (e < engine_count && (engines[e].phys != key.phys || engines[e].index != key.engine)) ++e;
        if (e == engine_count) {
            if (engine_count == 64) continue;
            engines[engine_count++] = engine{key.phys, key.engine, 0};
        }
        engines[e].sum += v;
    }
    double busiest = 0;
    for (size_t e = 0; e < engine_count; ++e)
        if (engines[e].sum > busiest) busiest = engines[e].sum;
    return busiest > 100 ? 100 : busiest;
}

uint64_t gpu_adapter_memory_used(const gpu_counter_sample *samples, size_t count, gpu_luid luid) {
    uint64_t total = 0;
    for (size_t i = 0; samples != nullptr && i < count; ++i) {
        gpu_luid l;
        if (!gpu_memory_instance(samples[i].instance, &l) || l.high != luid.high || l.low != luid.low)
            continue;
        const double v = samples[i].value;
        if (v > 0 && v < 1.8e19) total += static_cast<uint64_t>(v);
    }
    return total;
}

double gpu_kmt_temperature(uint32_t deci_celsius) {
    if (deci_celsius == 0) return 0.0;
    return gpu_temperature(static_cast<double>(deci_celsius) / 10.0);
}
