// Processor load from counter triples, per processor and in total, the
// model name, and the count of physical cores.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cpu_derive.h"

namespace {

// The counters kept between readings and the processors' list, released
// when the test ends.
struct cpu_state {
    cpu_counters counters = {};
    record_list<sysmon_core_info> cores{nullptr, 0, 0, 0};
    int32_t &has_prev = counters.has_times;
    uint64_t &idle = counters.times.idle;
    cpu_state() = default;
    cpu_state(const cpu_state &) = delete;
    cpu_state &operator=(const cpu_state &) = delete;
    ~cpu_state() {
        record_list_release(&counters.cores, static_cast<idle_kernel_user_times *>(nullptr), 0);
        record_list_release(&cores, static_cast<sysmon_core_info *>(nullptr), 0);
    }
};

cpu_readings times(uint64_t idle, uint64_t kernel, uint64_t user) {
    cpu_readings r = {};
    r.logical_processors = 4;
    r.has_times = 1;
    r.times = {idle, kernel, user};
    return r;
}

void collect(sysmon_cpu_info *cpu, const cpu_readings &r, cpu_state *s) {
    derive_cpu(cpu, &s->cores, &r, &s->counters, &s->counters);
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
    EXPECT_EQ(s.cores.count, 0);  // no processor's own times were read: none is listed
    EXPECT_EQ(s.has_prev, 1);
    EXPECT_EQ(s.counters.times.idle, 10u);
    EXPECT_EQ(s.counters.times.kernel, 20u);
    EXPECT_EQ(s.counters.times.user, 30u);

    collect(&cpu, times(35, 80, 70), &s);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 75.0);
    // No processor's own times were read: no per-core load is made up.
    EXPECT_EQ(s.cores.count, 0);
    EXPECT_EQ(cpu.cores, 4);  // physical cores unknown: the logical count
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

TEST(DeriveCpu, EveryProcessorReadIsListedPast512) {
    cpu_state s;
    sysmon_cpu_info cpu;
    cpu_readings r = times(0, 0, 0);
    r.logical_processors = 1030;
    std::vector<idle_kernel_user_times> first(1030, idle_kernel_user_times{100, 200, 0});
    r.cores = first.data();
    r.core_count = 1030;
    collect(&cpu, r, &s);
    EXPECT_EQ(cpu.threads, 1030);
    ASSERT_EQ(s.cores.count, 1030);
    EXPECT_EQ(s.counters.cores.count, 1030);
    std::vector<idle_kernel_user_times> second = first;
    second[1029] = {150, 300, 100};  // 50 idle of 200
    r.cores = second.data();
    collect(&cpu, r, &s);
    ASSERT_EQ(s.cores.count, 1030);
    EXPECT_DOUBLE_EQ(s.cores.items[1029].usage, 75.0);
    EXPECT_DOUBLE_EQ(s.cores.items[1029].busy_seconds, 250 * 1e-7);
    EXPECT_DOUBLE_EQ(s.cores.items[1028].usage, 0.0);

    // A count of processors alone lists nothing and allocates for nothing.
    r.logical_processors = 0xFFFFFFFFu;
    r.cores = nullptr;
    r.core_count = 0;
    collect(&cpu, r, &s);
    EXPECT_GT(cpu.cores, 0);
    EXPECT_EQ(s.cores.count, 0);
    r.cores = second.data();
    r.core_count = -5;
    collect(&cpu, r, &s);
    EXPECT_EQ(s.cores.count, 0);
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

TEST(DeriveCpu, PerCoreLoadsComeFromEachProcessorsOwnTimes) {
    cpu_state s;
    sysmon_cpu_info cpu;
    std::vector<idle_kernel_user_times> first = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {900, 900, 0}};
    cpu_readings r = times(0, 0, 0);
    r.physical_cores = 2;
    r.cores = first.data();
    r.core_count = 4;
    collect(&cpu, r, &s);
    EXPECT_EQ(cpu.cores, 2);
    EXPECT_EQ(cpu.threads, 4);
    EXPECT_EQ(s.counters.cores.count, 4);

    // Processor 0 busy, 1 idle, 2 three quarters, 3's counters went down.
    std::vector<idle_kernel_user_times> second = {{0, 60, 40}, {100, 100, 0}, {25, 60, 40}, {10, 10, 0}};
    r = times(125, 220, 80);
    r.cores = second.data();
    r.core_count = 4;
    collect(&cpu, r, &s);
    EXPECT_DOUBLE_EQ(s.cores.items[0].usage, 100.0);
    EXPECT_DOUBLE_EQ(s.cores.items[1].usage, 0.0);
    EXPECT_DOUBLE_EQ(s.cores.items[2].usage, 75.0);
    EXPECT_DOUBLE_EQ(s.cores.items[3].usage, 0.0);
    EXPECT_NEAR(cpu.total_usage, 58.33, 0.01);
    // The counters themselves, in seconds: busy = kernel + user - idle.
    EXPECT_DOUBLE_EQ(cpu.busy_seconds, 175 * 1e-7);
    EXPECT_DOUBLE_EQ(cpu.idle_seconds, 125 * 1e-7);
    EXPECT_DOUBLE_EQ(s.cores.items[2].busy_seconds, 75 * 1e-7);
    EXPECT_DOUBLE_EQ(s.cores.items[2].idle_seconds, 25 * 1e-7);
    EXPECT_DOUBLE_EQ(s.cores.items[3].busy_seconds, 0.0);  // counters went down: still what was read
    EXPECT_DOUBLE_EQ(s.cores.items[3].idle_seconds, 10 * 1e-7);

    // The processor query fails: none is listed, the stored counters stay,
    // and the next answer measures from the last one.
    r = times(125, 220, 80);
    collect(&cpu, r, &s);
    EXPECT_EQ(s.cores.count, 0);
    std::vector<idle_kernel_user_times> third = {{50, 160, 40}, {100, 100, 0}};
    r.cores = third.data();
    r.core_count = 2;  // fewer answered than there are processors: those are listed
    collect(&cpu, r, &s);
    ASSERT_EQ(s.cores.count, 2);
    EXPECT_DOUBLE_EQ(s.cores.items[0].usage, 50.0);
    EXPECT_DOUBLE_EQ(s.cores.items[1].usage, 0.0);
    EXPECT_EQ(cpu.threads, 4);

    // Against a baseline that is not overwritten (a reading that keeps both).
    cpu_state kept, discard;
    cpu_counters_copy(&kept.counters, &s.counters);
    std::vector<idle_kernel_user_times> fourth = {{50, 260, 40}, {100, 100, 0}};
    r.cores = fourth.data();
    derive_cpu(&cpu, &s.cores, &r, &kept.counters, &discard.counters);
    EXPECT_DOUBLE_EQ(s.cores.items[0].usage, 100.0);
    EXPECT_EQ(kept.counters.cores.items[0].kernel, 160u);
    EXPECT_EQ(discard.counters.cores.items[0].kernel, 260u);
}

TEST(DeriveCpu, CoreRecordsAreCountedWithinTheBlock) {
    // Records: relationship, size, then a body; core records are relationship 0.
    auto record = [](std::vector<unsigned char> *block, uint32_t relationship, uint32_t size) {
        const size_t at = block->size();
        block->resize(at + (size >= 8 ? size : 8), 0);
        std::memcpy(block->data() + at, &relationship, 4);
        std::memcpy(block->data() + at + 4, &size, 4);
    };
    std::vector<unsigned char> block;
    record(&block, 0, 48);
    record(&block, 0, 48);
    record(&block, 2, 80);  // a cache record
    record(&block, 0, 48);
    EXPECT_EQ(derive_cpu_core_records(block.data(), block.size()), 3u);
    // The last record runs past the length given: not counted.
    EXPECT_EQ(derive_cpu_core_records(block.data(), block.size() - 1), 2u);
    EXPECT_EQ(derive_cpu_core_records(nullptr, 100), 0u);

    std::vector<unsigned char> hostile;
    record(&hostile, 0, 48);
    record(&hostile, 0, 0);  // a zero size would never move on
    record(&hostile, 0, 48);
    EXPECT_EQ(derive_cpu_core_records(hostile.data(), hostile.size()), 1u);
}

TEST(DeriveCpu, NonAsciiNameIsCutAtACharacterBoundary) {
    cpu_state s;
    sysmon_cpu_info cpu;
    // 126 ASCII bytes, then a 2-byte character that would end at byte 128.
    std::string name = std::string(126, 'a') + "\xC3\xA9";
    collect(&cpu, named(name.c_str(), name.size() + 1), &s);
    EXPECT_EQ(std::string(cpu.name), std::string(126, 'a'));
}
