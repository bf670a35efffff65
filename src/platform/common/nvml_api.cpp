#include "nvml_api.h"

#include <cstddef>
#include <cstring>

namespace {

struct symbol {
    const char *name;
    size_t offset;
    bool required;
};

const symbol kSymbols[] = {
    {"nvmlInit_v2", offsetof(nvml_table, init), true},
    {"nvmlShutdown", offsetof(nvml_table, shutdown), true},
    {"nvmlDeviceGetCount_v2", offsetof(nvml_table, device_count), true},
    {"nvmlDeviceGetHandleByIndex_v2", offsetof(nvml_table, device_handle), true},
    {"nvmlDeviceGetName", offsetof(nvml_table, device_name), true},
    {"nvmlDeviceGetPciInfo_v3", offsetof(nvml_table, device_pci), true},
    {"nvmlDeviceGetUtilizationRates", offsetof(nvml_table, utilization), true},
    {"nvmlDeviceGetMemoryInfo", offsetof(nvml_table, memory), true},
    {"nvmlDeviceGetMemoryInfo_v2", offsetof(nvml_table, memory_v2), false},
    {"nvmlDeviceGetTemperature", offsetof(nvml_table, temperature), true},
    {"nvmlDeviceGetPowerUsage", offsetof(nvml_table, power), true},
    {"nvmlSystemGetDriverVersion", offsetof(nvml_table, driver_version), true},
};
constexpr int32_t kCount = static_cast<int32_t>(sizeof kSymbols / sizeof kSymbols[0]);

// Every member of the table is a function pointer of the same size.
static_assert(sizeof(nvml_table) == kCount * sizeof(void (*)()), "one symbol per table member");

}  // namespace

int32_t nvml_symbol_count() { return kCount; }

const char *nvml_symbol_name(int32_t index) {
    return index >= 0 && index < kCount ? kSymbols[index].name : "";
}

void nvml_table_set(nvml_table *table, int32_t index, void *address) {
    if (table == nullptr || index < 0 || index >= kCount) return;
    // An object address turned into a function pointer, as dlsym and
    // GetProcAddress results are meant to be used.
    std::memcpy(reinterpret_cast<char *>(table) + kSymbols[index].offset, &address, sizeof address);
}

bool nvml_table_complete(const nvml_table *table) {
    if (table == nullptr) return false;
    for (const symbol &s : kSymbols) {
        void *address = nullptr;
        std::memcpy(&address, reinterpret_cast<const char *>(table) + s.offset, sizeof address);
        if (s.required && address == nullptr) return false;
    }
    return true;
}
