// Process list, filter and tree of the real DLL, checked with this program's
// own process as the known landmark.
#include <gtest/gtest.h>

// windows.h first: tlhelp32.h relies on its types.
#include <windows.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "host_library.h"
#include "json_checks.h"
#include "process_checks.h"

namespace {

std::string upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool contains_ignoring_case(const std::string &text, const std::string &pattern) {
    return upper(text).find(upper(pattern)) != std::string::npos;
}

// The parent of this process as the process snapshot reports it.
int32_t own_parent_pid() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int32_t parent = -1;
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = static_cast<int32_t>(entry.th32ParentProcessID);
        }
    }
    CloseHandle(snapshot);
    return parent;
}

// The name of this program without ".exe", in capitals: a filter that
// matches this process whatever case the system reports its name in.
std::string own_filter() {
    std::string name = own_exe_name();
    size_t dot = name.rfind('.');
    return upper(dot == std::string::npos ? name : name.substr(0, dot));
}

class ProcessFilter : public testing::Test {
protected:
    void TearDown() override { api().set_process_filter(nullptr); }
};

}  // namespace

TEST(ProcessList, ListsThisProgramWithItsFigures) {
    uint64_t total_memory = parse_document(api().memory())["total"].get<uint64_t>();
    const char *text = api().processes(0, 0);
    ASSERT_TRUE(well_formed_document(text));
    ordered_json list = parse_document(text);
    ASSERT_TRUE(list.is_array());
    std::set<int64_t> pids;
    for (const auto &proc : list) {
        EXPECT_EQ(keys_of(proc), PROCESS_KEYS);
        EXPECT_TRUE(pids.insert(proc["pid"].get<int64_t>()).second)
            << "pid listed twice: " << proc["pid"];
        EXPECT_GE(proc["cpu_percent"].get<double>(), 0.0);
        EXPECT_LE(proc["cpu_percent"].get<double>(), 100.0 * std::thread::hardware_concurrency());
    }

    const ordered_json *self = find_process(list, static_cast<int32_t>(GetCurrentProcessId()));
    ASSERT_NE(self, nullptr) << "own pid " << GetCurrentProcessId() << " missing";
    const ordered_json &me = *self;
    EXPECT_EQ(upper(me["name"].get<std::string>()), upper(own_exe_name()));
    // The texts Windows reports to this program itself, in UTF-8.
    EXPECT_EQ(me["command"].get<std::string>(), utf8_of(GetCommandLineW()));
    wchar_t user[256] = {};
    DWORD user_size = 256;
    ASSERT_TRUE(GetUserNameW(user, &user_size));
    EXPECT_EQ(me["user"].get<std::string>(), utf8_of(user));
    EXPECT_EQ(me["status"], "running");
    EXPECT_EQ(me["ppid"].get<int32_t>(), own_parent_pid());
    EXPECT_GE(me["threads"].get<int>(), 1);
    // This program can open itself, so its working set is read.
    uint64_t working_set = me["memory_bytes"].get<uint64_t>();
    EXPECT_GT(working_set, 0u);
    EXPECT_EQ(format_fixed2(me["memory_percent"].get<double>()),
              format_fixed2(static_cast<double>(working_set) * 100.0 /
                            static_cast<double>(total_memory)));
}

TEST(ProcessList, EverySortKeyOrdersTheList) {
    struct order {
        int32_t sort_by;
        const char *name;
    };
    const order orders[] = {{0, "cpu"}, {1, "memory"}, {2, "pid"}, {3, "name"},
                            {7, "cpu (unknown key)"}, {-3, "cpu (negative key)"}};
    for (const order &o : orders) {
        SCOPED_TRACE(o.name);
        const char *text = api().processes(0, o.sort_by);
        ordered_json list = parse_document(text);
        ASSERT_GE(list.size(), 2u) << text;
        for (size_t i = 1; i < list.size(); ++i) {
            EXPECT_TRUE(in_order(list[i - 1], list[i], o.sort_by))
                << "entries " << i - 1 << " and " << i << ": " << list[i - 1].dump() << " / "
                << list[i].dump();
        }
    }
}

TEST(ProcessList, LimitCutsTheSortedList) {
    ASSERT_GE(parse_document(api().processes(0, 2)).size(), 3u);
    ordered_json two = parse_document(api().processes(2, 2));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_LT(two[0]["pid"].get<int64_t>(), two[1]["pid"].get<int64_t>());
    EXPECT_EQ(parse_document(api().processes(1, 0)).size(), 1u);
    // Below 1 means no limit.
    EXPECT_GE(parse_document(api().processes(-1, 0)).size(), 3u);
}

TEST(Snapshot, ListsAtMostFiftyBusiestProcesses) {
    const char *text = api().snapshot();
    ordered_json processes = parse_document(text)["processes"];
    ASSERT_TRUE(processes.is_array());
    EXPECT_GE(processes.size(), 1u);
    EXPECT_LE(processes.size(), 50u);
    for (size_t i = 1; i < processes.size(); ++i) {
        EXPECT_TRUE(in_order(processes[i - 1], processes[i], 0)) << i;
    }
}

