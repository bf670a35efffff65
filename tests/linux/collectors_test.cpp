// The Linux collectors run on fixture trees: what each record holds, the
// hostile shapes (truncated and empty files, odd names, vanishing processes,
// gaps, counters that go down, escaped and repeated mounts, missing sensor
// and supply folders), and the rates between two collections.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixture_tree.h"
#include "runtime_hooks.h"
#include "sysmon_internal.h"

namespace {

const sysmon_window kNoGrowth = advancing(0.0);

// Runs a list collector on `records` as the core runs it on its lists; a
// list that grew lands back in `records`.
template <typename T, typename Collect>
int32_t collect_list(std::vector<T> &records, int32_t *count, Collect collect) {
    record_list<T> list{records.data(), -1, static_cast<int32_t>(records.size()), 0};
    const int32_t result = collect(&list);
    if (list.on_heap != 0) {
        records.assign(list.items, list.items + list.capacity);
        s_hooks.mem_free(list.items);
    }
    *count = list.count;
    return result;
}

// The processors' list a collection fills, released when it ends.
struct core_list {
    record_list<sysmon_core_info> list{nullptr, 0, 0, 0};
    core_list() = default;
    core_list(const core_list &) = delete;
    core_list &operator=(const core_list &) = delete;
    ~core_list() { record_list_release(&list, static_cast<sysmon_core_info *>(nullptr), 0); }
};

struct process_list {
    std::vector<sysmon_proc_info> records = std::vector<sysmon_proc_info>(SYSMON_MAX_PROCS);
    int32_t count = -1;
    int32_t collect_result(const sysmon_window &w, uint64_t memory_total = 0) {
        return collect_list(records, &count, [&](record_list<sysmon_proc_info> *list) {
            return sysmon_collect_processes(list, &w, memory_total);
        });
    }
    void collect(const sysmon_window &w, uint64_t memory_total = 0) {
        ASSERT_EQ(collect_result(w, memory_total), 0);
    }
    const sysmon_proc_info *find(int32_t pid) const {
        for (int32_t i = 0; i < count; ++i)
            if (records[i].pid == pid) return &records[i];
        return nullptr;
    }
};

std::vector<sysmon_disk_info> collect_disks(const sysmon_window &w, int32_t capacity = SYSMON_MAX_DISKS) {
    std::vector<sysmon_disk_info> disks(static_cast<size_t>(capacity));
    int32_t count = -1;
    EXPECT_EQ(collect_list(disks, &count, [&](record_list<sysmon_disk_info> *list) {
                  return sysmon_collect_disks(list, &w);
              }),
              0);
    disks.resize(static_cast<size_t>(count));
    return disks;
}

std::vector<sysmon_net_info> collect_nets(const sysmon_window &w, int32_t capacity = SYSMON_MAX_NETS) {
    std::vector<sysmon_net_info> nets(static_cast<size_t>(capacity));
    int32_t count = -1;
    EXPECT_EQ(collect_list(nets, &count, [&](record_list<sysmon_net_info> *list) {
                  return sysmon_collect_network(list, &w);
              }),
              0);
    nets.resize(static_cast<size_t>(count));
    return nets;
}

std::string pid_stat(int pid, const std::string &comm, char state, int ppid, int utime, int stime,
                     int threads, int start, int rss) {
    return std::to_string(pid) + " (" + comm + ") " + state + " " + std::to_string(ppid) +
           " 1 1 0 -1 0 0 0 0 0 " + std::to_string(utime) + " " + std::to_string(stime) + " 0 0 20 0 " +
           std::to_string(threads) + " 0 " + std::to_string(start) + " 1000 " + std::to_string(rss) + " 0\n";
}

std::string pid_io(uint64_t read_bytes, uint64_t write_bytes) {
    return "read_bytes: " + std::to_string(read_bytes) + "\nwrite_bytes: " + std::to_string(write_bytes) + "\n";
}

// Every text field is valid UTF-8 and terminated within its field.
template <size_t N>
bool valid_field(const char (&field)[N]) {
    const void *nul = std::memchr(field, '\0', N);
    if (nul == nullptr) return false;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(field);
    const unsigned char *end = static_cast<const unsigned char *>(nul);
    while (p < end) {
        int n = *p < 0x80 ? 1 : (*p >= 0xC2 && *p <= 0xDF) ? 2 : (*p >= 0xE0 && *p <= 0xEF) ? 3
                : (*p >= 0xF0 && *p <= 0xF4) ? 4 : 0;
        if (n == 0 || end - p < n) return false;
        for (int i = 1; i < n; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += n;
    }
    return true;
}

}  // namespace

TEST(LinuxCpuCollector, IdentityCountsFrequencyAndTemperature) {
    fixture_sources sources(fixture_dir("workstation"));
    sysmon_cpu_info cpu;
    core_list cores;
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    EXPECT_STREQ(cpu.name, "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz");
    EXPECT_EQ(cpu.threads, 3);          // cpu1 is offline
    EXPECT_EQ(cpu.cores, 2);            // core ids 0, 0, 1 in package 0
    EXPECT_EQ(cores.list.count, 3);
    EXPECT_DOUBLE_EQ(cpu.frequency_mhz, 2500.0);  // cpufreq, not cpuinfo
    EXPECT_DOUBLE_EQ(cpu.temperature_c, 54.5);    // coretemp "Package id 0", not the first hwmon
    EXPECT_EQ(sysmon_collect_cpu(nullptr, &cores.list, &kNoGrowth), -1);
}

TEST(LinuxCpuCollector, OtherSourcesOnASparseTree) {
    fixture_sources sources(fixture_dir("server"));
    sysmon_cpu_info cpu;
    core_list cores;
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    EXPECT_STREQ(cpu.name, "Raspberry Pi 4 Model B");  // "Hardware" line
    EXPECT_EQ(cpu.threads, 1);
    EXPECT_EQ(cpu.cores, 1);                           // no topology: the logical count
    EXPECT_DOUBLE_EQ(cpu.frequency_mhz, 1500.0);       // cpuinfo, no cpufreq
    EXPECT_DOUBLE_EQ(cpu.temperature_c, 63.0);         // x86_pkg_temp zone, not the first
}

TEST(LinuxCpuCollector, NoSourcesAtAll) {
    fixture_sources sources(fixture_dir("empty"));
    sysmon_cpu_info cpu;
    core_list cores;
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    EXPECT_STREQ(cpu.name, "x86_64");  // uname's machine
    EXPECT_EQ(cpu.threads, 0);
    EXPECT_EQ(cores.list.count, 0);
    EXPECT_DOUBLE_EQ(cpu.frequency_mhz, 0.0);
    EXPECT_DOUBLE_EQ(cpu.temperature_c, 0.0);
}

TEST(LinuxCpuCollector, LoadsFromGrowthPerLineAndZeroWithoutAPreviousReading) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    sysmon_cpu_info cpu;
    core_list cores;
    {
        // A reading with no time lines leaves no baseline: the next one is 0.
        fixture_sources none(fixture_dir("empty"));
        sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth);
    }
    fixture_sources again(tree.root);
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    EXPECT_DOUBLE_EQ(cpu.total_usage, 0.0);
    for (int32_t i = 0; i < cores.list.count; ++i) EXPECT_DOUBLE_EQ(cores.list.items[i].usage, 0.0);

    // cpu0: user +20 (guest +10 inside it), system +10, idle +60, iowait +10 -> 30 %.
    // cpu2: user +100, idle +100, iowait down by 50 (no growth) -> 50 %.
    // cpu3: offline now; cpu1 back online (no baseline) -> 0.
    tree.write("proc/stat",
               "cpu  1120 100 510 8160 410 50 50 0 210 0\n"
               "cpu0 320 50 160 2060 110 20 20 0 110 0\n"
               "cpu1 5 5 5 5 5 0 0 0 0 0\n"
               "cpu2 400 25 150 2100 50 15 15 0 50 0\n"
               "btime 1700000000\n");
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    ASSERT_EQ(cores.list.count, 3);
    EXPECT_EQ(cpu.threads, 3);
    EXPECT_DOUBLE_EQ(cores.list.items[0].usage, 30.0);
    EXPECT_DOUBLE_EQ(cores.list.items[1].usage, 0.0);
    EXPECT_DOUBLE_EQ(cores.list.items[2].usage, 50.0);
    // Aggregate: busy +130 (user 120, system 10), idle +160 + iowait +10.
    EXPECT_NEAR(cpu.total_usage, 130.0 * 100.0 / 300.0, 1e-9);
}

