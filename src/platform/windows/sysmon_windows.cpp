// Win32 collectors of the processor, memory, disks, network interfaces,
// processes and system facts, and process termination. This file only asks
// Windows and turns each answer into plain values; every derivation from
// them lives in derive.cpp.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// K32GetProcessMemoryInfo lives in kernel32; no psapi.dll needed.
#define PSAPI_VERSION 2

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "derive.h"
#include "sysmon_internal.h"

// The 8-bit-text process entry and the structure sizes the collectors rely on.
static_assert(sizeof(PROCESSENTRY32) == 304, "8-bit PROCESSENTRY32 expected");
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX layout");
static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "PROCESS_MEMORY_COUNTERS layout");
static_assert(sizeof(RTL_OSVERSIONINFOEXW) == 284, "RTL_OSVERSIONINFOEXW layout");

// Processor time counters of the two latest baselines.
struct win_cpu_counters {
    int32_t has_times;
    uint64_t idle;
    uint64_t kernel;
    uint64_t user;
};
static baseline_pair<win_cpu_counters> s_win_cpu_baselines;

// Interface counters of the two latest baselines.
struct win_net_counters {
    prev_net_entry entries[SYSMON_MAX_NETS];
    int32_t count;
};
static baseline_pair<win_net_counters> s_win_net_baselines;
// Where a collection that keeps the baselines puts its new counters.
static win_net_counters s_win_net_discard;

// Processor times of the two latest baselines.
struct win_proc_times {
    prev_proc_entry entries[SYSMON_MAX_PROCS];
    int32_t count;
};
static baseline_pair<win_proc_times> s_win_proc_baselines;
static win_proc_times s_win_proc_discard;

static uint64_t filetime_value(const FILETIME &ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// ---- Processor -------------------------------------------------------------

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, const sysmon_window *window) {
    // The load is a ratio of counter differences: only the baseline matters.
    if (cpu == nullptr) return -1;

    cpu_readings readings = {};
    SYSTEM_INFO si = {};
    GetNativeSystemInfo(&si);
    readings.logical_processors = si.dwNumberOfProcessors;

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof readings.name;
        readings.has_name =
            RegQueryValueExA(key, "ProcessorNameString", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(readings.name),
                             &size) == ERROR_SUCCESS;
        DWORD mhz = 0;
        size = sizeof mhz;
        if (RegQueryValueExA(key, "~MHz", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(&mhz),
                             &size) == ERROR_SUCCESS) {
            readings.has_frequency = 1;
            readings.frequency_mhz = mhz;
        }
        RegCloseKey(key);
    }

    FILETIME idle, kernel, user;
    if (GetSystemTimes(&idle, &kernel, &user)) {
        readings.has_times = 1;
        readings.idle_time = filetime_value(idle);
        readings.kernel_time = filetime_value(kernel);
        readings.user_time = filetime_value(user);
    }

    // Derive against a copy of the baseline, which then holds the new
    // counters; it becomes the newest baseline only when the window advances.
    win_cpu_counters counters = s_win_cpu_baselines.against(window);
    derive_cpu(cpu, &readings, &counters.has_times, &counters.idle,
               &counters.kernel, &counters.user);
    if (window == nullptr || window->advance != 0) {
        s_win_cpu_baselines.next() = counters;
        s_win_cpu_baselines.commit(window);
    }
    return 0;
}

// ---- Memory ----------------------------------------------------------------

int32_t sysmon_collect_mem(sysmon_mem_info *mem) {
    if (mem == nullptr) return -1;
    mem_readings readings = {};
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) {
        readings.has_status = 1;
        readings.total_phys = status.ullTotalPhys;
        readings.avail_phys = status.ullAvailPhys;
        readings.total_page_file = status.ullTotalPageFile;
        readings.avail_page_file = status.ullAvailPageFile;
    }
    derive_mem(mem, &readings);
    return 0;
}

// ---- Disks -----------------------------------------------------------------