TEST_F(ProcessFilter, NarrowsListAndTreeButNotTheSnapshot) {
    std::string filter = own_filter();
    api().set_process_filter(filter.c_str());

    ordered_json list = parse_document(api().processes(0, 0));
    ASSERT_NE(find_process(list, static_cast<int32_t>(GetCurrentProcessId())), nullptr);
    for (const auto &proc : list) {
        EXPECT_TRUE(contains_ignoring_case(proc["name"].get<std::string>(), filter) ||
                    contains_ignoring_case(proc["command"].get<std::string>(), filter))
            << proc.dump();
    }

    std::vector<tree_node> nodes;
    ASSERT_TRUE(flatten_tree(parse_document(api().process_tree(0)), &nodes));
    bool self_in_tree = false;
    for (const tree_node &node : nodes) {
        EXPECT_TRUE(contains_ignoring_case(node.name, filter) ||
                    contains_ignoring_case(node.command, filter))
            << node.name;
        self_in_tree |= node.pid == static_cast<int32_t>(GetCurrentProcessId());
    }
    EXPECT_TRUE(self_in_tree);

    // The snapshot lists the machine's busiest processes, filter or not: the
    // system's own processes are among them.
    ordered_json snapshot_procs = parse_document(api().snapshot())["processes"];
    bool unfiltered_seen = false;
    for (const auto &proc : snapshot_procs) {
        unfiltered_seen |= !contains_ignoring_case(proc["name"].get<std::string>(), filter) &&
                           !contains_ignoring_case(proc["command"].get<std::string>(), filter);
    }
    EXPECT_TRUE(unfiltered_seen) << snapshot_procs.dump();
}

TEST_F(ProcessFilter, MatchingNothingGivesEmptyListAndTree) {
    api().set_process_filter("no process is called like this 7f3a");
    EXPECT_STREQ(api().processes(0, 0), "[]");
    EXPECT_STREQ(api().processes(5, 1), "[]");
    EXPECT_STREQ(api().process_tree(0), "[]");
    EXPECT_STREQ(api().process_tree(3), "[]");
}

TEST_F(ProcessFilter, StaysAcrossCleanupUntilCleared) {
    std::string filter = own_filter();
    api().set_process_filter(filter.c_str());
    api().cleanup();
    ordered_json list = parse_document(api().processes(0, 0));
    ASSERT_GE(list.size(), 1u);
    for (const auto &proc : list) {
        EXPECT_TRUE(contains_ignoring_case(proc["name"].get<std::string>(), filter) ||
                    contains_ignoring_case(proc["command"].get<std::string>(), filter));
    }
    size_t filtered = list.size();

    api().set_process_filter(nullptr);
    size_t after_null = parse_document(api().processes(0, 0)).size();
    EXPECT_GT(after_null, filtered);
    api().set_process_filter(filter.c_str());
    api().set_process_filter("");
    size_t after_empty = parse_document(api().processes(0, 0)).size();
    EXPECT_GT(after_empty, filtered);
}

TEST(ProcessTree, WithoutLimitHoldsEveryProcessOnceUnderItsParent) {
    const char *text = api().process_tree(0);
    ASSERT_TRUE(well_formed_document(text));
    ordered_json tree = parse_document(text);
    std::vector<tree_node> nodes;
    std::string problem;
    ASSERT_TRUE(flatten_tree(tree, &nodes, &problem)) << problem;
    ASSERT_FALSE(nodes.empty());

    std::map<int32_t, int32_t> parent_of;  // pid -> ppid, over the whole tree
    for (const tree_node &node : nodes) {
        EXPECT_TRUE(parent_of.emplace(node.pid, node.ppid).second)
            << "pid " << node.pid << " written twice";
    }
    bool self_seen = false;
    for (const tree_node &node : nodes) {
        SCOPED_TRACE("pid " + std::to_string(node.pid));
        if (node.pid == static_cast<int32_t>(GetCurrentProcessId())) {
            self_seen = true;
            EXPECT_EQ(upper(node.name), upper(own_exe_name()));
        }
        EXPECT_LE(node.depth, 64);
        if (node.parent_pid >= 0) {
            // A child sits under the process its ppid names, never under itself.
            EXPECT_EQ(node.ppid, node.parent_pid);
            EXPECT_NE(node.pid, node.parent_pid);
        } else if (node.ppid > 0 && node.ppid != node.pid && parent_of.count(node.ppid) != 0) {
            // A root whose parent is in the tree is only possible when the
            // parent chain loops or runs deeper than the depth limit.
            EXPECT_TRUE(chain_loops_or_runs_deep(parent_of, node.pid))
                << "root with listed parent " << node.ppid;
        }
    }
    EXPECT_TRUE(self_seen);
}

TEST(ProcessTree, LimitBoundsTheNumberOfRoots) {
    ordered_json one = parse_document(api().process_tree(1));
    ASSERT_TRUE(one.is_array());
    EXPECT_EQ(one.size(), 1u) << one.dump();
    ordered_json three = parse_document(api().process_tree(3));
    ASSERT_TRUE(three.is_array());
    EXPECT_GE(three.size(), 1u);
    EXPECT_LE(three.size(), 3u);
    std::vector<tree_node> nodes;
    EXPECT_TRUE(flatten_tree(three, &nodes));
}
