// Plain rules every GPU source shares: the range of believable figures, power
// from an energy counter, and the choice of the primary adapter.
#ifndef VANTOREL_GPU_FIGURES_H
#define VANTOREL_GPU_FIGURES_H

#include <cstdint>

// A load in percent, clamped to 0-100 (NaN gives 0).
double gpu_percent(double value);
// Degrees Celsius; 0 outside -100 to 300, which no sensor reports honestly.
double gpu_temperature(double celsius);
// Watts; 0 when negative, NaN or above 100 kW.
double gpu_watts(double watts);
// Average watts from an energy counter in microjoules that grew from
// `previous` to `now` over `elapsed_sec`: 0 when it went down or the window
// is 1 ms or shorter.
double gpu_watts_from_energy(uint64_t now_uj, uint64_t previous_uj, double elapsed_sec);

// What the primary choice looks at for each adapter, in listing order.
struct gpu_candidate {
    int32_t from_nvml;    // listed by NVML
    int32_t discrete;     // a card with memory of its own
    uint64_t dedicated;   // its own memory in bytes
};
// Index of the primary: the first NVML device, else the discrete adapter
// with the most dedicated memory (the first of equals), else the first
// listed. -1 when there is none.
int32_t gpu_pick_primary(const gpu_candidate *candidates, int32_t count);
// Writes into `order` the listing indexes with the primary first and the
// others in listing order.
void gpu_primary_first(const gpu_candidate *candidates, int32_t count, int32_t *order);

// One adapter in collection order: an NVML device, or one of the platform's
// own adapters (a DRM card, a DXGI adapter).
struct gpu_entry {
    int32_t nvml_index;  // -1 for the platform's own adapter
    int32_t own_index;   // -1 for an NVML device
};
// The collection order of `nvml_count` NVML devices listed first and the
// platform's `own_count` adapters described by `own` after them, primary
// first, at most `capacity` entries. Returns how many were written.
int32_t gpu_collection_order(int32_t nvml_count, const gpu_candidate *own, int32_t own_count,
                             gpu_entry *entries, int32_t capacity);

#endif  // VANTOREL_GPU_FIGURES_H
