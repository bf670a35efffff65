#include "gpu_figures.h"

double gpu_percent(double value) {
    if (!(value > 0)) return 0;  // NaN too
    return value > 100 ? 100 : value;
}

double gpu_temperature(double celsius) {
    return celsius >= -100 && celsius <= 300 ? celsius : 0;
}

double gpu_watts(double watts) { return watts >= 0 && watts <= 100000 ? watts : 0; }

double gpu_watts_from_energy(uint64_t now_uj, uint64_t previous_uj, double elapsed_sec) {
    if (now_uj < previous_uj || !(elapsed_sec > 0.001)) return 0;
    return gpu_watts(static_cast<double>(now_uj - previous_uj) / 1e6 / elapsed_sec);
}

int32_t gpu_pick_primary(const gpu_candidate *candidates, int32_t count) {
    if (candidates == nullptr || count <= 0) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (candidates[i].from_nvml != 0) return i;
    int32_t best = -1;
    for (int32_t i = 0; i < count; ++i) {
        if (candidates[i].discrete == 0) continue;
        if (best < 0 || candidates[i].dedicated > candidates[best].dedicated) best = i;
    }
    return best >= 0 ? best : 0;
}

void gpu_primary_first(const gpu_candidate *candidates, int32_t count, int32_t *order) {
    if (order == nullptr || count <= 0) return;
    const int32_t primary = gpu_pick_primary(candidates, count);
    int32_t n = 0;
    order[n++] = primary;
    for (int32_t i = 0; i < count; ++i)
        if (i != primary) order[n++] = i;
}

int32_t gpu_collection_order(int32_t nvml_count, const gpu_candidate *own, int32_t own_count,
                             gpu_entry *entries, int32_t capacity) {
    if (entries == nullptr || capacity <= 0) return 0;
    if (capacity > 64) capacity = 64;
    gpu_entry listed[64];
    gpu_candidate candidates[64];
    int32_t n = 0;
    for (int32_t i = 0; i < nvml_count && n < capacity; ++i, ++n) {
        listed[n] = gpu_entry{i, -1};
        candidates[n] = gpu_candidate{1, 1, 0};
    }
    for (int32_t i = 0; own != nullptr && i < own_count && n < capacity; ++i, ++n) {
        listed[n] = gpu_entry{-1, i};
        candidates[n] = own[i];
        candidates[n].from_nvml = 0;
    }
    int32_t order[64];
    gpu_primary_first(candidates, n, order);
    for (int32_t i = 0; i < n; ++i) entries[i] = listed[order[i]];
    return n;
}
