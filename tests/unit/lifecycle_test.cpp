// Initialisation, clean-up, the query frame and the rate clock, observed
// through the exported functions and the fake collectors and clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "history.h"
#include "library_fixture.h"
#include "sysmon_internal.h"

namespace {

using LifecycleTest = LibraryTest;

const std::vector<fake_domain> kCollectionOrder = {
    fake_domain::cpu,       fake_domain::mem, fake_domain::disks,   fake_domain::network,
    fake_domain::processes, fake_domain::gpu, fake_domain::battery, fake_domain::system};

std::vector<fake_domain> domains_of(const std::vector<fake_collector_call> &calls, size_t from = 0) {
    std::vector<fake_domain> out;
    for (size_t i = from; i < calls.size(); ++i) out.push_back(calls[i].domain);
    return out;
}

struct response_buffer_expectation {
    strbuf *buffer;
    size_t capacity;
};

const response_buffer_expectation kBuffers[] = {
    {&s_buf_snapshot, 65536}, {&s_buf_cpu, 4096},     {&s_buf_mem, 1024},
    {&s_buf_disks, 4096},     {&s_buf_nets, 4096},    {&s_buf_procs, 32768},
    {&s_buf_tree, 32768},     {&s_buf_gpu, 1024},     {&s_buf_sys, 1024},
    {&s_buf_bat, 1024},       {&s_buf_history, 4096}, {&s_buf_core_history, 16384},
};

TEST_F(LifecycleTest, InitCollectsEveryDomainOnceInOrder) {
    g_fake.mem.total = 8000;
    EXPECT_EQ(sysmon_init(), 0);
    EXPECT_EQ(domains_of(g_fake.calls), kCollectionOrder);
    for (const auto &call : g_fake.calls) {
        if (call.domain == fake_domain::cpu || call.domain == fake_domain::disks ||
            call.domain == fake_domain::network || call.domain == fake_domain::processes ||
            call.domain == fake_domain::gpu) {
            EXPECT_DOUBLE_EQ(call.elapsed, 1.0);
        }
    }
    EXPECT_EQ(g_fake.calls[0].capacity, SYSMON_MAX_CORES);
    EXPECT_EQ(g_fake.calls[2].capacity, SYSMON_MAX_DISKS);
    EXPECT_EQ(g_fake.calls[3].capacity, SYSMON_MAX_NETS);
    EXPECT_EQ(g_fake.calls[4].capacity, SYSMON_MAX_PROCS);
    EXPECT_EQ(g_fake.calls[4].memory_total, 8000u);  // the total just collected
    EXPECT_EQ(fake_clock_reads(), 5);  // one per collector with a rate window
}

TEST_F(LifecycleTest, InitTwiceChangesNothing) {
    EXPECT_EQ(sysmon_init(), 0);
    const char *text = sysmon_memory();
    const size_t calls = g_fake.calls.size();
    EXPECT_EQ(sysmon_init(), 0);
    EXPECT_EQ(g_fake.calls.size(), calls);
    EXPECT_EQ(sysmon_memory(), text);
}

TEST_F(LifecycleTest, InitAllocatesEveryBufferAtItsInitialCapacity) {
    sysmon_init();
    for (const auto &b : kBuffers) {
        ASSERT_NE(b.buffer->data, nullptr);
        EXPECT_EQ(b.buffer->capacity, b.capacity);
        EXPECT_EQ(b.buffer->len, 0u);
    }
}

TEST_F(LifecycleTest, LazyInitialisationCollectsTwice) {
    g_fake.cpu.cores = 4;
    fake_clock_install(50, 0);
    const char *doc = sysmon_cpu();
    EXPECT_NE(std::string(doc).find("\"cores\":4"), std::string::npos);
    std::vector<fake_domain> expected = kCollectionOrder;
    expected.push_back(fake_domain::cpu);
    EXPECT_EQ(domains_of(g_fake.calls), expected);
    EXPECT_DOUBLE_EQ(g_fake.calls.front().elapsed, 1.0);
    // No time passed since init: the reading first waits for the rest of
    // 100 ms, then derives over them against init's collection.
    EXPECT_EQ(fake_clock_slept_ns(), 100000000);
    EXPECT_DOUBLE_EQ(g_fake.calls.back().elapsed, 0.1);
    EXPECT_EQ(g_fake.calls.back().baseline, SYSMON_BASELINE_NEWEST);
    EXPECT_EQ(g_fake.calls.back().advance, 1);
    EXPECT_EQ(fake_clock_reads(), 7);
    // Only once: a reading right after it derives over that window again.
    fake_clock_advance_ns(1000000);
    sysmon_cpu();
    EXPECT_EQ(fake_clock_slept_ns(), 100000000);
    EXPECT_NEAR(g_fake.calls.back().elapsed, 0.101, 1e-9);
    EXPECT_EQ(g_fake.calls.back().baseline, SYSMON_BASELINE_OLDER);
}

TEST_F(LifecycleTest, OnlyRateBearingCollectionsReadTheClock) {
    sysmon_init();
    fake_clock_advance_ns(1000000000);  // no reading waits
    struct query {
        const char *name;
        const char *(*call)();
        int reads;
    };
    const query queries[] = {
        {"snapshot", [] { return sysmon_snapshot(); }, 5},
        {"cpu", [] { return sysmon_cpu(); }, 1},
        {"memory", [] { return sysmon_memory(); }, 0},
        {"disks", [] { return sysmon_disks(); }, 1},
        {"network", [] { return sysmon_network(); }, 1},
        {"processes", [] { return sysmon_processes(0, 0); }, 1},
        {"tree", [] { return sysmon_process_tree(0); }, 1},
        {"gpu", [] { return sysmon_gpu(); }, 1},  // energy counters
        {"system", [] { return sysmon_system(); }, 0},
        {"battery", [] { return sysmon_battery(); }, 0},
        {"history", [] { return sysmon_history(0, 10); }, 0},
        {"core history", [] { return sysmon_cpu_core_history(10); }, 0},
    };
    for (const auto &q : queries) {
        const int before = fake_clock_reads();
        q.call();
        EXPECT_EQ(fake_clock_reads() - before, q.reads) << q.name;
    }
    const int before = fake_clock_reads();
    sysmon_set_interval(10);
    sysmon_set_process_filter("x");
    sysmon_kill_process(-1);
    (void)sysmon_last_error();
    (void)sysmon_platform();
    EXPECT_EQ(fake_clock_reads(), before);
}

TEST_F(LifecycleTest, EachQueryCallsOnlyItsOwnCollector) {
    sysmon_init();
    struct query {
        const char *(*call)();
        std::vector<fake_domain> collectors;
    };
    const query queries[] = {
        {[] { return sysmon_cpu(); }, {fake_domain::cpu}},
        {[] { return sysmon_memory(); }, {fake_domain::mem}},
        {[] { return sysmon_disks(); }, {fake_domain::disks}},
        {[] { return sysmon_network(); }, {fake_domain::network}},
        {[] { return sysmon_processes(3, 1); }, {fake_domain::processes}},
        {[] { return sysmon_process_tree(3); }, {fake_domain::processes}},
        {[] { return sysmon_gpu(); }, {fake_domain::gpu}},
        {[] { return sysmon_system(); }, {fake_domain::system}},
        {[] { return sysmon_battery(); }, {fake_domain::battery}},
        {[] { return sysmon_history(1, 5); }, {}},
        {[] { return sysmon_cpu_core_history(5); }, {}},
        {[] { return sysmon_snapshot(); }, kCollectionOrder},
    };
    for (const auto &q : queries) {
        const size_t from = g_fake.calls.size();
        q.call();
        EXPECT_EQ(domains_of(g_fake.calls, from), q.collectors);
    }
}

TEST_F(LifecycleTest, ProcessQueriesPassTheLastMemoryTotal) {
    g_fake.mem.total = 1000;
    sysmon_init();
    g_fake.mem.total = 2000;  // not collected by the process queries
    sysmon_processes(0, 0);
    sysmon_process_tree(0);
    EXPECT_EQ(g_fake.calls[g_fake.calls.size() - 2].memory_total, 1000u);
    EXPECT_EQ(g_fake.calls.back().memory_total, 1000u);
    sysmon_memory();
    sysmon_processes(0, 0);
    EXPECT_EQ(g_fake.calls.back().memory_total, 2000u);
}

TEST_F(LifecycleTest, ElapsedHandlesNanosecondBorrow) {
    fake_clock_install(10, 900000000);
    sysmon_init();
    fake_clock_install(12, 100000000);  // 1.2 s later
    sysmon_cpu();
    EXPECT_NEAR(g_fake.calls.back().elapsed, 1.2, 1e-9);
}

TEST_F(LifecycleTest, ExtremeClockValuesDoNotOverflow) {
    fake_clock_install(INT64_MAX, 999999999);
    sysmon_init();
    fake_clock_install(INT64_MIN, 0);
    sysmon_cpu();
    // One nanosecond later, modulo 2^64, and the wait for the rest of 100 ms.
    EXPECT_NEAR(g_fake.calls.back().elapsed, 0.1, 1e-12);
}

TEST_F(LifecycleTest, IntervalSetsTheFirstElapsedAfterInitialisation) {
    sysmon_set_interval(250);
    sysmon_init();
    EXPECT_DOUBLE_EQ(g_fake.calls.front().elapsed, 0.25);

    sysmon_set_interval(4000);  // no effect until the next initialisation
    fake_clock_advance_ns(100000000);
    sysmon_cpu();
    EXPECT_DOUBLE_EQ(g_fake.calls.back().elapsed, 0.1);

    sysmon_cleanup();
    fake_clock_advance_ns(9000000000);
    sysmon_init();
    const auto &init_cpu_call = g_fake.calls[g_fake.calls.size() - 8];
    EXPECT_EQ(init_cpu_call.domain, fake_domain::cpu);
    EXPECT_DOUBLE_EQ(init_cpu_call.elapsed, 4.0);
}

TEST_F(LifecycleTest, IntervalIgnoresZeroAndNegativeValues) {
    sysmon_set_interval(500);
    sysmon_set_interval(0);
    sysmon_set_interval(-5);
    sysmon_set_interval(INT32_MIN);
    sysmon_init();
    EXPECT_DOUBLE_EQ(g_fake.calls.front().elapsed, 0.5);
}

TEST_F(LifecycleTest, CleanupBeforeInitAndTwiceIsHarmless) {
    sysmon_cleanup();
    sysmon_cleanup();
    EXPECT_TRUE(g_fake.calls.empty());
    sysmon_init();
    sysmon_cleanup();
    sysmon_cleanup();
    for (const auto &b : kBuffers) {
        EXPECT_EQ(b.buffer->data, nullptr);
        EXPECT_EQ(b.buffer->len, 0u);
        EXPECT_EQ(b.buffer->capacity, 0u);
    }
}

TEST_F(LifecycleTest, QueryAfterCleanupReinitialisesWithFreshBuffers) {
    g_fake.procs.assign(400, fake_process(1, 0, "grows-the-buffer", 1));
    for (int i = 0; i < 400; ++i) g_fake.procs[i].pid = i + 1;
    sysmon_init();
    sysmon_processes(0, 0);
    EXPECT_GT(s_buf_procs.capacity, 32768u);
    sysmon_snapshot();
    sysmon_cleanup();

    g_fake.calls.clear();
    sysmon_memory();
    EXPECT_EQ(fake_calls_of(fake_domain::mem), 2u);  // initialisation + the query
    for (const auto &b : kBuffers) EXPECT_EQ(b.buffer->capacity, b.capacity);
    EXPECT_STREQ(sysmon_history(0, 60), "[]");
}

// The platform acquires its kept resources once per initialisation, before
// the first collection, and releases them at clean-up.
TEST_F(LifecycleTest, PlatformInitialisedOncePerInitialisation) {
    g_fake.on_collect = [](fake_domain) { EXPECT_EQ(g_fake.platform_inits, 1); };
    sysmon_gpu();
    sysmon_gpu();
    sysmon_snapshot();
    EXPECT_EQ(g_fake.platform_inits, 1);
    EXPECT_EQ(g_fake.platform_shutdowns, 0);
    sysmon_cleanup();
    sysmon_cleanup();
    EXPECT_EQ(g_fake.platform_shutdowns, 1);
    g_fake.on_collect = nullptr;
    sysmon_init();
    EXPECT_EQ(g_fake.platform_inits, 2);
}

// The primary adapter is the first collected; without one, the placeholder.
TEST_F(LifecycleTest, PrimaryAdapterOrPlaceholder) {
    const auto doc = [] { return nlohmann::json::parse(sysmon_gpu()); };
    EXPECT_EQ(doc()["source"], "none");
    EXPECT_EQ(doc()["name"], "unknown");
    g_fake.gpus.resize(2);
    std::strcpy(g_fake.gpus[0].name, "first");
    std::strcpy(g_fake.gpus[0].source, "amdgpu");
    std::strcpy(g_fake.gpus[1].name, "second");
    EXPECT_EQ(doc()["name"], "first");
    EXPECT_EQ(doc()["source"], "amdgpu");
    EXPECT_EQ(doc()["adapters"].size(), 2u);
    EXPECT_EQ(doc()["adapters"][1]["name"], "second");
    EXPECT_EQ(g_fake.calls.back().capacity, SYSMON_MAX_GPUS);
}

TEST_F(LifecycleTest, RecordsSurviveCleanup) {
    g_fake.gpus.resize(1);
    g_fake.gpus[0].usage_percent = 42;
    sysmon_init();
    sysmon_cleanup();
    EXPECT_EQ(s_gpu.usage_percent, 42);
    EXPECT_EQ(s_gpus_count, 1);
}

TEST_F(LifecycleTest, SameQueryReusesItsBufferAndOverwritesTheText) {
    g_fake.cpu.cores = 1;
    const char *first = sysmon_cpu();
    const std::string first_text = first;
    g_fake.cpu.cores = 2;
    const char *second = sysmon_cpu();
    EXPECT_EQ(first, second);
    EXPECT_NE(first_text, std::string(second));
    EXPECT_NE(std::string(second).find("\"cores\":2"), std::string::npos);
}

TEST_F(LifecycleTest, DifferentQueriesHaveIndependentTexts) {
    const std::string mem = sysmon_memory();
    const char *mem_ptr = sysmon_memory();
    sysmon_cpu();
    sysmon_battery();
    EXPECT_EQ(std::string(mem_ptr), mem);
}

// Allocation failure at initialisation: each reading answers with its fixed
// fallback and still collects.
TEST_F(LifecycleTest, AbsentBuffersGiveFallbackTexts) {
    fake_alloc_install();
    g_fake_alloc.fail_alloc_sizes = {65536, 4096, 1024, 32768, 16384};  // every buffer
    sysmon_init();
    EXPECT_STREQ(sysmon_snapshot(), "{}");
    EXPECT_STREQ(sysmon_cpu(), "{}");
    EXPECT_STREQ(sysmon_memory(), "{}");
    EXPECT_STREQ(sysmon_disks(), "[]");
    EXPECT_STREQ(sysmon_network(), "[]");
    EXPECT_STREQ(sysmon_processes(0, 0), "[]");
    EXPECT_STREQ(sysmon_process_tree(0), "[]");
    EXPECT_STREQ(sysmon_gpu(), "{}");
    EXPECT_STREQ(sysmon_system(), "{}");
    EXPECT_STREQ(sysmon_battery(), "{}");
    EXPECT_STREQ(sysmon_history(0, 10), "[]");
    EXPECT_STREQ(sysmon_cpu_core_history(10), "[]");
    EXPECT_EQ(fake_calls_of(fake_domain::cpu), 3u);  // init, snapshot, cpu
    // The snapshot still recorded its samples.
    EXPECT_EQ(s_history[0].count, 1);
}

TEST_F(LifecycleTest, OneFailedBufferLeavesTheOthersWorking) {
    fake_alloc_install();
    g_fake_alloc.fail_alloc_index = 2;  // the memory buffer, third in order
    sysmon_init();
    EXPECT_STREQ(sysmon_memory(), "{}");
    EXPECT_TRUE(nlohmann::json::accept(sysmon_cpu()));
    EXPECT_NE(std::string(sysmon_gpu()), "{}");

    // The next initialisation tries again.
    sysmon_cleanup();
    g_fake_alloc.fail_alloc_index = -1;
    EXPECT_EQ(std::string(sysmon_memory()).rfind("{\"total\":", 0), 0u);
}

// A document that outgrows its buffer when no more memory can be had is
// not handed out cut short (broken JSON): the query answers its fallback,
// and the whole document again once memory is back.
TEST_F(LifecycleTest, GrowthFailureKeepsTheQueryAnswering) {
    g_fake.procs.assign(300, fake_process(7, 0, "p", 0));
    sysmon_init();
    fake_alloc_install();
    g_fake_alloc.fail_reallocs = true;
    const char *doc = sysmon_processes(0, 0);
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(doc, "[]");
    EXPECT_EQ(s_buf_procs.capacity, 32768u);
    EXPECT_TRUE(nlohmann::json::parse(sysmon_memory()).contains("total"));  // small ones still fit
    g_fake_alloc.fail_reallocs = false;
    EXPECT_EQ(nlohmann::json::parse(sysmon_processes(0, 0)).size(), 300u);
    EXPECT_EQ(nlohmann::json::parse(sysmon_snapshot())["processes"].size(), 50u);
}

TEST_F(LifecycleTest, PlatformIsAlwaysWindows) {
    EXPECT_EQ(sysmon_platform(), 1);
    sysmon_init();
    EXPECT_EQ(sysmon_platform(), 1);
}

}  // namespace

