// The process forest: roots, children order, cycles, the depth limit, the
// root limit, and a property test over random process sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "library_fixture.h"

namespace {

using json = nlohmann::json;

// A node as the test sees it: pid, depth and children.
struct tree_node {
    int pid;
    int ppid;
    std::vector<tree_node> children;
};

tree_node to_node(const json &j) {
    tree_node n{j.at("pid").get<int>(), j.at("ppid").get<int>(), {}};
    for (const auto &c : j.at("children")) n.children.push_back(to_node(c));
    return n;
}

std::vector<tree_node> forest(const char *doc) {
    std::vector<tree_node> roots;
    for (const auto &r : json::parse(doc)) roots.push_back(to_node(r));
    return roots;
}

std::vector<int> root_pids(const std::vector<tree_node> &roots) {
    std::vector<int> out;
    for (const auto &r : roots) out.push_back(r.pid);
    return out;
}

std::vector<int> child_pids(const tree_node &n) { return root_pids(n.children); }

void collect(const tree_node &n, int depth, std::vector<int> &pids, int &max_depth, bool &parent_ok) {
    pids.push_back(n.pid);
    max_depth = std::max(max_depth, depth);
    for (const auto &c : n.children) {
        if (c.ppid != n.pid) parent_ok = false;
        collect(c, depth + 1, pids, max_depth, parent_ok);
    }
}

class ProcessTreeTest : public LibraryTest {
protected:
    void add(int32_t pid, int32_t ppid, double cpu, const char *name = "proc") {
        g_fake.procs.push_back(fake_process(pid, ppid, name, cpu));
    }
};

TEST_F(ProcessTreeTest, NothingListedGivesEmptyArray) {
    EXPECT_STREQ(sysmon_process_tree(0), "[]");
    add(1, 0, 1, "a");
    sysmon_set_process_filter("nothing-matches");
    for (int32_t limit : {0, 3, -1, INT_MIN, INT_MAX}) EXPECT_STREQ(sysmon_process_tree(limit), "[]") << limit;
}

TEST_F(ProcessTreeTest, ParentWithTwoChildrenOrderedByLoad) {
    add(100, 0, 1, "x");
    add(300, 100, 2, "z");
    add(200, 100, 9, "y");
    const std::string doc = sysmon_process_tree(0);
    const auto roots = forest(doc.c_str());
    ASSERT_EQ(root_pids(roots), std::vector<int>{100});
    EXPECT_EQ(child_pids(roots[0]), (std::vector<int>{200, 300}));
    // Leaf nodes: the children member is followed directly by "]}".
    EXPECT_NE(doc.find("\"write_bytes_sec\":0,\"children\":[]},{\"pid\":300"), std::string::npos) << doc;
    EXPECT_EQ(doc.substr(0, 12), "[{\"pid\":100,");
    const std::string tail = ",\"children\":[]}]}]";
    EXPECT_EQ(doc.substr(doc.size() - tail.size()), tail);
}

TEST_F(ProcessTreeTest, ParentOutsideTheFilterMakesARoot) {
    add(1, 0, 0, "services.exe");
    add(2, 1, 0, "app.exe");
    add(3, 2, 0, "app-helper.exe");
    sysmon_set_process_filter("app");
    const auto roots = forest(sysmon_process_tree(0));
    ASSERT_EQ(root_pids(roots), std::vector<int>{2});
    EXPECT_EQ(child_pids(roots[0]), std::vector<int>{3});
}

TEST_F(ProcessTreeTest, SelfParentIsARootAndNotItsOwnChild) {
    add(7, 7, 5);
    add(8, 7, 1);
    const auto roots = forest(sysmon_process_tree(0));
    ASSERT_EQ(root_pids(roots), std::vector<int>{7});
    EXPECT_EQ(child_pids(roots[0]), std::vector<int>{8});
}

TEST_F(ProcessTreeTest, ProcessZeroAdoptsOrphansWrittenAfterIt) {
    add(0, 0, 50, "Idle");
    add(4, 0, 10, "System");
    add(9, 0, 20, "other");
    const auto roots = forest(sysmon_process_tree(0));
    ASSERT_EQ(root_pids(roots), std::vector<int>{0});
    EXPECT_EQ(child_pids(roots[0]), (std::vector<int>{9, 4}));
}

TEST_F(ProcessTreeTest, TwoProcessCycleIsWrittenOnce) {
    add(10, 20, 1);
    add(20, 10, 3);
    const auto roots = forest(sysmon_process_tree(0));
    ASSERT_EQ(root_pids(roots), std::vector<int>{20});
    EXPECT_EQ(child_pids(roots[0]), std::vector<int>{10});
    EXPECT_TRUE(roots[0].children[0].children.empty());
}

TEST_F(ProcessTreeTest, DepthIsLimitedTo64AndTheRestBecomesExtraRoots) {
    for (int pid = 1; pid <= 70; ++pid) add(pid, pid - 1, 0);
    const auto roots = forest(sysmon_process_tree(0));
    ASSERT_EQ(root_pids(roots), (std::vector<int>{1, 66}));
    const tree_node *n = &roots[0];
    for (int depth = 0; depth < 64; ++depth) {
        ASSERT_EQ(n->children.size(), 1u) << depth;
        n = &n->children[0];
    }
    EXPECT_EQ(n->pid, 65);
    EXPECT_TRUE(n->children.empty());
    std::vector<int> second;
    int max_depth = 0;
    bool parent_ok = true;
    collect(roots[1], 0, second, max_depth, parent_ok);
    EXPECT_EQ(second, (std::vector<int>{66, 67, 68, 69, 70}));
}

TEST_F(ProcessTreeTest, RootLimitPromotesTheBusiestWhenTheirParentIsNotAmongThem) {
    add(1, 0, 1, "P");
    add(2, 1, 90);
    add(3, 1, 80);
    add(4, 1, 70);
    for (int pid = 5; pid <= 10; ++pid) add(pid, 0, 0.5);
    const auto roots = forest(sysmon_process_tree(3));
    EXPECT_EQ(root_pids(roots), (std::vector<int>{2, 3, 4}));
    for (const auto &r : roots) EXPECT_TRUE(r.children.empty());
}

TEST_F(ProcessTreeTest, RootLimitKeepsWholeSubtrees) {
    add(1, 0, 50);
    add(2, 1, 1);
    add(3, 2, 1);
    add(4, 0, 40);
    add(5, 0, 30);
    const auto roots = forest(sysmon_process_tree(2));
    ASSERT_EQ(root_pids(roots), (std::vector<int>{1, 4}));
    EXPECT_EQ(child_pids(roots[0]), std::vector<int>{2});
    EXPECT_EQ(child_pids(roots[0].children[0]), std::vector<int>{3});
}

TEST_F(ProcessTreeTest, LimitAtOrAboveTheCountEqualsNoLimit) {
    for (int pid = 1; pid <= 10; ++pid) add(pid, pid % 3, pid * 1.0);
    const std::string unlimited = sysmon_process_tree(0);
    EXPECT_EQ(std::string(sysmon_process_tree(100)), unlimited);
    EXPECT_EQ(std::string(sysmon_process_tree(10)), unlimited);
    EXPECT_EQ(std::string(sysmon_process_tree(-1)), unlimited);
    EXPECT_EQ(std::string(sysmon_process_tree(INT_MAX)), unlimited);
}

TEST_F(ProcessTreeTest, DuplicateIdentifiersAreEachWrittenOnce) {
    // Not something a platform reports, but the tree must stay sound: two
    // records with one pid are two nodes, each with its own data.
    add(5, 0, 10, "parent");
    add(7, 5, 5, "first");
    add(7, 5, 4, "second");
    const json doc = json::parse(sysmon_process_tree(0));
    ASSERT_EQ(doc.size(), 1u);
    const auto &children = doc[0]["children"];
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0]["name"], "first");
    EXPECT_EQ(children[1]["name"], "second");
}

