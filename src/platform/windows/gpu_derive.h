// Plain derivations of the Windows GPU collector: which DXGI adapters are
// listed, their driver version text, and the load and memory in use that the
// GPU performance counters give per adapter (identified by its LUID).
#ifndef VANTOREL_WINDOWS_GPU_DERIVE_H
#define VANTOREL_WINDOWS_GPU_DERIVE_H

#include <cstddef>
#include <cstdint>

#define GPU_VENDOR_MICROSOFT 0x1414u  // the basic render driver
#define GPU_ADAPTER_FLAG_SOFTWARE 2u  // DXGI_ADAPTER_FLAG_SOFTWARE

// Whether a DXGI adapter is hardware worth listing: not a software adapter
// and not the basic render driver; NVIDIA's only when NVML does not list
// them already.
bool gpu_dxgi_listed(uint32_t vendor_id, uint32_t flags, bool nvml_has_devices);

// The user-mode driver version (four 16-bit parts, most significant first)
// as "a.b.c.d".
void gpu_driver_version(uint64_t umd_version, char *out, size_t size);

// An adapter LUID as the counter instance names spell it.
struct gpu_luid {
    uint32_t high;
    uint32_t low;
};

// What one instance name of "\GPU Engine(*)" says:
// "pid_1234_luid_0x00000000_0x0000D1C2_phys_0_eng_3_engtype_VideoDecode".
struct gpu_engine_key {
    gpu_luid luid;
    uint32_t phys;
    uint32_t engine;
};
bool gpu_engine_instance(const char *name, gpu_engine_key *key);
// The LUID of a "\GPU Adapter Memory(*)" instance, "luid_0x..._0x..._phys_0".
bool gpu_memory_instance(const char *name, gpu_luid *luid);

// One formatted sample of a counter array.
struct gpu_counter_sample {
    const char *instance;
    double value;
};

// The adapter's load as Task Manager shows it: each engine's utilisation
// summed over its processes, the busiest engine, clamped to 0-100. At most
// 64 engines per adapter are told apart; instances that do not parse are
// ignored.
double gpu_adapter_load(const gpu_counter_sample *samples, size_t count, gpu_luid luid);
// The adapter's dedicated memory in use: the sum of its instances' values,
// 0 for negative or non-finite ones.
uint64_t gpu_adapter_memory_used(const gpu_counter_sample *samples, size_t count, gpu_luid luid);

// The adapter performance data of the display kernel (gdi32's
// D3DKMTQueryAdapterInfo with KMTQAITYPE_ADAPTERPERFDATA, Windows 10 2004
// and later), laid out as the kernel writes it. Temperature is in tenths of
// a degree Celsius.
struct gpu_kmt_perfdata {
    uint32_t physical_adapter_index;
    uint64_t memory_frequency;
    uint64_t max_memory_frequency;
    uint64_t max_memory_frequency_oc;
    uint64_t memory_bandwidth;
    uint64_t pcie_bandwidth;
    uint32_t fan_rpm;
    uint32_t power;        // tenths of a percent of the adapter's budget
    uint32_t temperature;  // tenths of a degree Celsius
    uint8_t power_state_override;
};
#define GPU_KMT_QUERY_ADAPTER_PERFDATA 62u

// Degrees Celsius from the performance data's temperature; 0 (unknown) for
// a reading of 0, which drivers give when they have no sensor, or one out
// of the believable range.
double gpu_kmt_temperature(uint32_t deci_celsius);

#endif  // VANTOREL_WINDOWS_GPU_DERIVE_H
