// GPU collector: NVIDIA adapters through NVML, every other hardware adapter
// through DXGI with its load and memory in use from the GPU performance
// counters. nvml.dll, dxgi.dll and pdh.dll are loaded at run time from the
// system folder, so the library's import table names none of them. The
// adapters, their order and the primary are found once per library
// initialisation; each collection then only reads figures into fixed
// buffers.
#include "windows_api.h"

#include <dxgi.h>
#include <pdh.h>
#include <pdhmsg.h>

#include <cstdio>
#include <cstring>

#include "gpu_derive.h"
#include "gpu_figures.h"
#include "nvml_loader.h"
#include "nvml_reader.h"
#include "sysmon_internal.h"
#include "utf8_text.h"
#include "windows_gpu.h"

namespace {

typedef HRESULT(WINAPI *create_factory_fn)(REFIID, void **);
typedef PDH_STATUS(WINAPI *pdh_open_fn)(LPCWSTR, DWORD_PTR, PDH_HQUERY *);
typedef PDH_STATUS(WINAPI *pdh_add_fn)(PDH_HQUERY, LPCWSTR, DWORD_PTR, PDH_HCOUNTER *);
typedef PDH_STATUS(WINAPI *pdh_collect_fn)(PDH_HQUERY);
typedef PDH_STATUS(WINAPI *pdh_array_fn)(PDH_HCOUNTER, DWORD, LPDWORD, LPDWORD,
                                          PPDH_FMT_COUNTERVALUE_ITEM_W);
typedef PDH_STATUS(WINAPI *pdh_close_fn)(PDH_HQUERY);

// The display kernel's adapter queries in gdi32.dll (the structures of its
// D3DKMT interface, declared here since the toolchain has no header for them).
struct kmt_open_from_luid {
    LUID luid;
    UINT adapter;
};
struct kmt_query_info {
    UINT adapter;
    UINT type;
    void *data;
    UINT size;
};
struct kmt_close_adapter {
    UINT adapter;
};
typedef LONG(APIENTRY *kmt_open_fn)(kmt_open_from_luid *);
typedef LONG(APIENTRY *kmt_query_fn)(const kmt_query_info *);
typedef LONG(APIENTRY *kmt_close_fn)(const kmt_close_adapter *);

// A hardware adapter found through DXGI.
struct dxgi_adapter {
    char name[128];
    char driver[64];
    uint64_t dedicated;
    gpu_luid luid;
    UINT kmt_adapter;  // open display-kernel handle, 0 when none
};

// The temperature source: gdi32's adapter performance data.
struct kmt_functions {
    kmt_open_fn open;
    kmt_query_fn query;
    kmt_close_fn close;
};

// The performance counters, with the functions of pdh.dll.
struct pdh_counters {
    pdh_open_fn open;
    pdh_add_fn add;
    pdh_collect_fn collect;
    pdh_array_fn array;
    pdh_close_fn close;
    PDH_HQUERY query;
    PDH_HCOUNTER engine;  // null unless adding it succeeded
    PDH_HCOUNTER memory;  // likewise
};

#define MAX_COUNTER_ITEMS 8192
#define COUNTER_BUFFER_BYTES (2u * 1024u * 1024u)

int32_t s_open = 0;
nvml_table s_nvml;
nvml_session s_session;
dxgi_adapter s_dxgi[SYSMON_MAX_GPUS];
gpu_entry s_entries[SYSMON_MAX_GPUS];
int32_t s_entry_count = 0;
pdh_counters s_pdh;
kmt_functions s_kmt;

// A counter array and its instance names, converted once per collection.
struct counter_samples {
    alignas(8) unsigned char buffer[COUNTER_BUFFER_BYTES];
    char names[MAX_COUNTER_ITEMS][96];
    gpu_counter_sample samples[MAX_COUNTER_ITEMS];
    size_t count;
};
counter_samples s_engine_samples;
counter_samples s_memory_samples;

template <typename F>
F symbol(HMODULE module, const char *name) {
    FARPROC address = GetProcAddress(module, name);
    F f = nullptr;
    static_assert(sizeof f == sizeof address, "function pointers of one size");
    std::memcpy(&f, &address, sizeof f);
    return f;
}

HMODULE system_library(const wchar_t *name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Opens the display-kernel handle that the temperature is read through; the
// functions are looked up once, and an adapter without them keeps handle 0.
void open_kmt(dxgi_adapter &a, const LUID &luid) {
    static HMODULE gdi = system_library(L"gdi32.dll");
    if (s_kmt.open == nullptr && gdi != nullptr) {
        s_kmt.open = symbol<kmt_open_fn>(gdi, "D3DKMTOpenAdapterFromLuid");
        s_kmt.query = symbol<kmt_query_fn>(gdi, "D3DKMTQueryAdapterInfo");
        s_kmt.close = symbol<kmt_close_fn>(gdi, "D3DKMTCloseAdapter");
    }
    a.kmt_adapter = 0;
    if (s_kmt.open == nullptr || s_kmt.query == nullptr || s_kmt.close == nullptr) return;
    kmt_open_from_luid request{};
    request.luid = luid;
    if (s_kmt.open(&request) == 0) a.kmt_adapter = request.adapter;
}

// Degrees Celsius from the adapter performance data, 0 where the system or
// the driver gives none (before Windows 10 2004, or no sensor).
double kmt_temperature(const dxgi_adapter &a) {
    if (a.kmt_adapter == 0) return 0.0;
    gpu_kmt_perfdata data;
    std::memset(&data, 0, sizeof data);
    kmt_query_info query{a.kmt_adapter, GPU_KMT_QUERY_ADAPTER_PERFDATA, &data, sizeof data};
    if (s_kmt.query(&query) != 0) return 0.0;
    return gpu_kmt_temperature(data.temperature);
}

void close_kmt(int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (s_dxgi[i].kmt_adapter != 0 && s_kmt.close != nullptr) {
            kmt_close_adapter request{s_dxgi[i].kmt_adapter};
            s_kmt.close(&request);
        }
        s_dxgi[i].kmt_adapter = 0;
    }
}

int32_t s_dxgi_count = 0;

int32_t discover_dxgi(bool nvml_has_devices, int32_t room) {
    static HMODULE dxgi = system_library(L"dxgi.dll");
    const create_factory_fn create = dxgi != nullptr ? symbol<create_factory_fn>(dxgi, "CreateDXGIFactory1") : nullptr;
    IDXGIFactory1 *factory = nullptr;
    if (create == nullptr || FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void **>(&factory))) ||
        factory == nullptr)
        return 0;
    int32_t count = 0;
    IDXGIAdapter1 *adapter = nullptr;
    for (UINT i = 0; count < room && factory->EnumAdapters1(i, &adapter) != DXGI_ERROR_NOT_FOUND; ++i) {
        if (adapter == nullptr) break;
        DXGI_ADAPTER_DESC1 desc;
        if (SUCCEEDED(adapter->GetDesc1(&desc)) && gpu_dxgi_listed(desc.VendorId, desc.Flags, nvml_has_devices)) {
            dxgi_adapter &a = s_dxgi[count++];
            std::memset(&a, 0, sizeof a);
            size_t units = 0;
            while (units < 128 && desc.Description[units] != 0) ++units;
            utf8_from_utf16(a.name, sizeof a.name, desc.Description, units);
            a.dedicated = desc.DedicatedVideoMemory;
            a.luid = gpu_luid{static_cast<uint32_t>(desc.AdapterLuid.HighPart), desc.AdapterLuid.LowPart};
            open_kmt(a, desc.AdapterLuid);
            LARGE_INTEGER umd;
            if (SUCCEEDED(adapter->CheckInterfaceSupport(__uuidof(IDXGIDevice), &umd)))
                gpu_driver_version(static_cast<uint64_t>(umd.QuadPart), a.driver, sizeof a.driver);
        }
        adapter->Release();
        adapter = nullptr;
    }
    factory->Release();
    s_dxgi_count = count;
    return count;
}