TEST_F(ProcessTreeTest, ExtremeIdentifiers) {
    add(INT_MAX, INT_MIN, 1);
    add(INT_MIN, INT_MAX, 2);
    add(1, INT_MAX, 0);
    const auto roots = forest(sysmon_process_tree(0));
    std::vector<int> pids;
    int max_depth = 0;
    bool parent_ok = true;
    for (const auto &r : roots) collect(r, 0, pids, max_depth, parent_ok);
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<int>{INT_MIN, 1, INT_MAX}));
    EXPECT_TRUE(parent_ok);
}

// Random process sets: random parents (listed, unlisted, self, 0, in
// cycles), random loads with ties, random filters and limits.
TEST_F(ProcessTreeTest, RandomProcessSetsKeepTheTreeInvariants) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 150; ++round) {
        g_fake.procs.clear();
        const int n = round % 25 == 0 ? 2048 : static_cast<int>(rng() % 200) + 1;
        std::vector<int> pids(n);
        for (int i = 0; i < n; ++i) pids[i] = static_cast<int>(rng() % 1000000) * 4 + 4 + (i % 4);
        std::sort(pids.begin(), pids.end());
        pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
        std::shuffle(pids.begin(), pids.end(), rng);
        for (size_t i = 0; i < pids.size(); ++i) {
            int ppid;
            switch (rng() % 6) {
                case 0: ppid = 0; break;
                case 1: ppid = pids[i]; break;
                case 2: ppid = -static_cast<int>(rng() % 100); break;
                case 3: ppid = 3; break;  // never listed (pids are >= 4)
                default: ppid = pids[rng() % pids.size()]; break;
            }
            const char *name = rng() % 3 == 0 ? "match.exe" : "other.exe";
            add(pids[i], ppid, static_cast<double>(rng() % 5), name);
        }
        const bool filtered = round % 3 == 1;
        sysmon_set_process_filter(filtered ? "MATCH" : nullptr);
        std::multiset<int> listed;
        for (const auto &p : g_fake.procs)
            if (!filtered || std::string(p.name) == "match.exe") listed.insert(p.pid);

        const int32_t limits[] = {0, -1, 1, 3, static_cast<int32_t>(rng() % 300) + 1};
        for (int32_t limit : limits) {
            const auto roots = forest(sysmon_process_tree(limit));
            std::vector<int> written;
            int max_depth = 0;
            bool parent_ok = true;
            for (const auto &r : roots) collect(r, 0, written, max_depth, parent_ok);
            SCOPED_TRACE("round " + std::to_string(round) + " limit " + std::to_string(limit));
            EXPECT_TRUE(parent_ok);
            EXPECT_LE(max_depth, 64);
            const std::set<int> unique(written.begin(), written.end());
            EXPECT_EQ(unique.size(), written.size()) << "a process was written twice";
            for (int pid : written) EXPECT_EQ(listed.count(pid), 1u) << pid;
            if (limit < 1) {
                EXPECT_EQ(written.size(), listed.size());
            } else {
                EXPECT_LE(roots.size(), static_cast<size_t>(limit));
                // The second pass fills the root limit while processes remain.
                if (written.size() < listed.size()) {
                    EXPECT_EQ(roots.size(), static_cast<size_t>(limit));
                }
            }
        }
    }
}

}  // namespace