TEST(LinuxCpuCollector, AWindowThatDoesNotAdvanceKeepsItsBaseline) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    sysmon_cpu_info cpu;
    core_list cores;
    sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth);
    tree.write("proc/stat", "cpu  1100 100 500 8100 400 50 50 0 200 0\ncpu0 400 50 150 2100 100 20 20 0 100 0\n");
    const sysmon_window keep{0.05, SYSMON_BASELINE_NEWEST, 0};
    sysmon_collect_cpu(&cpu, &cores.list, &keep);
    EXPECT_DOUBLE_EQ(cores.list.items[0].usage, 50.0);
    // The baseline is still the first reading, not the one just made.
    sysmon_collect_cpu(&cpu, &cores.list, &keep);
    EXPECT_DOUBLE_EQ(cores.list.items[0].usage, 50.0);
}

TEST(LinuxCpuCollector, EveryProcessorIsListedPast512) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    // 1100 online processors in 1101 numbers (cpu700 offline); some 70 kB of /proc/stat.
    std::string stat = "cpu  1100 0 1100 2200 0 0 0 0 0 0\n";
    for (int n = 0; n <= 1100; ++n)
        if (n != 700) stat += "cpu" + std::to_string(n) + " " + std::to_string(100 + n) + " 0 0 300 0 0 0 0 0 0\n";
    tree.write("proc/stat", stat + "btime 1700000000\n");
    sysmon_cpu_info cpu;
    core_list cores;
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    EXPECT_EQ(cpu.threads, 1100);
    ASSERT_EQ(cores.list.count, 1100);
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    EXPECT_DOUBLE_EQ(cores.list.items[1099].busy_seconds, 1200 / ticks);  // cpu1100
    EXPECT_DOUBLE_EQ(cores.list.items[1099].idle_seconds, 300 / ticks);
    EXPECT_DOUBLE_EQ(cores.list.items[699].busy_seconds, 799 / ticks);  // cpu699, then cpu701
    EXPECT_DOUBLE_EQ(cores.list.items[700].busy_seconds, 801 / ticks);
    // Loads against the first reading, for the processors past 512 too.
    std::string busier = "cpu  1100 0 1100 2200 0 0 0 0 0 0\n";
    for (int n = 0; n <= 1100; ++n)
        if (n != 700) busier += "cpu" + std::to_string(n) + " " + std::to_string(100 + n + (n == 1000 ? 30 : 0)) + " 0 0 " + (n == 1000 ? "310" : "300") + " 0 0 0 0 0 0\n";
    tree.write("proc/stat", busier);
    ASSERT_EQ(sysmon_collect_cpu(&cpu, &cores.list, &kNoGrowth), 0);
    ASSERT_EQ(cores.list.count, 1100);
    EXPECT_DOUBLE_EQ(cores.list.items[999].usage, 75.0);  // cpu1000: 30 busy of 40
    EXPECT_DOUBLE_EQ(cores.list.items[1099].usage, 0.0);
}

