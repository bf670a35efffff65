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
