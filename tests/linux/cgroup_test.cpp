// cgroup limits: the parsers on made-up text, and the limits read from
// fixture trees of the v2, v1 and hybrid layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgroup_limits.h"
#include "cgroup_parse.h"
#include "fixture_tree.h"

namespace {

uint64_t limit_of(const char *text) {
    uint64_t bytes = 0;
    return parse_memory_limit(text, std::strlen(text), &bytes) ? bytes : 0;
}

double cpu_max_of(const char *text) {
    double cpus = 0.0;
    return parse_cpu_max(text, std::strlen(text), &cpus) ? cpus : 0.0;
}

int32_t cpus_in(const char *text) { return parse_cpu_list_count(text, std::strlen(text)); }

TEST(CgroupParse, LinesLimitsQuotasAndCpuLists) {
    cgroup_line line;
    ASSERT_TRUE(parse_cgroup_line("0::/user.slice/a b\n", 19, &line));
    EXPECT_EQ(line.v2, 1);
    EXPECT_STREQ(line.path, "/user.slice/a b");
    ASSERT_TRUE(parse_cgroup_line("3:cpu,cpuacct:/docker/x", 23, &line));
    EXPECT_EQ(line.v2, 0);
    EXPECT_TRUE(comma_list_has(line.controllers, "cpu"));
    EXPECT_FALSE(comma_list_has(line.controllers, "cpuset"));
    EXPECT_FALSE(parse_cgroup_line("garbage", 7, &line));
    EXPECT_FALSE(parse_cgroup_line("x:memory:/", 10, &line));

    EXPECT_EQ(limit_of("536870912\n"), 536870912u);
    EXPECT_EQ(limit_of("max\n"), 0u);
    EXPECT_EQ(limit_of("9223372036854771712\n"), 0u);  // v1's "unlimited"
    EXPECT_EQ(limit_of("-1"), 0u);
    EXPECT_EQ(limit_of(""), 0u);

    EXPECT_DOUBLE_EQ(cpu_max_of("50000 100000\n"), 0.5);
    EXPECT_DOUBLE_EQ(cpu_max_of("max 100000\n"), 0.0);
    EXPECT_DOUBLE_EQ(cpu_max_of("150000"), 0.0);
    double cpus = 0.0;
    EXPECT_TRUE(cpu_quota_processors("200000\n", 7, "100000\n", 7, &cpus));
    EXPECT_DOUBLE_EQ(cpus, 2.0);
    EXPECT_FALSE(cpu_quota_processors("-1\n", 3, "100000\n", 7, &cpus));

    EXPECT_EQ(cpus_in("0-3,8,10-11\n"), 7);
    EXPECT_EQ(cpus_in("5"), 1);
    EXPECT_EQ(cpus_in(""), -1);
    EXPECT_EQ(cpus_in("3-1"), -1);
    EXPECT_EQ(cpus_in("0-3,x"), -1);
}

// A tree whose process is in cgroup `path` of the hierarchies in `mountinfo`.
struct cgroup_tree {
    tree_copy tree{"empty"};
    cgroup_tree(const std::string &cgroup, const std::string &mountinfo) {
        tree.write("proc/self/cgroup", cgroup);
        tree.write("proc/self/mountinfo", mountinfo);
    }
};

struct limits {
    uint64_t memory, used;
    double cpus;
};

limits read_limits(const cgroup_tree &t, int32_t machine_processors = 8) {
    fixture_sources sources(t.tree.root.string());
    limits l{};
    l.memory = cgroup_memory_limit(linux_sources_current(), &l.used);
    l.cpus = cgroup_cpu_limit(linux_sources_current(), machine_processors);
    return l;
}

const char *kV2Mount = "30 1 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";

TEST(CgroupLimits, V2LowerLevelWinsAndMaxIsNoLimit) {
    cgroup_tree t("0::/kubepods/pod1/ctr\n", kV2Mount);
    const std::string base = "sys/fs/cgroup/kubepods";
    t.tree.write(base + "/memory.max", "1073741824\n");
    t.tree.write(base + "/cpu.max", "400000 100000\n");
    t.tree.write(base + "/pod1/memory.max", "536870912\n");
    t.tree.write(base + "/pod1/ctr/memory.max", "max\n");
    t.tree.write(base + "/pod1/ctr/memory.current", "12345678\n");
    t.tree.write(base + "/pod1/ctr/cpu.max", "50000 100000\n");
    t.tree.write(base + "/pod1/ctr/cpuset.cpus.effective", "0-7\n");  // the whole machine
    const limits l = read_limits(t);
    EXPECT_EQ(l.memory, 536870912u);
    EXPECT_EQ(l.used, 12345678u);
    EXPECT_DOUBLE_EQ(l.cpus, 0.5);
}

TEST(CgroupLimits, NoLimitReadsZero) {
    cgroup_tree t("0::/\n", kV2Mount);
    t.tree.write("sys/fs/cgroup/memory.current", "999\n");
    t.tree.write("sys/fs/cgroup/cpu.max", "max 100000\n");
    const limits l = read_limits(t);
    EXPECT_EQ(l.memory, 0u);
    EXPECT_EQ(l.used, 0u);
    EXPECT_DOUBLE_EQ(l.cpus, 0.0);
}

TEST(CgroupLimits, V1UnlimitedQuotaAndCpusetAtUnusualMountPoints) {
    cgroup_tree t("5:cpuset:/job\n4:memory:/job\n3:cpu,cpuacct:/job\n1:name=systemd:/\n",
                  "31 1 0:28 / /cg/mem rw - cgroup cgroup rw,memory\n"
                  "32 1 0:29 / /cg/cpu rw - cgroup cgroup rw,cpu,cpuacct\n"
                  "33 1 0:30 / /cg/set rw - cgroup cgroup rw,cpuset\n");
    t.tree.write("cg/mem/memory.limit_in_bytes", "9223372036854771712\n");
    t.tree.write("cg/mem/job/memory.limit_in_bytes", "9223372036854771712\n");
    t.tree.write("cg/mem/job/memory.usage_in_bytes", "4096\n");
    t.tree.write("cg/cpu/job/cpu.cfs_quota_us", "-1\n");
    t.tree.write("cg/cpu/job/cpu.cfs_period_us", "100000\n");
    t.tree.write("cg/set/job/cpuset.effective_cpus", "2-4\n");
    const limits l = read_limits(t);
    EXPECT_EQ(l.memory, 0u);
    EXPECT_EQ(l.used, 0u);
    EXPECT_DOUBLE_EQ(l.cpus, 3.0);  // the cpuset, smaller than the machine's 8
    EXPECT_DOUBLE_EQ(read_limits(t, 3).cpus, 0.0);  // a cpuset of the whole machine is no limit
}

TEST(CgroupLimits, HybridLayoutAndAMountOfPartOfTheHierarchy) {
    // Memory in v1, mounted from its /outer cgroup (as in a container); the
    // unified hierarchy holds no controllers.
    cgroup_tree t("4:memory:/outer/inner\n0::/outer/inner\n",
                  "31 1 0:28 /outer /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
                  "40 1 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n");
    t.tree.write("sys/fs/cgroup/memory/memory.limit_in_bytes", "2147483648\n");
    t.tree.write("sys/fs/cgroup/memory/inner/memory.limit_in_bytes", "9223372036854771712\n");
    t.tree.write("sys/fs/cgroup/memory/inner/memory.usage_in_bytes", "1048576\n");
    const limits l = read_limits(t);
    EXPECT_EQ(l.memory, 2147483648u);
    EXPECT_EQ(l.used, 1048576u);
    EXPECT_DOUBLE_EQ(l.cpus, 0.0);
}

TEST(CgroupLimits, GarbageAndMissingFilesReadZero) {
    cgroup_tree t("0::/a\nnonsense\n4:memory\n", kV2Mount);
    t.tree.write("sys/fs/cgroup/a/memory.max", "lots\n");
    t.tree.write("sys/fs/cgroup/a/cpu.max", "\n");
    t.tree.write("sys/fs/cgroup/a/cpuset.cpus.effective", "0-\n");
    const limits l = read_limits(t);
    EXPECT_EQ(l.memory, 0u);
    EXPECT_DOUBLE_EQ(l.cpus, 0.0);
    cgroup_tree none("", "");
    EXPECT_EQ(read_limits(none).memory, 0u);
    cgroup_tree unmounted("0::/a\n", "");
    EXPECT_DOUBLE_EQ(read_limits(unmounted).cpus, 0.0);
}

}  // namespace