int32_t sysmon_collect_disks(sysmon_disk_info *disks, int32_t *count,
                             int32_t capacity, const sysmon_window *window) {
    (void)window;  // no disk rates on this platform
    if (disks == nullptr || count == nullptr) return -1;

    char roots[SYSMON_DISK_ROOT_LIST_SIZE] = {};
    disk_walk walk;
    derive_disk_walk_begin(&walk, disks, count, capacity, roots, sizeof roots);
    GetLogicalDriveStringsA(SYSMON_DISK_ROOT_LIST_QUERY_LENGTH, roots);

    const char *root;
    while ((root = derive_disk_walk_next(&walk)) != nullptr) {
        if (!derive_disk_type_accepted(GetDriveTypeA(root))) continue;
        ULARGE_INTEGER available, total, total_free;
        if (!GetDiskFreeSpaceExA(root, &available, &total, &total_free)) continue;
        char fs_name[SYSMON_DISK_FS_NAME_SIZE] = {};
        const BOOL has_fs = GetVolumeInformationA(root, nullptr, 0, nullptr,
                                                  nullptr, nullptr, fs_name,
                                                  sizeof fs_name);
        derive_disk_walk_add(&walk, root, total.QuadPart, total_free.QuadPart,
                             has_fs ? fs_name : nullptr);
    }
    derive_disk_walk_end(&walk, count);
    return 0;
}

// ---- Network ---------------------------------------------------------------

int32_t sysmon_collect_network(sysmon_net_info *nets, int32_t *count,
                               int32_t capacity, const sysmon_window *window) {
    if (nets == nullptr || count == nullptr) return -1;
    derive_net_clear(nets, count, capacity);

    ULONG size = 0;
    if (GetIfTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return 0;
    if (size == 0) return 0;
    MIB_IFTABLE *table = static_cast<MIB_IFTABLE *>(std::malloc(size));
    if (table == nullptr) return 0;
    if (GetIfTable(table, &size, FALSE) != NO_ERROR) {
        std::free(table);
        return 0;
    }

    // Never trust the row count beyond the rows the block can hold.
    DWORD rows = table->dwNumEntries;
    const size_t room = size > offsetof(MIB_IFTABLE, table)
                            ? (size - offsetof(MIB_IFTABLE, table)) / sizeof(MIB_IFROW)
                            : 0;
    if (rows > room) rows = static_cast<DWORD>(room);

    const bool advance = window == nullptr || window->advance != 0;
    const win_net_counters &base = s_win_net_baselines.against(window);
    win_net_counters &store = advance ? s_win_net_baselines.next() : s_win_net_discard;
    net_walk walk;
    derive_net_walk_begin(&walk, nets, capacity, base.entries, base.count,
                          window != nullptr ? window->elapsed_sec : 0.0);
    for (DWORD i = 0; i < rows && !derive_net_walk_full(&walk); ++i) {
        const MIB_IFROW &r = table->table[i];
        const net_row row = {r.dwType,     r.dwOperStatus,
                             r.dwInOctets, r.dwOutOctets,
                             r.dwDescrLen, reinterpret_cast<const char *>(r.bDescr),
                             sizeof r.bDescr};
        derive_net_walk_row(&walk, &row);
    }
    derive_net_walk_end(&walk, count, store.entries, &store.count);
    if (advance) s_win_net_baselines.commit(window);

    std::free(table);
    return 0;
}

// ---- Processes -------------------------------------------------------------

int32_t sysmon_collect_processes(sysmon_proc_info *procs, int32_t *count,
                                 int32_t capacity, const sysmon_window *window,
                                 uint64_t memory_total) {
    if (procs == nullptr || count == nullptr) return -1;
    const bool advance = window == nullptr || window->advance != 0;
    const win_proc_times &base = s_win_proc_baselines.against(window);
    win_proc_times &store = advance ? s_win_proc_baselines.next() : s_win_proc_discard;
    const double elapsed_sec = window != nullptr ? window->elapsed_sec : 0.0;
    proc_walk walk;
    derive_proc_walk_begin(&walk, procs, count, capacity);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;

    PROCESSENTRY32 pe;
    std::memset(&pe, 0, sizeof pe);
    pe.dwSize = sizeof pe;
    if (!Process32First(snapshot, &pe)) {
        CloseHandle(snapshot);
        derive_proc_walk_end(&walk, count, store.entries, &store.count);
        if (advance) s_win_proc_baselines.commit(window);
        return 0;
    }

    do {
        sysmon_proc_info *proc = derive_proc_walk_next(&walk);
        if (proc == nullptr) break;
        const proc_entry entry = {pe.th32ProcessID, pe.th32ParentProcessID,
                                  pe.cntThreads, pe.szExeFile, sizeof pe.szExeFile};
        if (!derive_proc_fill_identity(proc, &entry)) continue;

        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     pe.th32ProcessID);
        if (process == nullptr) continue;
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (K32GetProcessMemoryInfo(process, &counters, sizeof counters))
            derive_proc_apply_memory(proc, counters.WorkingSetSize, memory_total);
        FILETIME creation, exit, kernel, user;
        if (GetProcessTimes(process, &creation, &exit, &kernel, &user))
            derive_proc_apply_times(proc, filetime_value(kernel),
                                    filetime_value(user), base.entries,
                                    base.count, elapsed_sec);
        CloseHandle(process);
    } while (Process32Next(snapshot, &pe));

    CloseHandle(snapshot);
    derive_proc_walk_end(&walk, count, store.entries, &store.count);
    if (advance) s_win_proc_baselines.commit(window);
    return 0;
}