TEST(LinuxMemoryCollector, MeminfoFiguresAndMissingFile) {
    sysmon_mem_info mem;
    {
        fixture_sources sources(fixture_dir("workstation"));
        ASSERT_EQ(sysmon_collect_mem(&mem), 0);
        EXPECT_EQ(mem.total, 16000000ull * 1024);
        EXPECT_EQ(mem.available, 6000000ull * 1024);
        EXPECT_EQ(mem.used, 10000000ull * 1024);
        EXPECT_EQ(mem.cached, 3600000ull * 1024);  // with Buffers
        EXPECT_EQ(mem.swap_total, 4000000ull * 1024);
        EXPECT_EQ(mem.swap_used, 1000000ull * 1024);
    }
    fixture_sources sources(fixture_dir("empty"));
    ASSERT_EQ(sysmon_collect_mem(&mem), 0);
    EXPECT_EQ(mem.total, 0u);
    EXPECT_EQ(sysmon_collect_mem(nullptr), -1);
}

TEST(LinuxDiskCollector, EachBlockDeviceOnceAtItsFirstMount) {
    fixture_sources sources(fixture_dir("workstation"));
    const std::vector<sysmon_disk_info> disks = collect_disks(kNoGrowth);
    ASSERT_EQ(disks.size(), 4u);
    // proc, tmpfs: not block devices; the bind mount of sda2 and the second
    // mount of sda1: already listed; loop0: no file-system figures.
    EXPECT_STREQ(disks[0].name, "sda2");
    EXPECT_STREQ(disks[0].mount, "/");
    EXPECT_STREQ(disks[0].fs, "ext4");
    EXPECT_EQ(disks[0].total, 1000u);
    EXPECT_EQ(disks[0].free, 400u);
    EXPECT_EQ(disks[0].used, 600u);
    EXPECT_EQ(disks[0].available, 350u);  // reserved blocks are free, not available
    EXPECT_STREQ(disks[1].name, "sda1");
    EXPECT_STREQ(disks[1].mount, "/mnt/my disk");  // \040 decoded
    EXPECT_STREQ(disks[1].fs, "vfat");
    EXPECT_EQ(disks[1].used, 0u);                  // free above total
    EXPECT_STREQ(disks[2].name, "nvme0n1p2");
    EXPECT_STREQ(disks[2].mount, "/data");
    EXPECT_STREQ(disks[3].name, "dm-0");           // anonymous device number, /dev source
    EXPECT_STREQ(disks[3].fs, "btrfs");

    // A list that starts smaller, or empty, grows to every disk.
    EXPECT_EQ(collect_disks(kNoGrowth, 2).size(), 4u);
    EXPECT_EQ(collect_disks(kNoGrowth, 0).size(), 4u);
}

