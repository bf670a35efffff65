// Fuzz target: what the GPU sources hand over, from the input. A vendor
// library (NVML) whose every function returns an input-chosen code and fills
// its outputs with input bytes (names without a terminator, any numbers,
// success with nothing filled), read as the collectors read it; and the
// performance-counter instance names and values of the Windows collector.
// Every record keeps terminated, well-formed text and figures in range, and
// the adapters array is strict JSON.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "gpu_derive.h"
#include "gpu_document.h"
#include "nvml_reader.h"

namespace {

FuzzedDataProvider *s_in = nullptr;

nvml_return code() {
    // Mostly success, sometimes "not supported", "lost" or anything.
    switch (s_in->ConsumeIntegralInRange<int>(0, 5)) {
        case 0: return NVML_ERR_NOT_SUPPORTED;
        case 1: return NVML_ERR_GPU_IS_LOST;
        case 2: return s_in->ConsumeIntegral<int>();
        default: return NVML_OK;
    }
}

void fill(void *out, size_t size) {
    if (!s_in->ConsumeBool()) return;  // success with nothing filled
    const std::vector<uint8_t> bytes = s_in->ConsumeBytes<uint8_t>(size);
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
}

nvml_return f_init() { return s_in->ConsumeBool() ? NVML_OK : code(); }
nvml_return f_shutdown() { return NVML_OK; }
nvml_return f_count(unsigned int *n) {
    const nvml_return rc = code();
    if (s_in->ConsumeBool()) *n = s_in->ConsumeIntegralInRange<unsigned int>(0, 40);
    return rc;
}
nvml_return f_handle(unsigned int, nvml_device *d) { fill(d, sizeof *d); return code(); }
nvml_return f_name(nvml_device, char *out, unsigned int n) { fill(out, n); return code(); }
nvml_return f_pci(nvml_device, nvml_pci_info *p) { fill(p, sizeof *p); return code(); }
nvml_return f_util(nvml_device, nvml_utilization *u) { fill(u, sizeof *u); return code(); }
nvml_return f_mem(nvml_device, nvml_memory *m) { fill(m, sizeof *m); return code(); }
nvml_return f_mem2(nvml_device, nvml_memory_v2 *m) { fill(m, sizeof *m); return code(); }
nvml_return f_temp(nvml_device, int, unsigned int *t) { fill(t, sizeof *t); return code(); }
nvml_return f_power(nvml_device, unsigned int *p) { fill(p, sizeof *p); return code(); }
nvml_return f_driver(char *out, unsigned int n) { fill(out, n); return code(); }

void check_record(const sysmon_gpu_info &g) {
    check_text_field(g.name, "name");
    check_text_field(g.driver, "driver");
    check_text_field(g.source, "source");
    check_text_field(g.bus_id, "bus_id");
    FUZZ_CHECK(g.usage_percent >= 0 && g.usage_percent <= 100, "usage out of range");
    FUZZ_CHECK(std::isfinite(g.temperature_c) && std::isfinite(g.power_watts), "figure not finite");
    FUZZ_CHECK(g.power_watts >= 0, "negative power");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    s_in = &in;
    nvml_table table{f_init, f_shutdown, f_count, f_handle, f_name, f_pci, f_util, f_mem,
                     in.ConsumeBool() ? f_mem2 : nullptr, f_temp, f_power, f_driver};
    static nvml_session session;
    static sysmon_gpu_info gpus[SYSMON_MAX_GPUS];
    std::memset(gpus, 0, sizeof gpus);
    const int32_t devices = nvml_session_open(&session, &table);
    FUZZ_CHECK(devices >= 0 && devices <= SYSMON_MAX_GPUS, "device count out of range");
    int32_t n = 0;
    for (int32_t i = 0; i < devices; ++i)
        if (nvml_read_device(&session, &table, i, &gpus[n])) check_record(gpus[n++]);
    nvml_session_close(&session, &table);

    strbuf sb{};
    strbuf_init(&sb, 64);
    serialize_gpu_adapters(&sb, gpus, n);
    const nlohmann::json doc = parse_strict_json(sb.data, "adapters");
    FUZZ_CHECK(doc.size() == static_cast<size_t>(n), "adapter count");
    strbuf_free(&sb);

    // Counter instances of the Windows collector.
    std::vector<std::string> names;
    std::vector<gpu_counter_sample> samples;
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, 80);
    names.reserve(count);
    for (size_t i = 0; i < count; ++i) names.push_back(in.ConsumeRandomLengthString(80));
    for (size_t i = 0; i < count; ++i) samples.push_back({names[i].c_str(), in.ConsumeFloatingPoint<double>()});
    const gpu_luid luid{in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>()};
    const double load = gpu_adapter_load(samples.data(), samples.size(), luid);
    FUZZ_CHECK(load >= 0 && load <= 100, "load out of range");
    gpu_adapter_memory_used(samples.data(), samples.size(), luid);
    return 0;
}
