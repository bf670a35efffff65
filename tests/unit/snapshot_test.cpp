// The snapshot: collection order, one clock reading, history samples and the
// combined document with the 50 busiest processes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "history.h"
#include "library_fixture.h"

namespace {

using json = nlohmann::json;

class SnapshotTest : public LibraryTest {
protected:
    static sysmon_net_info net(uint64_t down, uint64_t up) {
        sysmon_net_info n{};
        std::strcpy(n.name, "eth");
        std::strcpy(n.ip, "0.0.0.0");
        n.down_bytes_sec = down;
        n.up_bytes_sec = up;
        return n;
    }
    static sysmon_disk_info disk(uint64_t read, uint64_t write) {
        sysmon_disk_info d{};
        std::strcpy(d.name, "C:");
        d.read_bytes_sec = read;
        d.write_bytes_sec = write;
        return d;
    }
    std::string last_sample(int metric) { return sysmon_history(metric, 1); }
};

TEST_F(SnapshotTest, CollectsEveryDomainInOrderEachOverItsOwnWindow) {
    g_fake.mem.total = 4096;
    sysmon_init();
    fake_clock_advance_ns(2000000000);
    const size_t from = g_fake.calls.size();
    const int reads = fake_clock_reads();
    sysmon_snapshot();
    EXPECT_EQ(fake_clock_reads() - reads, 5);
    const std::vector<fake_domain> expected = {
        fake_domain::cpu,       fake_domain::mem, fake_domain::disks,   fake_domain::network,
        fake_domain::processes, fake_domain::gpu, fake_domain::battery, fake_domain::system};
    ASSERT_EQ(g_fake.calls.size() - from, expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto &call = g_fake.calls[from + i];
        EXPECT_EQ(call.domain, expected[i]);
        if (call.elapsed >= 0) {
            EXPECT_DOUBLE_EQ(call.elapsed, 2.0);
        }
    }
    EXPECT_EQ(g_fake.calls[from + 4].memory_total, 4096u);
}

TEST_F(SnapshotTest, DocumentFramesTheDomainDocuments) {
    std::strcpy(g_fake.cpu.name, "CPU");
    std::strcpy(g_fake.bat.status, "none");
    std::strcpy(g_fake.sys.hostname, "host");
    const std::string doc = sysmon_snapshot();
    const std::string expected =
        "{\"cpu\":" + std::string(sysmon_cpu()) + ",\"memory\":" + std::string(sysmon_memory()) +
        ",\"disks\":[],\"network\":[],\"processes\":[],\"gpu\":" + std::string(sysmon_gpu()) +
        ",\"battery\":" + std::string(sysmon_battery()) + ",\"system\":" + std::string(sysmon_system()) + "}";
    EXPECT_EQ(doc, expected);
    EXPECT_EQ(json::parse(doc).size(), 8u);
}

TEST_F(SnapshotTest, MemberOrderIsFixed) {
    g_fake.nets = {net(1, 2)};
    g_fake.disks = {disk(3, 4)};
    g_fake.procs = {fake_process(1, 0, "a", 1)};
    const std::string doc = sysmon_snapshot();
    const char *members[] = {"{\"cpu\":{", ",\"memory\":{", ",\"disks\":[{", ",\"network\":[{",
                             ",\"processes\":[{", ",\"gpu\":{", ",\"battery\":{", ",\"system\":{"};
    size_t at = 0;
    for (const char *m : members) {
        const size_t found = doc.find(m, at);
        ASSERT_NE(found, std::string::npos) << m;
        at = found + 1;
    }
    EXPECT_EQ(doc.back(), '}');
    EXPECT_TRUE(json::accept(doc));
}

TEST_F(SnapshotTest, ListsTheFiftyBusiestProcessesIgnoringTheFilter) {
    for (int i = 0; i < 120; ++i) g_fake.procs.push_back(fake_process(1000 - i, 0, i % 2 ? "odd" : "even", i / 2));
    sysmon_set_process_filter("odd");
    const json procs = json::parse(sysmon_snapshot())["processes"];
    ASSERT_EQ(procs.size(), 50u);
    // Loads 59 down to 35, two processes each; equal loads by ascending pid.
    EXPECT_EQ(procs[0]["cpu_percent"].get<double>(), 59);
    EXPECT_EQ(procs[0]["pid"].get<int>(), 1000 - 119);
    EXPECT_EQ(procs[1]["pid"].get<int>(), 1000 - 118);
    EXPECT_EQ(procs[49]["cpu_percent"].get<double>(), 35);
    bool saw_even = false;
    for (const auto &p : procs) saw_even |= p["name"] == "even";
    EXPECT_TRUE(saw_even);
}

TEST_F(SnapshotTest, RecordsTheEightHeadlineSamples) {
    g_fake.cpu.total_usage = 12.5;
    g_fake.cpu.temperature_c = -3;
    g_fake.mem.total = 8;
    g_fake.mem.used = 2;
    g_fake.nets = {net(1000, 7), net(500, 8)};
    g_fake.disks = {disk(1048576, 1), disk(0, 2)};
    g_fake.gpus.resize(2);
    g_fake.gpus[0].usage_percent = 33.333;
    g_fake.gpus[1].usage_percent = 90;
    sysmon_snapshot();
    EXPECT_EQ(last_sample(0), "[12.50]");
    EXPECT_EQ(last_sample(1), "[25.00]");
    EXPECT_EQ(last_sample(2), "[1500.00]");
    EXPECT_EQ(last_sample(3), "[15.00]");
    EXPECT_EQ(last_sample(4), "[1048576.00]");
    EXPECT_EQ(last_sample(5), "[3.00]");
    EXPECT_EQ(last_sample(6), "[33.33]");
    EXPECT_EQ(last_sample(7), "[-3.00]");
}

TEST_F(SnapshotTest, EmptyListsAndZeroMemoryGiveZeroSamples) {
    g_fake.mem.total = 0;
    g_fake.mem.used = 5;
    const std::string doc = sysmon_snapshot();
    EXPECT_NE(doc.find("\"disks\":[],\"network\":[],\"processes\":[],\"gpu\":"), std::string::npos);
    for (int metric = 1; metric <= 5; ++metric) EXPECT_EQ(last_sample(metric), "[0.00]") << metric;
}

TEST_F(SnapshotTest, RateSumsWrapAsUnsigned64Bit) {
    g_fake.nets = {net(UINT64_MAX, 0), net(2, 0)};
    sysmon_snapshot();
    EXPECT_EQ(last_sample(2), "[1.00]");
}

TEST_F(SnapshotTest, RecordsEveryProcessorInUse) {
    g_fake.cores.resize(3);
    g_fake.cores[0].usage = 1;
    g_fake.cores[1].usage = 2;
    g_fake.cores[2].usage = 3;
    sysmon_snapshot();
    EXPECT_EQ(s_core_history.count, 3);
    EXPECT_STREQ(sysmon_cpu_core_history(5), "[[1.00],[2.00],[3.00]]");
    g_fake.cores.resize(0);
    sysmon_snapshot();
    EXPECT_EQ(s_core_history.count, 0);
    EXPECT_EQ(s_core_history.items[0].count, 1);
}

TEST_F(SnapshotTest, FirstCallInitialisesWithoutRecordingTwice) {
    g_fake.cpu.total_usage = 7;
    sysmon_snapshot();
    EXPECT_EQ(fake_calls_of(fake_domain::cpu), 2u);
    EXPECT_EQ(s_history[0].count, 1);
}

TEST_F(SnapshotTest, The301stSnapshotOverwritesTheFirstSampleOfEveryRing) {
    g_fake.cores.resize(1);
    for (int i = 1; i <= 301; ++i) {
        g_fake.cpu.total_usage = i;
        g_fake.cores[0].usage = i;
        g_fake.gpus.assign(1, sysmon_gpu_info{});
        g_fake.gpus[0].usage_percent = i;
        sysmon_snapshot();
    }
    for (int metric = 0; metric < 8; ++metric) EXPECT_EQ(s_history[metric].count, 300) << metric;
    const json cpu = json::parse(sysmon_history(0, 300));
    EXPECT_EQ(cpu.front().get<double>(), 2);
    EXPECT_EQ(json::parse(sysmon_history(6, 300)).front().get<double>(), 2);
    EXPECT_EQ(json::parse(sysmon_cpu_core_history(300))[0].front().get<double>(), 2);
}

TEST_F(SnapshotTest, LargeMachineDocumentParses) {
    g_fake.cores.resize(SYSMON_MAX_CORES);
    for (int i = 0; i < 128; ++i) g_fake.disks.push_back(disk(i, i));
    for (int i = 0; i < 64; ++i) g_fake.nets.push_back(net(i, i));
    for (int i = 0; i < 2048; ++i) g_fake.procs.push_back(fake_process(i + 1, i, "p\"\\\x01", i % 13));
    const json doc = json::parse(sysmon_snapshot());
    EXPECT_EQ(doc["cpu"]["per_core"].size(), 512u);
    EXPECT_EQ(doc["disks"].size(), 128u);
    EXPECT_EQ(doc["network"].size(), 64u);
    EXPECT_EQ(doc["processes"].size(), 50u);
    EXPECT_EQ(doc["processes"][0]["name"], "p\"\\\x01");
}

}  // namespace