TEST(LinuxDiskCollector, RatesFromSectorGrowthAndCountersThatGoDown) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    collect_disks(kNoGrowth);
    tree.write("proc/diskstats",
               "   8       1 sda1 10 0 1000 0 5 0 1000 0 0 0 0\n"      // written went down
               "   8       2 sda2 20 0 2400 0 6 0 3800 0 0 0 0\n"      // +400 / +800 sectors
               " 259       2 nvme0n1p2 40 0 4000 0 8 0 5000 0 0 0 0\n"
               " 253       0 dm-0 50 0 6000 0 9 0 7000 0 0 0 0\n");
    const std::vector<sysmon_disk_info> disks = collect_disks(advancing(2.0));
    ASSERT_EQ(disks.size(), 4u);
    EXPECT_EQ(disks[0].read_bytes_sec, 400u * 512 / 2);
    EXPECT_EQ(disks[0].write_bytes_sec, 800u * 512 / 2);
    EXPECT_EQ(disks[0].total_read, 2400u * 512);   // the counters themselves, since boot
    EXPECT_EQ(disks[0].total_written, 3800u * 512);
    EXPECT_EQ(disks[1].read_bytes_sec, 0u);
    EXPECT_EQ(disks[1].write_bytes_sec, 0u);
    EXPECT_EQ(disks[2].read_bytes_sec, 0u);
}

TEST(LinuxNetworkCollector, InterfacesAddressesAndFilter) {
    fixture_sources sources(fixture_dir("workstation"));
    const std::vector<sysmon_net_info> nets = collect_nets(kNoGrowth);
    // lo: loopback; docker0: up but not running, no traffic.
    ASSERT_EQ(nets.size(), 3u);
    EXPECT_STREQ(nets[0].name, "eth0");
    EXPECT_STREQ(nets[0].ip, "192.168.1.20");
    EXPECT_EQ(nets[0].total_recv, 123456789012u);  // beyond 32 bits
    EXPECT_EQ(nets[0].total_sent, 98765432100u);
    EXPECT_STREQ(nets[1].name, "wlan0");          // down, but counted traffic
    EXPECT_STREQ(nets[1].ip, "0.0.0.0");
    EXPECT_STREQ(nets[2].name, "tun0");           // up and running, no traffic
    EXPECT_STREQ(nets[2].ip, "0.0.0.0");
}

TEST(LinuxNetworkCollector, RatesPerInterfaceOverTheWindow) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    collect_nets(kNoGrowth);
    tree.write("proc/net/dev",
               "Inter-|\n face |\n"
               "  tun0: 1000 1 0 0 0 0 0 0 500 1 0 0 0 0 0 0\n"
               " wlan0: 600 7 0 0 0 0 0 0 300 3 0 0 0 0 0 0\n"
               "  eth0: 123456790012 1 0 0 0 0 0 0 98765434100 2 0 0 0 0 0 0\n");
    const std::vector<sysmon_net_info> nets = collect_nets(advancing(0.5));
    ASSERT_EQ(nets.size(), 3u);
    EXPECT_STREQ(nets[0].name, "tun0");
    EXPECT_EQ(nets[0].down_bytes_sec, 2000u);
    EXPECT_EQ(nets[0].up_bytes_sec, 1000u);
    EXPECT_STREQ(nets[1].name, "wlan0");
    EXPECT_EQ(nets[1].down_bytes_sec, 0u);  // went down
    EXPECT_EQ(nets[1].up_bytes_sec, 0u);
    EXPECT_STREQ(nets[2].name, "eth0");
    EXPECT_EQ(nets[2].down_bytes_sec, 2000u);
    EXPECT_EQ(nets[2].up_bytes_sec, 4000u);
}

