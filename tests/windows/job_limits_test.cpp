// A child started inside a job object with memory limits and a CPU rate cap
// reads them through the library. The child also asks Windows for its job's
// limits itself; the library must agree with every answer Windows gives it
// and report no limit (0) for a question Windows does not answer, so the
// test holds on every Windows and under Wine, whatever parts of the job
// objects it implements, and fails whenever the library is wrong where they
// work. (The arithmetic of every kind of limit is tested natively on
// made-up job readings.)
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "child_process.h"
#include "json_checks.h"

namespace {

constexpr uint64_t MiB = 1024 * 1024;

struct job_handle {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    ~job_handle() {
        if (job != nullptr) {
            TerminateJobObject(job, 99);
            CloseHandle(job);
        }
    }
};

}  // namespace

TEST(JobLimits, ChildInAJobReadsTheLimitsWindowsReportsToIt) {
    job_handle job;
    ASSERT_NE(job.job, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.ProcessMemoryLimit = 768 * MiB;
    limits.JobMemoryLimit = 1024 * MiB;
    const bool memory_set = SetInformationJobObject(job.job, JobObjectExtendedLimitInformation,
                                                    &limits, sizeof limits) != 0;
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    rate.ControlFlags = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
    rate.CpuRate = 5000;  // half the machine
    const bool rate_set = SetInformationJobObject(job.job, JobObjectCpuRateControlInformation,
                                                  &rate, sizeof rate) != 0;

    child_process child(own_command_line(L"" SYSMON_LIMITS_CHILD_ARG), CREATE_SUSPENDED, true);
    ASSERT_TRUE(child.started());
    const bool assigned = AssignProcessToJobObject(job.job, child.handle()) != 0;
    ASSERT_NE(ResumeThread(child.thread()), static_cast<DWORD>(-1));
    const std::string output = child.read_output();
    const ordered_json report = parse_document(output.c_str());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION by_handle{};
    const bool read_by_handle = QueryInformationJobObject(job.job, JobObjectExtendedLimitInformation,
                                                          &by_handle, sizeof by_handle, nullptr);
    std::printf("job objects here: memory limits set %d (read back through the job's handle: %d, "
                "flags %#lx), CPU rate set %d, assigned %d; the child's own view: in a job %d, "
                "limit flags %lld, CPU rate flags %lld\n",
                memory_set, read_by_handle, by_handle.BasicLimitInformation.LimitFlags, rate_set,
                assigned, report["in_job"].get<int>(),
                report["limit_flags"].get<long long>(), report["rate_flags"].get<long long>());
    ASSERT_TRUE(assigned) << "the child could not be put in the job";

    // Memory: the lower of the flagged limits Windows reports to the child.
    const ordered_json &memory = report["memory"];
    const long long flags = report["limit_flags"].get<long long>();
    uint64_t expected = 0;
    if (flags > 0) {
        if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)
            expected = report["process_memory_limit"].get<uint64_t>();
        const uint64_t job_limit = report["job_memory_limit"].get<uint64_t>();
        if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) && job_limit != 0 &&
            (expected == 0 || job_limit < expected))
            expected = job_limit;
    }
    EXPECT_EQ(memory["limit"].get<uint64_t>(), expected) << output;
    if (expected == 768 * MiB) {
        // The process limit: the child's own commit counts against it.
        EXPECT_GT(memory["limit_used"].get<uint64_t>(), 0u) << output;
        EXPECT_LT(memory["limit_used"].get<uint64_t>(), expected) << output;
    } else if (expected == 0) {
        EXPECT_EQ(memory["limit_used"].get<uint64_t>(), 0u) << output;
    }
    if (memory_set && flags >= 0 && (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)) {
        EXPECT_EQ(expected, 768 * MiB) << "Windows reports other limits than were set";
    }

    // Processors: a hard cap of the rate Windows reports to the child.
    const long long rate_flags = report["rate_flags"].get<long long>();
    double cpus = 0.0;
    if (rate_flags > 0 && (rate_flags & JOB_OBJECT_CPU_RATE_CONTROL_ENABLE) &&
        (rate_flags & JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP) &&
        !(rate_flags & JOB_OBJECT_CPU_RATE_CONTROL_WEIGHT_BASED) &&
        report["cpu_rate"].get<uint32_t>() < 10000)
        cpus = report["cpu_rate"].get<double>() / 10000.0 * report["processors"].get<double>();
    EXPECT_NEAR(report["cpu"]["limit_cpus"].get<double>(), cpus, 0.005) << output;
    if (rate_set && rate_flags > 0) {
        EXPECT_NEAR(cpus, 0.5 * report["processors"].get<double>(), 0.005) << output;
    }
}
