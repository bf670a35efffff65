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
// Both grow with the processors the system lists and keep their size.
static unsigned char s_win_processor_block_initial[SYSMON_MAX_CORES * SYSMON_PROCESSOR_ENTRY_SIZE];
static record_list<unsigned char> s_win_processor_block{
    s_win_processor_block_initial, 0, sizeof s_win_processor_block_initial, 0};
static idle_kernel_user_times s_win_core_times_initial[SYSMON_MAX_CORES];
static record_list<idle_kernel_user_times> s_win_core_times{s_win_core_times_initial, 0, SYSMON_MAX_CORES, 0};
// Processor relationship records of the physical cores.
static unsigned char s_win_core_records[64 * 1024];

// Times of each of the `processors` logical processors, as many as the
// system answers for and the lists can grow to hold; the number read, 0
// when unanswered. A block the system finds too small grows to the size it
// asks for, once.
static int32_t read_core_times(uint32_t processors) {
    const nt_query_system_information_fn query = sysmon_nt_query_system_information();
    if (query == nullptr) return 0;
    const uint64_t wanted = static_cast<uint64_t>(processors) * SYSMON_PROCESSOR_ENTRY_SIZE;
    if (wanted <= INT32_MAX) record_list_reserve(&s_win_processor_block, static_cast<int32_t>(wanted));
    ULONG returned = 0;
    LONG status = SYSMON_STATUS_INFO_LENGTH_MISMATCH;
    for (int tries = 0; tries < 2 && status == SYSMON_STATUS_INFO_LENGTH_MISMATCH; ++tries) {
        if (tries > 0 && (returned > INT32_MAX ||
                          !record_list_reserve(&s_win_processor_block, static_cast<int32_t>(returned))))
            break;
        returned = 0;
        status = query(SYSMON_SYSTEM_PROCESSOR_PERFORMANCE, s_win_processor_block.items,
                       static_cast<ULONG>(s_win_processor_block.capacity), &returned);
    }
    if (status != SYSMON_STATUS_SUCCESS) return 0;
    if (returned > static_cast<ULONG>(s_win_processor_block.capacity))
        returned = static_cast<ULONG>(s_win_processor_block.capacity);
    const int32_t answered = static_cast<int32_t>(returned / SYSMON_PROCESSOR_ENTRY_SIZE);
    record_list_reserve(&s_win_core_times, answered);
    const int32_t count = answered < s_win_core_times.capacity ? answered : s_win_core_times.capacity;
    for (int32_t i = 0; i < count; ++i) {
        const unsigned char *entry = s_win_processor_block.items + static_cast<size_t>(i) * SYSMON_PROCESSOR_ENTRY_SIZE;
        std::memcpy(&s_win_core_times.items[i].idle, entry, 8);
        std::memcpy(&s_win_core_times.items[i].kernel, entry + 8, 8);
        std::memcpy(&s_win_core_times.items[i].user, entry + 16, 8);
    }
    s_win_core_times.count = count;
    return count;
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

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *cores,
                           const sysmon_window *window) {
    // The loads are ratios of counter differences: only the baseline matters.
    if (cpu == nullptr || cores == nullptr) return -1;

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
    readings.core_count = read_core_times(readings.logical_processors);
    readings.cores = s_win_core_times.items;

    const bool advance = window == nullptr || window->advance != 0;
    cpu_counters &store = advance ? s_win_cpu_baselines.next() : s_win_cpu_discard;
    derive_cpu(cpu, cores, &readings, &s_win_cpu_baselines.against(window), &store);
    cpu->limit_cpus = sysmon_job_cpu_limit(readings.logical_processors);
    if (advance) s_win_cpu_baselines.commit(window);
    return 0;
}