TEST(LinuxProcessCollector, RecordsFromHostileProcessDirectories) {
    fixture_sources sources(fixture_dir("workstation"));
    process_list list;
    const uint64_t total = 16000000ull * 1024;
    list.collect(kNoGrowth, total);
    // 600 (empty stat), 700 (cut stat), "12abc" and "self" are not listed.
    ASSERT_EQ(list.count, 7);
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t tick = 10000000 / static_cast<uint64_t>(sysconf(_SC_CLK_TCK));

    const sysmon_proc_info *init = list.find(1);
    ASSERT_NE(init, nullptr);
    EXPECT_STREQ(init->name, "systemd");
    EXPECT_STREQ(init->command, "/sbin/init splash");
    EXPECT_STREQ(init->user, "root");
    EXPECT_STREQ(init->status, "sleeping");
    EXPECT_EQ(init->ppid, 0);
    EXPECT_EQ(init->memory_bytes, 3000 * page);
    EXPECT_DOUBLE_EQ(init->memory_percent, 3000.0 * page * 100.0 / total);
    EXPECT_EQ(init->user_time, 500 * tick);
    EXPECT_EQ(init->kernel_time, 250 * tick);
    EXPECT_EQ(init->cpu_time, 750 * tick);

    const sysmon_proc_info *odd = list.find(100);
    ASSERT_NE(odd, nullptr);
    EXPECT_STREQ(odd->name, "my (odd) name) x");
    EXPECT_STREQ(odd->status, "running");
    EXPECT_EQ(odd->ppid, 1);
    EXPECT_EQ(odd->threads, 4);
    EXPECT_STREQ(odd->command, "./odd --flag two words");
    EXPECT_STREQ(odd->user, "alice");

    const sysmon_proc_info *kthread = list.find(2);
    ASSERT_NE(kthread, nullptr);
    EXPECT_STREQ(kthread->command, "[kthreadd]");

    const sysmon_proc_info *long_one = list.find(300);
    ASSERT_NE(long_one, nullptr);
    EXPECT_STREQ(long_one->name, "a-very-long-program-name");
    EXPECT_STREQ(long_one->status, "disk-sleep");
    EXPECT_STREQ(long_one->user, "4242");  // no name for the id
    EXPECT_EQ(std::string(long_one->command).rfind(
                  "/usr/bin/a-very-long-program-name \xEF\xBF\xBD\xEF\xBF\xBD-bad caf\xC3\xA9 xxx", 0),
              0u);
    EXPECT_EQ(std::strlen(long_one->command), 1023u);

    const sysmon_proc_info *zombie = list.find(400);
    ASSERT_NE(zombie, nullptr);
    EXPECT_STREQ(zombie->status, "zombie");
    EXPECT_STREQ(zombie->command, "[defunct-child]");

    // Vanished after its stat file: keeps what was read.
    const sysmon_proc_info *gone = list.find(500);
    ASSERT_NE(gone, nullptr);
    EXPECT_STREQ(gone->status, "stopped");
    EXPECT_EQ(gone->cpu_time, 10 * tick);
    EXPECT_STREQ(gone->command, "[gone]");
    EXPECT_STREQ(gone->user, "");

    const sysmon_proc_info *bad = list.find(800);
    ASSERT_NE(bad, nullptr);
    EXPECT_STREQ(bad->name, "bad\xEF\xBF\xBD(\xEF\xBF\xBD");
    EXPECT_STREQ(bad->command, "bad\xEF\xBF\xBD");
    EXPECT_STREQ(bad->status, "tracing-stop");

    for (int32_t i = 0; i < list.count; ++i) {
        const sysmon_proc_info &p = list.records[i];
        EXPECT_TRUE(valid_field(p.name) && valid_field(p.command) && valid_field(p.user) &&
                    valid_field(p.status))
            << p.pid;
    }
}

TEST(LinuxProcessCollector, SharesAndIoRatesAgainstTheSameProcess) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    process_list list;
    list.collect(kNoGrowth);
    const long hz = sysconf(_SC_CLK_TCK);
    // pid 1: one second of processor time (hz ticks) over two seconds; io grows.
    tree.write("proc/1/stat", pid_stat(1, "systemd", 'S', 0, 500 + static_cast<int>(hz) / 2, 250 + static_cast<int>(hz) / 2, 1, 10, 3000));
    tree.write("proc/1/io", pid_io(1000 + 4000, 2000 + 8000));
    // pid 100: its time went down.
    tree.write("proc/100/stat", pid_stat(100, "odd", 'R', 1, 10, 5, 4, 500, 256));
    // pid 300: reused by another process (new start time) with more time.
    tree.write("proc/300/stat", pid_stat(300, "newcomer", 'R', 1, 5000, 5000, 1, 99999, 1));
    tree.write("proc/300/io", pid_io(1000000, 1000000));
    // pid 2: kept five processors busy: 10 s over 2 s is 500, not cut at 100.
    tree.write("proc/2/stat", pid_stat(2, "kthreadd", 'S', 0, static_cast<int>(hz) * 10, 3, 1, 2, 0));
    tree.remove("proc/400");
    list.collect(advancing(2.0));
    ASSERT_EQ(list.count, 6);
    EXPECT_EQ(list.find(400), nullptr);
    EXPECT_DOUBLE_EQ(list.find(1)->cpu_percent, 50.0);
    EXPECT_EQ(list.find(1)->read_bytes_sec, 2000u);
    EXPECT_EQ(list.find(1)->write_bytes_sec, 4000u);
    EXPECT_DOUBLE_EQ(list.find(100)->cpu_percent, 0.0);
    EXPECT_DOUBLE_EQ(list.find(300)->cpu_percent, 0.0);
    EXPECT_EQ(list.find(300)->read_bytes_sec, 0u);
    EXPECT_DOUBLE_EQ(list.find(2)->cpu_percent, 500.0);
    // No io file (kernel threads, other users' processes): rates 0.
    EXPECT_EQ(list.find(2)->read_bytes_sec, 0u);
}

