// Process collector. One sweep of the system's process information gives
// every process's identity, times, working set, transfer counts and thread
// states without opening it; each process is then opened only for its
// command line and owner. When the sweep is not answered, the Toolhelp
// snapshot with one opening per process stands in. The walk over the sweep's
// block lives in process_sweep, the records' derivation in proc_walk.

// K32GetProcessMemoryInfo lives in kernel32; no psapi.dll needed.
#define PSAPI_VERSION 2

#include "windows_api.h"
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "account_cache.h"
#include "ntdll_functions.h"
#include "proc_walk.h"
#include "process_sweep.h"
#include "sysmon_internal.h"
#include "utf8_text.h"

static_assert(SWEEP_OFFSET_PID == offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId),
              "process entry layout");
static_assert(SWEEP_OFFSET_IMAGE_NAME == offsetof(SYSTEM_PROCESS_INFORMATION, ImageName),
              "process entry layout");
static_assert(SWEEP_OFFSET_KERNEL_TIME == offsetof(SYSTEM_PROCESS_INFORMATION, KernelTime),
              "process entry layout");
static_assert(SWEEP_OFFSET_WORKING_SET ==
                  offsetof(SYSTEM_PROCESS_INFORMATION, VirtualMemoryCounters) +
                      offsetof(VM_COUNTERS, WorkingSetSize),
              "process entry layout");
static_assert(SWEEP_OFFSET_READ_TRANSFER ==
                  offsetof(SYSTEM_PROCESS_INFORMATION, IoCounters) +
                      offsetof(IO_COUNTERS, ReadTransferCount),
              "process entry layout");
static_assert(SWEEP_PROCESS_ENTRY_SIZE == sizeof(SYSTEM_PROCESS_INFORMATION),
              "process entry layout");
static_assert(SWEEP_THREAD_ENTRY_SIZE == sizeof(SYSTEM_THREAD_INFORMATION),
              "thread entry layout");
static_assert(SWEEP_OFFSET_THREAD_STATE == offsetof(SYSTEM_THREAD_INFORMATION, ThreadState),
              "thread entry layout");
static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "PROCESS_MEMORY_COUNTERS layout");

// Processor times and transfer counts of the two latest baselines, by pid.
static baseline_pair<proc_table> s_win_proc_baselines;
static proc_table s_win_proc_discard;
// The records the previous collection filled: the only ones to clear.
static used_records s_win_procs_used;

// The sweep's block, kept between collections and grown when the system
// asks for more.
static unsigned char *s_win_sweep_block;
static ULONG s_win_sweep_block_size;
#define SYSMON_SWEEP_FIRST_SIZE (256u * 1024u)
#define SYSMON_SWEEP_LARGEST_SIZE (256u * 1024u * 1024u)

// Texts of the process at hand.
static char s_win_name[1024];
static char s_win_command[1024];

// The information class of the sweep (SystemProcessInformation).
#define SYSMON_SYSTEM_PROCESS_INFORMATION 5

// Runs the sweep; the number of bytes answered, or 0 when the system did
// not answer.
static ULONG run_sweep() {
    const nt_query_system_information_fn query = sysmon_nt_query_system_information();
    if (query == nullptr) return 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (s_win_sweep_block == nullptr) {
            s_win_sweep_block = static_cast<unsigned char *>(std::malloc(SYSMON_SWEEP_FIRST_SIZE));
            if (s_win_sweep_block == nullptr) return 0;
            s_win_sweep_block_size = SYSMON_SWEEP_FIRST_SIZE;
        }
        ULONG returned = 0;
        const LONG status = query(SYSMON_SYSTEM_PROCESS_INFORMATION, s_win_sweep_block,
                                  s_win_sweep_block_size, &returned);
        if (status == SYSMON_STATUS_SUCCESS)
            return returned < s_win_sweep_block_size ? returned : s_win_sweep_block_size;
        if (status != SYSMON_STATUS_INFO_LENGTH_MISMATCH &&
            status != SYSMON_STATUS_BUFFER_TOO_SMALL)
            return 0;
        // Processes start between two calls: ask for more than was missing.
        ULONG wanted = s_win_sweep_block_size * 2;
        if (returned > s_win_sweep_block_size && returned < SYSMON_SWEEP_LARGEST_SIZE / 2)
            wanted = returned + returned / 2;
        if (wanted > SYSMON_SWEEP_LARGEST_SIZE) return 0;
        unsigned char *grown = static_cast<unsigned char *>(std::malloc(wanted));
        if (grown == nullptr) return 0;
        std::free(s_win_sweep_block);
        s_win_sweep_block = grown;
        s_win_sweep_block_size = wanted;
    }
    return 0;
}

// ---- What an opened process reveals: command line and owner ---------------

static_assert(sizeof(void *) == 8, "the environment block offsets are those of 64-bit Windows");

