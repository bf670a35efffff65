// Processor collector: logical and physical processor counts, the model
// name and nominal frequency from the registry, and the time counters of the
// whole machine and of each processor. This file only asks Windows and turns
// each answer into plain values; the loads derive from them in cpu_derive.
// Texts come from the wide-character functions and are handed on as UTF-8.
#include "windows_api.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cpu_derive.h"
#include "job_limits.h"
#include "ntdll_functions.h"
#include "sysmon_internal.h"
#include "utf8_text.h"

// Processor time counters of the two latest baselines, whole machine and
// per processor.
static baseline_pair<cpu_counters> s_win_cpu_baselines;
// Where a collection that keeps the baselines puts its new counters.
static cpu_counters s_win_cpu_discard;

// The information class of the times of each processor
// (SystemProcessorPerformanceInformation), and the size of one of its
// entries: idle, kernel (idle included) and user time, then times this
// collector does not use.
#define SYSMON_SYSTEM_PROCESSOR_PERFORMANCE 8
#define SYSMON_PROCESSOR_ENTRY_SIZE 48
static unsigned char s_win_processor_block[SYSMON_MAX_CORES * SYSMON_PROCESSOR_ENTRY_SIZE];
static idle_kernel_user_times s_win_core_times[SYSMON_MAX_CORES];
// Processor relationship records of the physical cores.
static unsigned char s_win_core_records[64 * 1024];

// Times of each logical processor; the number read, 0 when unanswered.
static int32_t read_core_times() {
    const nt_query_system_information_fn query = sysmon_nt_query_system_information();
    if (query == nullptr) return 0;
    ULONG returned = 0;
    if (query(SYSMON_SYSTEM_PROCESSOR_PERFORMANCE, s_win_processor_block,
              sizeof s_win_processor_block, &returned) != SYSMON_STATUS_SUCCESS)
        return 0;
    size_t count = returned / SYSMON_PROCESSOR_ENTRY_SIZE;
    if (count > SYSMON_MAX_CORES) count = SYSMON_MAX_CORES;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *entry = s_win_processor_block + i * SYSMON_PROCESSOR_ENTRY_SIZE;
        std::memcpy(&s_win_core_times[i].idle, entry, 8);
        std::memcpy(&s_win_core_times[i].kernel, entry + 8, 8);
        std::memcpy(&s_win_core_times[i].user, entry + 16, 8);
    }
    return static_cast<int32_t>(count);
}

static uint32_t read_physical_cores() {
    DWORD size = sizeof s_win_core_records;
    if (!GetLogicalProcessorInformationEx(
            RelationProcessorCore,
            reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX *>(s_win_core_records),
            &size))
        return 0;
    return derive_cpu_core_records(s_win_core_records,
                                   size < sizeof s_win_core_records ? size
                                                                    : sizeof s_win_core_records);
}

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, const sysmon_window *window) {
    // The loads are ratios of counter differences: only the baseline matters.
    if (cpu == nullptr) return -1;

    cpu_readings readings = {};
    SYSTEM_INFO si = {};
    GetNativeSystemInfo(&si);
    const DWORD active = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    readings.logical_processors = active != 0 ? active : si.dwNumberOfProcessors;
    readings.physical_cores = read_physical_cores();

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        wchar_t name[128] = {};
        DWORD size = sizeof name;
        if (RegQueryValueExW(key, L"ProcessorNameString", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(name), &size) == ERROR_SUCCESS) {
            readings.has_name = 1;
            utf8_from_utf16(readings.name, sizeof readings.name, name,
                            (size < sizeof name ? size : sizeof name) / sizeof(wchar_t));
        }
        DWORD mhz = 0;
        size = sizeof mhz;
        if (RegQueryValueExW(key, L"~MHz", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(&mhz), &size) == ERROR_SUCCESS) {
            readings.has_frequency = 1;
            readings.frequency_mhz = mhz;
        }
        RegCloseKey(key);
    }

    FILETIME idle, kernel, user;
    if (GetSystemTimes(&idle, &kernel, &user)) {
        readings.has_times = 1;
        readings.times = {filetime_value(idle), filetime_value(kernel), filetime_value(user)};
    }
    readings.core_count = read_core_times();
    readings.cores = s_win_core_times;

    const bool advance = window == nullptr || window->advance != 0;
    cpu_counters &store = advance ? s_win_cpu_baselines.next() : s_win_cpu_discard;
    derive_cpu(cpu, &readings, &s_win_cpu_baselines.against(window), &store);
    cpu->limit_cpus = sysmon_job_cpu_limit(readings.logical_processors);
    if (advance) s_win_cpu_baselines.commit(window);
    return 0;
}
