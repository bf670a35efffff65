// Processor load from counter triples, the model name, and the per-core fill.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "derive.h"

namespace {

struct cpu_state {
    int32_t has_prev = 0;
    uint64_t idle = 0;
    uint64_t kernel = 0;
    uint64_t user = 0;
};

cpu_readings times(uint64_t idle, uint64_t kernel, uint64_t user) {
    cpu_readings r = {};
    r.logical_processors = 4;
    r.has_times = 1;
    r.idle_time = idle;
    r.kernel_time = kernel;
    r.user_time = user;
    return r;
}

void collect(sysmon_cpu_info *cpu, const cpu_readings &r, cpu_state *s) {
    derive_cpu(cpu, &r, &s->has_prev, &s->idle, &s->kernel, &s->user);
}

cpu_readings named(const char *bytes, size_t n) {
    cpu_readings r = {};
    r.logical_processors = 1;
    r.has_name = 1;
    std::memcpy(r.name, bytes, n);
    return r;
}

}  // namespace

TEST(DeriveCpuLoad, SharesOfBusyTime) {
    // Kernel time includes idle time: 25 idle of 100 gives 75 % load.
    EXPECT_DOUBLE_EQ(derive_cpu_load(1000, 2000, 3000, 1025, 2060, 3040), 75.0);
    EXPECT_DOUBLE_EQ(derive_cpu_load(0, 0, 0, 0, 60, 40), 100.0);
    EXPECT_DOUBLE_EQ(derive_cpu_load(0, 0, 0, 100, 60, 40), 0.0);
    // No growth at all, or more idle than busy-plus-idle time.
    EXPECT_DOUBLE_EQ(derive_cpu_load(5, 6, 7, 5, 6, 7), 0.0);
    EXPECT_DOUBLE_EQ(derive_cpu_load(0, 0, 0, 500, 60, 40), 0.0);
}

TEST(DeriveCpuLoad, CounterThatWentDownCountsAsNoGrowth) {
    // User counter reset: only the kernel growth counts, 30 idle of 60.
    EXPECT_DOUBLE_EQ(derive_cpu_load(100, 100, 1000, 130, 160, 10), 50.0);
    // Idle counter reset: no idle at all.
    EXPECT_DOUBLE_EQ(derive_cpu_load(1000, 100, 100, 10, 160, 140), 100.0);
}

TEST(DeriveCpu, FirstReadingStoresCountersAndReportsZero) {
    cpu_state s;
    sysmon_cpu_info cpu;
    collect(&cpu, times(10, 20, 30), &s);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 0.0);
    EXPECT_EQ(cpu.per_core_count, 4);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(cpu.per_core[i], 0.0);
    EXPECT_EQ(s.has_prev, 1);
    EXPECT_EQ(s.idle, 10u);
    EXPECT_EQ(s.kernel, 20u);
    EXPECT_EQ(s.user, 30u);

    collect(&cpu, times(35, 80, 70), &s);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 75.0);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(cpu.per_core[i], 75.0);
    EXPECT_EQ(cpu.cores, 4);
    EXPECT_EQ(cpu.threads, 4);

    // Impossible idle growth: no load, but the counters are still stored.
    collect(&cpu, times(935, 140, 110), &s);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 0.0);
    EXPECT_EQ(s.idle, 935u);
}

TEST(DeriveCpu, FailedReadKeepsCountersSoNextReadSpansBoth) {
    cpu_state s;
    sysmon_cpu_info cpu;
    collect(&cpu, times(0, 0, 0), &s);
    cpu_readings failed = times(0, 0, 0);
    failed.has_times = 0;
    collect(&cpu, failed, &s);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 0.0);
    EXPECT_EQ(s.idle, 0u);
    collect(&cpu, times(50, 100, 100), &s);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 75.0);
}

TEST(DeriveCpu, PerCoreCountIsCappedAndNeverNegative) {
    cpu_state s;
    sysmon_cpu_info cpu;
    cpu_readings r = times(0, 0, 0);
    r.logical_processors = 600;
    collect(&cpu, r, &s);
    EXPECT_EQ(cpu.threads, 600);
    EXPECT_EQ(cpu.per_core_count, SYSMON_MAX_CORES);

    r.logical_processors = 0xFFFFFFFFu;
    collect(&cpu, r, &s);
    EXPECT_GT(cpu.cores, 0);
    EXPECT_EQ(cpu.per_core_count, SYSMON_MAX_CORES);

    r.logical_processors = 0;
    collect(&cpu, r, &s);
    EXPECT_EQ(cpu.per_core_count, 0);
}

TEST(DeriveCpu, NameDropsLeadingSpacesOnly) {
    cpu_state s;
    sysmon_cpu_info cpu;
    const char text[] = "   Vantorel X9  ";
    collect(&cpu, named(text, sizeof text), &s);
    EXPECT_STREQ(cpu.name, "Vantorel X9  ");

    const char tabbed[] = "\t X9";
    collect(&cpu, named(tabbed, sizeof tabbed), &s);
    EXPECT_STREQ(cpu.name, "\t X9");
}

TEST(DeriveCpu, NameFallsBackToGenericCpu) {
    cpu_state s;
    sysmon_cpu_info cpu;
    const char spaces[] = "     ";
    collect(&cpu, named(spaces, sizeof spaces), &s);
    EXPECT_STREQ(cpu.name, "Generic CPU");
    collect(&cpu, named("", 1), &s);
    EXPECT_STREQ(cpu.name, "Generic CPU");

    cpu_readings missing = named("Real name", 10);
    missing.has_name = 0;  // the query failed, whatever the buffer holds
    collect(&cpu, missing, &s);
    EXPECT_STREQ(cpu.name, "Generic CPU");
    EXPECT_DOUBLE_EQ(cpu.frequency_mhz, 0.0);

    missing.has_frequency = 1;
    missing.frequency_mhz = 0xFFFFFFFFu;
    collect(&cpu, missing, &s);
    EXPECT_DOUBLE_EQ(cpu.frequency_mhz, 4294967295.0);
}

TEST(DeriveCpu, NameIsReadOnlyWithinItsBuffer) {
    cpu_state s;
    sysmon_cpu_info cpu;
    const std::string whole(127, 'x');
    collect(&cpu, named(whole.c_str(), whole.size() + 1), &s);
    EXPECT_EQ(std::string(cpu.name), whole);

    // A full buffer without a terminator: at most 127 characters, nothing
    // read past the buffer.
    const std::string full = "  " + std::string(126, 'y');
    collect(&cpu, named(full.data(), full.size()), &s);
    EXPECT_EQ(std::string(cpu.name), std::string(126, 'y'));
    const std::string unspaced(128, 'z');
    collect(&cpu, named(unspaced.data(), unspaced.size()), &s);
    EXPECT_EQ(std::string(cpu.name), std::string(127, 'z'));
}