// Where the command line sits in a 64-bit process: the process parameters'
// address in its environment block (PEB), the counted command-line text in
// the parameters.
#define SYSMON_PEB_OFFSET_PARAMETERS 0x20
#define SYSMON_PARAMETERS_OFFSET_COMMAND_LINE 0x70
// The information classes of a process's basic information and of its
// command line.
#define SYSMON_PROCESS_BASIC_INFORMATION 0
#define SYSMON_PROCESS_COMMAND_LINE_INFORMATION 60
// PROCESS_BASIC_INFORMATION: the environment block's address at byte 8.
#define SYSMON_BASIC_INFORMATION_SIZE 48
#define SYSMON_BASIC_OFFSET_PEB 8
// The most units of a command line worth reading: the command field holds
// 1023 bytes, and every unit gives at least one.
#define SYSMON_COMMAND_UNITS_READ 1024

// The block the system's command-line answer goes to: a counted text and
// the longest command line Windows allows behind it.
alignas(8) static unsigned char s_win_command_block[COUNTED_TEXT_SIZE + 65536];
static account_cache s_win_accounts;

// Opens process `pid` for the queries below and for its memory, times and
// transfer counts (with memory reading where allowed); null when it cannot
// be opened.
static HANDLE open_process(DWORD pid) {
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == nullptr) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    return process;
}

static bool command_line_answer(HANDLE process, char *out, size_t size) {
    const nt_query_information_process_fn query = sysmon_nt_query_information_process();
    if (query == nullptr) return false;
    ULONG returned = 0;
    if (query(process, SYSMON_PROCESS_COMMAND_LINE_INFORMATION, s_win_command_block,
              sizeof s_win_command_block, &returned) != SYSMON_STATUS_SUCCESS)
        return false;
    const size_t answered = returned < sizeof s_win_command_block ? returned
                                                                  : sizeof s_win_command_block;
    const void *units = nullptr;
    size_t length = 0;
    if (!counted_text_in_block(s_win_command_block, answered, 0, &units, &length)) return false;
    if (length > SYSMON_COMMAND_UNITS_READ) length = SYSMON_COMMAND_UNITS_READ;
    return utf8_from_utf16(out, size, units, length) > 0;
}

static bool read_remote(HANDLE process, uint64_t address, void *buffer, size_t size) {
    SIZE_T read = 0;
    return address != 0 &&
           ReadProcessMemory(process, reinterpret_cast<const void *>(address), buffer, size,
                             &read) &&
           read == size;
}

static bool command_line_in_parameters(HANDLE process, char *out, size_t size) {
    const nt_query_information_process_fn query = sysmon_nt_query_information_process();
    if (query == nullptr) return false;
    alignas(8) unsigned char basic[SYSMON_BASIC_INFORMATION_SIZE] = {};
    if (query(process, SYSMON_PROCESS_BASIC_INFORMATION, basic, sizeof basic, nullptr) !=
        SYSMON_STATUS_SUCCESS)
        return false;
    uint64_t peb = 0;
    std::memcpy(&peb, basic + SYSMON_BASIC_OFFSET_PEB, sizeof peb);
    uint64_t parameters = 0;
    if (!read_remote(process, peb + SYSMON_PEB_OFFSET_PARAMETERS, &parameters, sizeof parameters))
        return false;
    unsigned char counted[COUNTED_TEXT_SIZE] = {};
    if (!read_remote(process, parameters + SYSMON_PARAMETERS_OFFSET_COMMAND_LINE, counted,
                     sizeof counted))
        return false;
    uint16_t bytes = 0;
    uint64_t address = 0;
    std::memcpy(&bytes, counted + COUNTED_TEXT_OFFSET_LENGTH, sizeof bytes);
    std::memcpy(&address, counted + COUNTED_TEXT_OFFSET_ADDRESS, sizeof address);
    size_t length = bytes / 2;
    if (length > SYSMON_COMMAND_UNITS_READ) length = SYSMON_COMMAND_UNITS_READ;
    if (length == 0) return false;
    uint16_t units[SYSMON_COMMAND_UNITS_READ];
    if (!read_remote(process, address, units, length * 2)) return false;
    return utf8_from_utf16(out, size, units, length) > 0;
}

// The command line of an opened process as UTF-8 into `out` (cut at a
// character boundary): the system's own answer where it gives one, else the
// command line in the process parameters of its environment block. Returns
// false when neither could be read.
static bool read_command_line(HANDLE process, char *out, size_t size) {
    if (size > 0) out[0] = '\0';
    return command_line_answer(process, out, size) ||
           command_line_in_parameters(process, out, size);
}