void open_counters() {
    static HMODULE pdh = system_library(L"pdh.dll");
    std::memset(&s_pdh, 0, sizeof s_pdh);
    if (pdh == nullptr) return;
    s_pdh.open = symbol<pdh_open_fn>(pdh, "PdhOpenQueryW");
    s_pdh.add = symbol<pdh_add_fn>(pdh, "PdhAddEnglishCounterW");
    s_pdh.collect = symbol<pdh_collect_fn>(pdh, "PdhCollectQueryData");
    s_pdh.array = symbol<pdh_array_fn>(pdh, "PdhGetFormattedCounterArrayW");
    s_pdh.close = symbol<pdh_close_fn>(pdh, "PdhCloseQuery");
    if (s_pdh.open == nullptr || s_pdh.add == nullptr || s_pdh.collect == nullptr || s_pdh.array == nullptr ||
        s_pdh.close == nullptr || s_pdh.open(nullptr, 0, &s_pdh.query) != ERROR_SUCCESS) {
        s_pdh.query = nullptr;
        return;
    }
    // A counter is read only once adding it succeeded: reading one whose
    // add failed can abort the process on some systems.
    if (s_pdh.add(s_pdh.query, L"\\GPU Engine(*)\\Utilization Percentage", 0, &s_pdh.engine) != ERROR_SUCCESS)
        s_pdh.engine = nullptr;
    if (s_pdh.add(s_pdh.query, L"\\GPU Adapter Memory(*)\\Dedicated Usage", 0, &s_pdh.memory) != ERROR_SUCCESS)
        s_pdh.memory = nullptr;
    if (s_pdh.engine == nullptr && s_pdh.memory == nullptr) {
        s_pdh.close(s_pdh.query);
        s_pdh.query = nullptr;
        return;
    }
    s_pdh.collect(s_pdh.query);  // the first sample: loads are rates over the next
}