// ---- System ----------------------------------------------------------------

typedef LONG(WINAPI *rtl_get_version_fn)(RTL_OSVERSIONINFOEXW *);

int32_t sysmon_collect_system(sysmon_system_info *sys) {
    if (sys == nullptr) return -1;
    system_readings readings = {};

    DWORD size = sizeof readings.hostname;
    readings.has_hostname = GetComputerNameA(readings.hostname, &size) != 0;

    // RtlGetVersion reports the true version, not a compatibility layer's.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
        FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
        if (proc != nullptr) {
            rtl_get_version_fn rtl_get_version = reinterpret_cast<rtl_get_version_fn>(
                reinterpret_cast<void (*)(void)>(proc));
            RTL_OSVERSIONINFOEXW info;
            std::memset(&info, 0, sizeof info);
            info.dwOSVersionInfoSize = sizeof info;
            if (rtl_get_version(&info) == 0) {
                readings.has_version = 1;
                readings.major = info.dwMajorVersion;
                readings.minor = info.dwMinorVersion;
                readings.build = info.dwBuildNumber;
            }
        }
    }

    readings.uptime_ms = GetTickCount64();
    const __time64_t boot = derive_boot_instant(
        _time64(nullptr), derive_uptime_seconds(readings.uptime_ms));
    readings.boot_utc = _gmtime64(&boot);

    SYSTEM_INFO si = {};
    GetNativeSystemInfo(&si);
    readings.arch_code = si.wProcessorArchitecture;

    derive_system(sys, &readings);
    return 0;
}

// ---- Termination -----------------------------------------------------------

sysmon_terminate_result sysmon_platform_terminate(int32_t pid,
                                                  unsigned long *error_code) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        if (error_code != nullptr) *error_code = GetLastError();
        return SYSMON_TERMINATE_OPEN_FAILED;
    }
    const BOOL terminated = TerminateProcess(process, 1);
    CloseHandle(process);
    if (!terminated) {
        if (error_code != nullptr) *error_code = GetLastError();
        return SYSMON_TERMINATE_REFUSED;
    }
    return SYSMON_TERMINATE_OK;
}

void sysmon_platform_error_text(unsigned long error_code, char *out, size_t size) {
    // The Windows messages carry the bare code; no text is added.
    (void)error_code;
    if (out != nullptr && size > 0) out[0] = '\0';
}

int32_t sysmon_platform_code() { return 1; }