TEST(LinuxProcessCollector, AReusedPidIsANewProcessWhoseRatesStartAfresh) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    process_list list;
    list.collect(kNoGrowth);  // pid 300: started at tick 900, 20 ticks used, 10/20 bytes of io
    const int hz = static_cast<int>(sysconf(_SC_CLK_TCK));
    // The pid is taken by a process started at tick 5000 that used two
    // seconds already: nothing of it derives from the old counters.
    tree.write("proc/300/stat", pid_stat(300, "newcomer", 'R', 1, hz, hz, 1, 5000, 1));
    tree.write("proc/300/io", pid_io(1000, 2000));
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(300)->name, "newcomer");
    EXPECT_DOUBLE_EQ(list.find(300)->cpu_percent, 0.0);
    EXPECT_EQ(list.find(300)->read_bytes_sec, 0u);
    // A second later it derives from its own first sighting: half a second
    // of processor time (against the old process it would read 230).
    tree.write("proc/300/stat", pid_stat(300, "newcomer", 'R', 1, hz + hz / 2, hz, 1, 5000, 1));
    tree.write("proc/300/io", pid_io(1500, 2100));
    list.collect(advancing(1.0));
    EXPECT_DOUBLE_EQ(list.find(300)->cpu_percent, 50.0);
    EXPECT_EQ(list.find(300)->read_bytes_sec, 500u);
    EXPECT_EQ(list.find(300)->write_bytes_sec, 100u);
    // Taken once more, by a process started later that used more: afresh again.
    tree.write("proc/300/stat", pid_stat(300, "third", 'R', 1, hz * 9, hz * 9, 1, 6000, 1));
    tree.write("proc/300/io", pid_io(90000, 90000));
    list.collect(advancing(1.0));
    EXPECT_DOUBLE_EQ(list.find(300)->cpu_percent, 0.0);
    EXPECT_EQ(list.find(300)->read_bytes_sec, 0u);
    EXPECT_EQ(list.find(300)->write_bytes_sec, 0u);
}

TEST(LinuxProcessCollector, TheRealUserFollowsAChangedOwner) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    process_list list;
    list.collect(kNoGrowth);
    EXPECT_STREQ(list.find(100)->user, "alice");
    // Same process, same owner: the user known from before stays, even if
    // status now says otherwise (it is not read again) ...
    tree.write("proc/100/status", "Uid:\t0\t0\t0\t0\n");
    list.collect(kNoGrowth);
    EXPECT_STREQ(list.find(100)->user, "alice");
    // ... a process started anew under the pid is read afresh.
    tree.write("proc/100/stat", pid_stat(100, "odd", 'R', 1, 1, 1, 1, 777, 1));
    list.collect(kNoGrowth);
    EXPECT_STREQ(list.find(100)->user, "root");
}

// The owner is not asked of a process whose schedstat shows it has not run
// (its credentials cannot have changed), and is asked again once it has.
TEST(LinuxProcessCollector, TheOwnerIsAskedAgainOnceTheProcessHasRun) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a fixture file another owner needs root";
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    process_list list;
    tree.write("proc/1/schedstat", "700000 5 3\n");
    list.collect(advancing(1.0));
    list.collect(advancing(1.0));
    ASSERT_STREQ(list.find(1)->user, "root");
    tree.write("proc/1/status", "Uid:\t1000\t1000\t1000\t1000\n");
    ASSERT_EQ(chown((tree.root / "proc/1/stat").c_str(), 4242, 4242), 0);
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(1)->user, "root");
    tree.write("proc/1/schedstat", "700001 5 4\n");
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(1)->user, "alice");
}

TEST(LinuxProcessCollector, ListsGrowAndMissingRoot) {
    {
        fixture_sources sources(fixture_dir("workstation"));
        process_list full;
        full.collect(kNoGrowth);
        // A list that starts smaller grows to every process.
        process_list small;
        small.records.resize(3);
        small.collect(kNoGrowth);
        ASSERT_EQ(small.count, full.count);
        EXPECT_GT(small.records.size(), 3u);
        EXPECT_EQ(std::memcmp(small.records.data(), full.records.data(),
                              sizeof full.records[0] * static_cast<size_t>(full.count)), 0);
        EXPECT_EQ(collect_disks(kNoGrowth, 1).size(), collect_disks(kNoGrowth).size());
        EXPECT_EQ(collect_nets(kNoGrowth, 1).size(), collect_nets(kNoGrowth).size());
        EXPECT_EQ(sysmon_collect_processes(nullptr, &kNoGrowth, 0), -1);
        EXPECT_EQ(sysmon_collect_disks(nullptr, &kNoGrowth), -1);
        EXPECT_EQ(sysmon_collect_network(nullptr, &kNoGrowth), -1);
    }
    fixture_sources sources("/nonexistent-sysmon-root");
    process_list list;
    EXPECT_EQ(list.collect_result(kNoGrowth), -1);
    EXPECT_EQ(list.count, 0);
}