void close_counters() {
    if (s_pdh.query != nullptr && s_pdh.close != nullptr) s_pdh.close(s_pdh.query);
    std::memset(&s_pdh, 0, sizeof s_pdh);
}

void read_counter(PDH_HCOUNTER counter, counter_samples *out) {
    out->count = 0;
    if (counter == nullptr) return;
    DWORD size = sizeof out->buffer;
    DWORD items = 0;
    auto *array = reinterpret_cast<PDH_FMT_COUNTERVALUE_ITEM_W *>(out->buffer);
    if (s_pdh.array(counter, PDH_FMT_DOUBLE | PDH_FMT_NOCAP100, &size, &items, array) != ERROR_SUCCESS) return;
    for (DWORD i = 0; i < items && out->count < MAX_COUNTER_ITEMS; ++i) {
        if (array[i].FmtValue.CStatus != PDH_CSTATUS_VALID_DATA && array[i].FmtValue.CStatus != PDH_CSTATUS_NEW_DATA)
            continue;
        char *name = out->names[out->count];
        size_t n = 0;
        // Instance names are ASCII; anything else cannot match an adapter.
        for (const wchar_t *w = array[i].szName; w != nullptr && *w != 0 && n + 1 < sizeof out->names[0]; ++w)
            name[n++] = *w < 0x80 ? static_cast<char>(*w) : '?';
        name[n] = '\0';
        out->samples[out->count++] = gpu_counter_sample{name, array[i].FmtValue.doubleValue};
    }
}

void close_adapters() {
    nvml_session_close(&s_session, &s_nvml);
    close_counters();
    close_kmt(s_dxgi_count);
    s_dxgi_count = 0;
    s_entry_count = 0;
    s_open = 0;
}

void open_adapters() {
    close_adapters();
    s_open = 1;
    if (nvml_load(&s_nvml)) nvml_session_open(&s_session, &s_nvml);
    const int32_t dxgi_count = discover_dxgi(s_session.count > 0, SYSMON_MAX_GPUS - s_session.count);
    if (dxgi_count > 0) open_counters();

    gpu_candidate own[SYSMON_MAX_GPUS];
    for (int32_t i = 0; i < dxgi_count; ++i) {
        // Integrated adapters have a small carve-out of dedicated memory.
        const uint64_t dedicated = s_dxgi[i].dedicated;
        own[i] = gpu_candidate{0, dedicated > 512ull * 1024 * 1024 ? 1 : 0, dedicated};
    }
    s_entry_count = gpu_collection_order(s_session.count, own, dxgi_count, s_entries, SYSMON_MAX_GPUS);
}

}  // namespace

void windows_gpu_open() { open_adapters(); }

void windows_gpu_close() { close_adapters(); }

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpus, int32_t *count, int32_t capacity,
                           const sysmon_window *window) {
    (void)window;  // no counter here is derived by the collector itself
    if (gpus == nullptr || count == nullptr) return -1;
    if (capacity < 0) capacity = 0;
    std::memset(gpus, 0, sizeof *gpus * static_cast<size_t>(capacity));
    *count = 0;
    if (s_open == 0) open_adapters();
    const bool counters = s_pdh.query != nullptr && s_pdh.collect(s_pdh.query) == ERROR_SUCCESS;
    s_engine_samples.count = s_memory_samples.count = 0;
    if (counters) {
        read_counter(s_pdh.engine, &s_engine_samples);
        read_counter(s_pdh.memory, &s_memory_samples);
    }
    for (int32_t e = 0; e < s_entry_count && *count < capacity; ++e) {
        const gpu_entry &entry = s_entries[e];
        sysmon_gpu_info &out = gpus[*count];
        if (entry.nvml_index >= 0) {
            if (!nvml_read_device(&s_session, &s_nvml, entry.nvml_index, &out))
                continue;  // lost: left out of this collection
        } else {
            const dxgi_adapter &a = s_dxgi[entry.own_index];
            std::memcpy(out.name, a.name, sizeof out.name);
            std::memcpy(out.driver, a.driver, sizeof out.driver);
            std::snprintf(out.source, sizeof out.source, "dxgi");
            out.vram_total = a.dedicated;
            out.usage_percent = gpu_percent(
                gpu_adapter_load(s_engine_samples.samples, s_engine_samples.count, a.luid));
            out.vram_used = gpu_adapter_memory_used(s_memory_samples.samples, s_memory_samples.count, a.luid);
            out.temperature_c = kmt_temperature(a);
        }
        ++*count;
    }
    return 0;
}