// The account name of the owner of an opened process, looked up once per
// owner; null when the process token cannot be read.
static const char *read_user(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return nullptr;
    alignas(8) unsigned char owner[256];
    DWORD returned = 0;
    const BOOL read = GetTokenInformation(token, TokenUser, owner, sizeof owner, &returned);
    CloseHandle(token);
    if (!read) return nullptr;
    PSID sid = reinterpret_cast<TOKEN_USER *>(owner)->User.Sid;
    if (sid == nullptr || !IsValidSid(sid)) return nullptr;
    const DWORD sid_size = GetLengthSid(sid);

    const char *known = account_cache_find(&s_win_accounts, sid, sid_size);
    if (known != nullptr) return known;

    // An identifier without a name (a deleted account, an unreachable
    // domain) is remembered as "": asking again would not help.
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use;
    static char name_utf8[ACCOUNT_NAME_SIZE * 4];
    name_utf8[0] = '\0';
    if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use))
        utf8_from_utf16(name_utf8, sizeof name_utf8, name, 256);
    account_cache_put(&s_win_accounts, sid, sid_size, name_utf8);
    const char *stored = account_cache_find(&s_win_accounts, sid, sid_size);
    return stored != nullptr ? stored : name_utf8;
}

// ---- The collector ---------------------------------------------------------

// Command line and owner of an opened process.
static void read_details(HANDLE process, sysmon_proc_info *proc) {
    if (read_command_line(process, s_win_command, sizeof s_win_command))
        derive_proc_set_command(proc, s_win_command, sizeof s_win_command);
    const char *user = read_user(process);
    if (user != nullptr) derive_proc_set_user(proc, user);
}

static void collect_from_sweep(proc_walk *walk, ULONG answered) {
    sweep_cursor cursor;
    sweep_begin(&cursor, s_win_sweep_block, answered);
    sweep_process entry;
    while (sweep_next(&cursor, &entry)) {
        utf8_from_utf16(s_win_name, sizeof s_win_name, entry.name_units, entry.name_length);
        const uint32_t pid = static_cast<uint32_t>(entry.pid);
        const proc_identity identity = {pid, static_cast<uint32_t>(entry.ppid), entry.threads,
                                        s_win_name, sizeof s_win_name};
        sysmon_proc_info *proc = derive_proc_walk_add(walk, &identity);
        if (proc == nullptr) break;
        const proc_figures figures = {1, entry.working_set,   1, entry.kernel_time,
                                      entry.user_time, 1,     entry.read_transfer,
                                      entry.write_transfer};
        derive_proc_apply_figures(walk, proc, &figures);
        derive_proc_set_status(proc, entry.all_threads_suspended);
        if (derive_proc_is_system(pid)) continue;
        HANDLE process = open_process(pid);
        if (process == nullptr) continue;
        read_details(process, proc);
        CloseHandle(process);
    }
}

// The Toolhelp snapshot, each process opened for its figures. Returns false
// when the snapshot cannot be created.
static bool collect_from_snapshot(proc_walk *walk) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W pe;
    std::memset(&pe, 0, sizeof pe);
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32FirstW(snapshot, &pe); more; more = Process32NextW(snapshot, &pe)) {
        utf8_from_utf16(s_win_name, sizeof s_win_name, pe.szExeFile, MAX_PATH);
        const proc_identity identity = {pe.th32ProcessID, pe.th32ParentProcessID, pe.cntThreads,
                                        s_win_name, sizeof s_win_name};
        sysmon_proc_info *proc = derive_proc_walk_add(walk, &identity);
        if (proc == nullptr) break;
        if (derive_proc_is_system(pe.th32ProcessID)) continue;
        HANDLE process = open_process(pe.th32ProcessID);
        if (process == nullptr) continue;
        proc_figures figures = {};
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (K32GetProcessMemoryInfo(process, &counters, sizeof counters)) {
            figures.has_memory = 1;
            figures.working_set = counters.WorkingSetSize;
        }
        FILETIME creation, exit, kernel, user;
        if (GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
            figures.has_times = 1;
            figures.kernel_time = filetime_value(kernel);
            figures.user_time = filetime_value(user);
        }
        IO_COUNTERS io = {};
        if (GetProcessIoCounters(process, &io)) {
            figures.has_io = 1;
            figures.read_transfer = io.ReadTransferCount;
            figures.write_transfer = io.WriteTransferCount;
        }
        derive_proc_apply_figures(walk, proc, &figures);
        read_details(process, proc);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return true;
}

int32_t sysmon_collect_processes(record_list<sysmon_proc_info> *list, const sysmon_window *window,
                                 uint64_t memory_total) {
    if (list == nullptr) return -1;
    int32_t *count = &list->count;
    const bool advance = window == nullptr || window->advance != 0;
    proc_table &store = advance ? s_win_proc_baselines.next() : s_win_proc_discard;
    proc_walk walk;
    // The list and the new table grow when the system lists more processes.
    derive_proc_walk_begin(&walk, list, &s_win_proc_baselines.against(window), &store,
                           window != nullptr ? window->elapsed_sec : 0.0, memory_total,
                           &s_win_procs_used);

    const ULONG answered = run_sweep();
    if (answered != 0) {
        collect_from_sweep(&walk, answered);
    } else if (!collect_from_snapshot(&walk)) {
        // Nothing could be listed: the baselines stay as they were, and
        // the records of the previous collection are cleared.
        derive_proc_walk_end(&walk, count);
        return -1;
    }
    derive_proc_walk_end(&walk, count);
    if (advance) s_win_proc_baselines.commit(window);
    return 0;
}
