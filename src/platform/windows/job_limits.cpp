// Job-object limits of the calling process: its job's extended limits and
// CPU rate control, the commit counted against a memory limit, each asked
// of the job the process belongs to (a null job handle). Not being in a job,
// or a Windows that does not answer a question, reads as no limit.

// K32GetProcessMemoryInfo lives in kernel32; no psapi.dll needed.
#define PSAPI_VERSION 2

#include "windows_api.h"
#include <psapi.h>

#include <cstdint>
#include <cstring>

#include "job_limits.h"
#include "job_limits_derive.h"

static_assert(SYSMON_JOB_LIMIT_PROCESS_MEMORY == JOB_OBJECT_LIMIT_PROCESS_MEMORY, "limit flag");
static_assert(SYSMON_JOB_LIMIT_JOB_MEMORY == JOB_OBJECT_LIMIT_JOB_MEMORY, "limit flag");
static_assert(SYSMON_JOB_CPU_RATE_ENABLE == JOB_OBJECT_CPU_RATE_CONTROL_ENABLE, "rate flag");
static_assert(SYSMON_JOB_CPU_RATE_WEIGHT_BASED == JOB_OBJECT_CPU_RATE_CONTROL_WEIGHT_BASED,
              "rate flag");
static_assert(SYSMON_JOB_CPU_RATE_HARD_CAP == JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP, "rate flag");

// The information class of a job's current and peak commit
// (JobObjectMemoryUsageInformation, Windows 10 and later): two 64-bit
// counts, the current one first.
#define SYSMON_JOB_MEMORY_USAGE_INFORMATION static_cast<JOBOBJECTINFOCLASS>(28)
// How many process identifiers of the job are read to sum their commit
// where Windows does not tell the job's commit itself.
#define SYSMON_JOB_PROCESS_IDS 1024

alignas(8) static unsigned char
    s_job_process_ids[sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + SYSMON_JOB_PROCESS_IDS * sizeof(ULONG_PTR)];

// The commit (private bytes) of an opened process; false when unread.
static bool private_bytes(HANDLE process, uint64_t *bytes) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                                 sizeof counters))
        return false;
    *bytes = counters.PrivateUsage;
    return true;
}

// The commit of all the job's processes: as Windows counts it for the job,
// else summed over the job's process list (processes that ended since it
// was read count nothing). False when neither can be read whole.
static bool job_commit(uint64_t *bytes) {
    uint64_t usage[2] = {};
    if (QueryInformationJobObject(nullptr, SYSMON_JOB_MEMORY_USAGE_INFORMATION, usage,
                                  sizeof usage, nullptr)) {
        *bytes = usage[0];
        return true;
    }
    auto *list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST *>(s_job_process_ids);
    std::memset(s_job_process_ids, 0, sizeof s_job_process_ids);
    if (!QueryInformationJobObject(nullptr, JobObjectBasicProcessIdList, list,
                                   sizeof s_job_process_ids, nullptr) ||
        list->NumberOfProcessIdsInList < list->NumberOfAssignedProcesses ||
        list->NumberOfProcessIdsInList > SYSMON_JOB_PROCESS_IDS)
        return false;
    uint64_t sum = 0;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        const DWORD pid = static_cast<DWORD>(list->ProcessIdList[i]);
        HANDLE process = pid == GetCurrentProcessId()
                             ? GetCurrentProcess()
                             : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (process == nullptr) continue;
        uint64_t one = 0;
        if (private_bytes(process, &one)) sum += one;
        if (process != GetCurrentProcess()) CloseHandle(process);
    }
    *bytes = sum;
    return true;
}

void sysmon_job_memory_limit(uint64_t *limit, uint64_t *used) {
    job_reading job = {};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
    if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info, sizeof info,
                                  nullptr)) {
        job.has_limits = 1;
        job.limit_flags = info.BasicLimitInformation.LimitFlags;
        job.process_memory_limit = info.ProcessMemoryLimit;
        job.job_memory_limit = info.JobMemoryLimit;
        if (job.limit_flags & SYSMON_JOB_LIMIT_JOB_MEMORY)
            job.has_job_memory_used = job_commit(&job.job_memory_used);
    }
    uint64_t own = 0;
    const bool has_own = job.has_limits && (job.limit_flags & SYSMON_JOB_LIMIT_PROCESS_MEMORY) &&
                         private_bytes(GetCurrentProcess(), &own);
    const job_limits limits = derive_job_limits(&job, 1, has_own, own, 0);
    *limit = limits.memory_limit;
    *used = limits.memory_used;
}

double sysmon_job_cpu_limit(uint32_t logical_processors) {
    job_reading job = {};
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate = {};
    if (QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate,
                                  nullptr)) {
        job.has_cpu_rate = 1;
        job.cpu_control_flags = rate.ControlFlags;
        job.cpu_rate = rate.CpuRate;
    }
    return derive_job_limits(&job, 1, 0, 0, logical_processors).cpus;
}
