// The whole library (core and Linux collectors) on fixture trees: whatever
// the files hold, every document is valid JSON with strict UTF-8 and keeps
// its member order.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "fixture_tree.h"
#include "vantorel/sysmon.h"

namespace {

using ordered_json = nlohmann::ordered_json;

std::vector<std::string> keys_of(const ordered_json &object) {
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
    return keys;
}

ordered_json parse_strict(const char *text) {
    // nlohmann rejects invalid UTF-8 with an exception.
    try {
        return ordered_json::parse(text);
    } catch (const std::exception &e) {
        ADD_FAILURE() << e.what() << "\n" << text;
        return ordered_json();
    }
}

const std::vector<std::string> kSnapshotKeys = {"cpu", "memory", "disks", "network",
                                                "processes", "gpu", "battery", "system"};
const std::vector<std::string> kProcessKeys = {"pid", "name", "cpu_percent", "memory_bytes",
                                               "memory_percent", "status", "command", "ppid",
                                               "user", "threads", "read_bytes_sec", "write_bytes_sec"};

void check_every_document() {
    const ordered_json snapshot = parse_strict(sysmon_snapshot());
    ASSERT_TRUE(snapshot.is_object());
    EXPECT_EQ(keys_of(snapshot), kSnapshotKeys);
    for (const ordered_json &p : snapshot["processes"]) EXPECT_EQ(keys_of(p), kProcessKeys);
    const ordered_json list = parse_strict(sysmon_processes(0, 3));
    ASSERT_TRUE(list.is_array());
    for (const ordered_json &p : list) EXPECT_EQ(keys_of(p), kProcessKeys);
    EXPECT_TRUE(parse_strict(sysmon_process_tree(0)).is_array());
    EXPECT_TRUE(parse_strict(sysmon_cpu()).is_object());
    EXPECT_TRUE(parse_strict(sysmon_memory()).is_object());
    EXPECT_TRUE(parse_strict(sysmon_disks()).is_array());
    EXPECT_TRUE(parse_strict(sysmon_network()).is_array());
    EXPECT_TRUE(parse_strict(sysmon_system()).is_object());
    EXPECT_TRUE(parse_strict(sysmon_battery()).is_object());
    EXPECT_TRUE(parse_strict(sysmon_cpu_core_history(10)).is_array());
}

}  // namespace

TEST(FixtureDocuments, GarbageFilesGiveWellFormedDocuments) {
    fixture_sources sources(fixture_dir("garbage"));
    sysmon_cleanup();
    check_every_document();
    const ordered_json procs = parse_strict(sysmon_processes(0, 2));
    ASSERT_EQ(procs.size(), 1u);  // 42's stat is garbage; 43 has saturated numbers
    EXPECT_EQ(procs[0]["pid"], 43);
    EXPECT_EQ(procs[0]["ppid"], 0);
    EXPECT_EQ(procs[0]["command"], "[x]");
    const ordered_json bat = parse_strict(sysmon_battery());
    EXPECT_EQ(bat["percent"], 100);
    EXPECT_EQ(bat["health_percent"], 100);
    sysmon_cleanup();
}

TEST(FixtureDocuments, WorkstationTextsAreValidUtf8InEveryDocument) {
    fixture_sources sources(fixture_dir("workstation"));
    sysmon_cleanup();
    check_every_document();
    const ordered_json procs = parse_strict(sysmon_processes(0, 2));
    ASSERT_EQ(procs.size(), 7u);
    EXPECT_EQ(procs[6]["name"], "bad\xEF\xBF\xBD(\xEF\xBF\xBD");
    const ordered_json disks = parse_strict(sysmon_disks());
    ASSERT_EQ(disks.size(), 4u);
    EXPECT_EQ(disks[1]["mount"], "/mnt/my disk");
    const ordered_json cpu = parse_strict(sysmon_cpu());
    EXPECT_EQ(cpu["per_core"].size(), 3u);
    sysmon_cleanup();
}

TEST(FixtureDocuments, EmptyTreeGivesEmptyListsAndPlaceholders) {
    fixture_sources sources(fixture_dir("empty"));
    sysmon_cleanup();
    check_every_document();
    EXPECT_EQ(parse_strict(sysmon_processes(0, 0)).size(), 0u);
    EXPECT_EQ(parse_strict(sysmon_disks()).size(), 0u);
    EXPECT_EQ(parse_strict(sysmon_system())["os"], "Linux");
    sysmon_cleanup();
}