namespace {

// Clean-up racing with readings from other threads: a reading must never
// write into buffers that a clean-up released (AddressSanitizer watches).
// The texts are not read here: a concurrent clean-up may release them as
// soon as they are returned.
TEST_F(LifecycleTest, CleanupRacingWithQueriesNeverTouchesReleasedBuffers) {
    g_fake.procs.assign(20, fake_process(1, 0, "p", 1));
    for (int i = 0; i < 20; ++i) g_fake.procs[i].pid = i + 1;
    fake_hooks_restore();  // the real clock: the fake one is not thread-safe
    std::atomic<bool> stop{false};
    std::atomic<int> readings{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            while (!stop.load()) {
                const char *doc = t == 0 ? sysmon_snapshot() : t == 1 ? sysmon_processes(5, 0) : sysmon_cpu();
                EXPECT_NE(doc, nullptr);
                readings.fetch_add(1);
            }
        });
    }
    // At least 60 clean-ups, and on until the readers have read many times,
    // so that the clean-ups overlap readings whatever the scheduling.
    for (int i = 0; i < 60 || readings.load() < 120; ++i) {
        sysmon_cleanup();
        if (i % 2 == 0) sysmon_init();
        // A short pause lets the readers take the lock: a tight loop could
        // starve them for seconds on a loaded machine.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    for (auto &t : readers) t.join();
    EXPECT_GE(readings.load(), 120);
}

}  // namespace