TEST(LinuxSystemCollector, NamesReleaseUptimeAndBootTime) {
    sysmon_system_info sys;
    {
        fixture_sources sources(fixture_dir("workstation"));
        ASSERT_EQ(sysmon_collect_system(&sys), 0);
        EXPECT_STREQ(sys.hostname, "fixture-host");
        EXPECT_STREQ(sys.kernel, "6.1.0-fixture");
        EXPECT_STREQ(sys.os, "Debian GNU/Linux 12 (\"bookworm\")");
        EXPECT_EQ(sys.uptime_seconds, 12345u);
        EXPECT_STREQ(sys.boot_time, "2023-11-14T22:13:20Z");
        EXPECT_STREQ(sys.cpu_arch, "x86_64");
    }
    {
        fixture_sources sources(fixture_dir("server"));
        ASSERT_EQ(sysmon_collect_system(&sys), 0);
        EXPECT_STREQ(sys.os, "Fallback OS 1.0");
        EXPECT_EQ(sys.uptime_seconds, 99u);
        EXPECT_STREQ(sys.boot_time, "1970-01-01T00:00:00Z");
    }
    fixture_sources sources(fixture_dir("empty"));
    ASSERT_EQ(sysmon_collect_system(&sys), 0);
    EXPECT_STREQ(sys.os, "Linux");
    EXPECT_EQ(sys.uptime_seconds, 0u);
}

TEST(LinuxBatteryCollector, FirstBatteryMainsAndMissingFolder) {
    sysmon_battery_info bat;
    {
        fixture_sources sources(fixture_dir("workstation"));
        ASSERT_EQ(sysmon_collect_battery(&bat), 0);
        EXPECT_EQ(bat.present, 1);
        EXPECT_EQ(bat.percent, 76);                 // BAT0, not BAT1
        EXPECT_STREQ(bat.status, "Discharging");    // mains listed, offline
        EXPECT_EQ(bat.time_remaining_min, 150);     // 30 Wh / 12 W
        EXPECT_DOUBLE_EQ(bat.power_draw_watts, 12.0);
        EXPECT_EQ(bat.health_percent, 90);
    }
    {
        fixture_sources sources(fixture_dir("server"));
        ASSERT_EQ(sysmon_collect_battery(&bat), 0);
        EXPECT_STREQ(bat.status, "Charging");       // no mains: the battery's own status
        EXPECT_EQ(bat.percent, 40);
        EXPECT_EQ(bat.time_remaining_min, 0);
        EXPECT_DOUBLE_EQ(bat.power_draw_watts, 12.0);  // 1 A x 12 V
        EXPECT_EQ(bat.health_percent, 100);            // 6 of 5 Ah design: at most 100
    }
    fixture_sources sources(fixture_dir("empty"));
    ASSERT_EQ(sysmon_collect_battery(&bat), 0);
    EXPECT_EQ(bat.present, 0);
    EXPECT_STREQ(bat.status, "AC_Power");
    EXPECT_EQ(bat.percent, 0);
    EXPECT_EQ(bat.health_percent, 0);
}

TEST(LinuxTermination, PlatformCodeAndErrorText) {
    EXPECT_EQ(sysmon_platform_code(), 2);
    char text[64];
    sysmon_platform_error_text(3, text, sizeof text);
    EXPECT_STREQ(text, "No such process");
    char tiny[4];
    sysmon_platform_error_text(1, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "Ope");
}

TEST(LinuxProcessCollector, AShorterCollectionLeavesNothingStale) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root.string());
    process_list list;
    list.collect(kNoGrowth);
    const int32_t first = list.count;
    ASSERT_GT(first, 2);
    // Only the records a collection filled are cleared by the next one:
    // what lies past them is neither read nor written.
    std::memset(&list.records[static_cast<size_t>(first)], 0xAB,
                sizeof list.records[0] * static_cast<size_t>(SYSMON_MAX_PROCS - first));

    tree.remove("proc/1");
    tree.remove("proc/2");
    list.collect(kNoGrowth);
    ASSERT_EQ(list.count, first - 2);
    process_list fresh;
    fresh.collect(kNoGrowth);
    ASSERT_EQ(fresh.count, list.count);
    EXPECT_EQ(std::memcmp(list.records.data(), fresh.records.data(),
                          sizeof list.records[0] * static_cast<size_t>(list.count)), 0);
    const sysmon_proc_info zero = {};
    for (int32_t i = list.count; i < first; ++i)
        EXPECT_EQ(std::memcmp(&list.records[static_cast<size_t>(i)], &zero, sizeof zero), 0) << i;
    const unsigned char *past = reinterpret_cast<const unsigned char *>(&list.records[static_cast<size_t>(first)]);
    EXPECT_EQ(past[0], 0xAB);
    EXPECT_EQ(past[sizeof list.records[0] * static_cast<size_t>(SYSMON_MAX_PROCS - first) - 1], 0xAB);
}

// A single-threaded process whose schedstat has not moved since its last
// full read has not run: its command line and io are not read again, which
// only a fixture can show (in it the files change without the process
// running). Any sign that it ran or may have run reads them afresh. Each
// test uses its own schedstat figures: the collector's tables outlive tests.
TEST(LinuxProcessCollector, CommandAndIoOfAProcessThatHasNotRunAreKept) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    process_list list;
    tree.write("proc/1/schedstat", "700000 5 3\n");
    list.collect(kNoGrowth);
    const sysmon_proc_info first = *list.find(1);
    EXPECT_STREQ(first.command, "/sbin/init splash");

    tree.write("proc/1/cmdline", std::string("/sbin/init\0quiet\0", 17));
    tree.write("proc/1/io", pid_io(5000, 10000));
    list.collect(advancing(2.0));
    // Not read again: the record is the one of the full read, byte for byte.
    EXPECT_EQ(std::memcmp(list.find(1), &first, sizeof first), 0);

    // It was put on a processor once more: read afresh, with io rates over
    // the window since the counters kept.
    tree.write("proc/1/schedstat", "700000 5 4\n");
    list.collect(advancing(2.0));
    EXPECT_STREQ(list.find(1)->command, "/sbin/init quiet");
    EXPECT_EQ(list.find(1)->read_bytes_sec, 2000u);
    EXPECT_EQ(list.find(1)->write_bytes_sec, 4000u);

    // Unmoved again: rates 0, the new command kept.
    tree.write("proc/1/cmdline", std::string("other\0", 6));
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(1)->command, "/sbin/init quiet");
    EXPECT_EQ(list.find(1)->read_bytes_sec, 0u);
    // More run time, then a renamed task: each is read afresh.
    tree.write("proc/1/schedstat", "700001 5 4\n");
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(1)->command, "other");
    tree.write("proc/1/cmdline", std::string("renamed\0", 8));
    tree.write("proc/1/stat", pid_stat(1, "init2", 'S', 0, 500, 250, 1, 10, 3000));
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(1)->command, "renamed");
    // Running now (its counters may lag): read afresh.
    tree.write("proc/1/cmdline", std::string("running\0", 8));
    tree.write("proc/1/stat", pid_stat(1, "init2", 'R', 0, 500, 250, 1, 10, 3000));
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(1)->command, "running");
}

TEST(LinuxProcessCollector, ThreadsMissingSchedstatAndReusedPidsAreReadAfresh) {
    tree_copy tree("workstation");
    fixture_sources sources(tree.root);
    process_list list;
    // pid 100: four threads (schedstat speaks for one of them only).
    tree.write("proc/100/stat", pid_stat(100, "odd", 'S', 1, 100, 50, 4, 500, 256));
    tree.write("proc/100/schedstat", "800000 5 3\n");
    // pid 1: no schedstat, then one that cannot be read as such.
    tree.remove("proc/1/schedstat");
    // pid 700: a single-threaded process, then another one under its pid.
    tree.write("proc/700/stat", pid_stat(700, "first", 'S', 1, 1, 1, 1, 4000, 1));
    tree.write("proc/700/cmdline", std::string("first\0", 6));
    tree.write("proc/700/schedstat", "900000 5 3\n");
    list.collect(kNoGrowth);
    list.collect(kNoGrowth);
    ASSERT_STREQ(list.find(700)->command, "first");

    tree.write("proc/100/cmdline", std::string("threaded\0", 9));
    tree.write("proc/1/cmdline", std::string("nosched\0", 8));
    tree.write("proc/700/stat", pid_stat(700, "first", 'S', 1, 1, 1, 1, 4100, 1));
    tree.write("proc/700/cmdline", std::string("second\0", 7));
    tree.write("proc/700/io", pid_io(5000, 5000));
    list.collect(advancing(1.0));
    EXPECT_STREQ(list.find(100)->command, "threaded");
    EXPECT_STREQ(list.find(1)->command, "nosched");
    EXPECT_STREQ(list.find(700)->command, "second");
    EXPECT_EQ(list.find(700)->read_bytes_sec, 0u);  // a new process: rates start afresh

    tree.write("proc/1/schedstat", "garbage\n");
    list.collect(kNoGrowth);
    tree.write("proc/1/cmdline", std::string("garbled\0", 8));
    list.collect(kNoGrowth);
    EXPECT_STREQ(list.find(1)->command, "garbled");
}
