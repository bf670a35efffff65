// The plain parsers of /proc and /sys text, fed with made-up file contents.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cpu_derive.h"
#include "cpuinfo_parse.h"
#include "meminfo_parse.h"
#include "mountinfo_parse.h"
#include "net_dev_parse.h"
#include "proc_stat_parse.h"
#include "runtime_hooks.h"
#include "system_facts_parse.h"
#include "text_utf8.h"

namespace {

std::string utf8(const std::string &in, size_t field = 256) {
    std::string out(field, 'Z');
    utf8_copy_repaired(out.data(), field, in.data(), in.size());
    return std::string(out.c_str());
}

const std::string FFFD = "\xEF\xBF\xBD";

}  // namespace

TEST(Utf8Copy, ValidTextPassesAndInvalidSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(utf8("plain"), "plain");
    EXPECT_EQ(utf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(utf8("a\xFFz"), "a" + FFFD + "z");                      // bad lead byte
    EXPECT_EQ(utf8("\x80\xBF"), FFFD + FFFD);                         // stray continuations
    EXPECT_EQ(utf8("\xC0\xAF"), FFFD + FFFD);                         // overlong two-byte form
    EXPECT_EQ(utf8("\xE0\x80\xAF"), FFFD + FFFD + FFFD);              // overlong three-byte form
    EXPECT_EQ(utf8("\xED\xA0\x80"), FFFD + FFFD + FFFD);              // surrogate
    EXPECT_EQ(utf8("\xF4\x90\x80\x80"), FFFD + FFFD + FFFD + FFFD);   // beyond U+10FFFF
    EXPECT_EQ(utf8("\xE2\x82x"), FFFD + "x");                         // cut sequence, one U+FFFD
    EXPECT_EQ(utf8("end\xF0\x9F\x98"), "end" + FFFD);                 // cut at the very end
    EXPECT_EQ(utf8(std::string("ab\0cd", 5)), "ab");                  // a NUL ends the text
}

TEST(Utf8Copy, CutsAtACharacterBoundaryToFitTheField) {
    EXPECT_EQ(utf8("abc\xE2\x82\xAC", 6), "abc");       // the euro sign needs 3 more bytes + NUL
    EXPECT_EQ(utf8("abc\xE2\x82\xAC", 7), "abc\xE2\x82\xAC");
    EXPECT_EQ(utf8("ab\xFF", 5), "ab");                 // the replacement does not fit either
    EXPECT_EQ(utf8("abc", 1), "");
    char one[1] = {'x'};
    EXPECT_EQ(utf8_copy_repaired(one, 1, "abc", 3), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST(ProcStat, AggregateAndPerProcessorLinesWithGapsAndBootTime) {
    const std::string text =
        "cpu  10 1 5 80 4 0 0 0 2 0\n"
        "cpu0 5 1 2 40 2 0 0 0 2 0\n"
        "cpu3 5 0 3 40 2\n"       // an older kernel's shorter line
        "cpux 1 1 1\n"            // not a processor line
        "intr 1 2 3\n"
        "btime 1700000000\n";
    proc_stat_reading r;
    parse_proc_stat(text.data(), text.size(), &r);
    ASSERT_TRUE(r.has_total);
    EXPECT_EQ(r.total.user, 10u);
    EXPECT_EQ(r.total.guest, 2u);
    ASSERT_EQ(r.cpus.count, 2);
    EXPECT_EQ(r.cpus.items[0].index, 0);
    EXPECT_EQ(r.cpus.items[1].index, 3);
    EXPECT_EQ(r.cpus.items[1].times.iowait, 2u);
    EXPECT_EQ(r.cpus.items[1].times.irq, 0u);
    ASSERT_TRUE(r.has_btime);
    EXPECT_EQ(r.btime, 1700000000u);

    const std::string cut = "cpu  1 2 3\ncpu0";
    parse_proc_stat(cut.data(), cut.size(), &r);
    EXPECT_TRUE(r.has_total);
    EXPECT_EQ(r.cpus.count, 0);
    EXPECT_FALSE(r.has_btime);
    proc_stat_release(&r);
}

static void *no_memory(void *, size_t) { return nullptr; }

TEST(ProcStat, EveryProcessorLineIsKeptPast512AndAFailedGrowthKeepsTheFirstLines) {
    std::string text = "cpu  1 2 3 4\n";
    for (int n = 0; n < 1500; ++n) text += "cpu" + std::to_string(n) + " " + std::to_string(n) + " 0 7 9\n";
    text += "btime 1700000000\n";
    proc_stat_reading r;
    parse_proc_stat(text.data(), text.size(), &r);
    ASSERT_EQ(r.cpus.count, 1500);
    for (int32_t i = 0; i < r.cpus.count; ++i) {
        ASSERT_EQ(r.cpus.items[i].index, i);
        ASSERT_EQ(r.cpus.items[i].times.user, static_cast<uint64_t>(i));
    }
    EXPECT_EQ(r.cpus.items[1499].times.idle, 9u);
    EXPECT_TRUE(r.has_btime);
    // The list keeps its size: a second parse allocates nothing.
    const int32_t held = r.cpus.capacity;
    s_hooks.mem_realloc = no_memory;
    parse_proc_stat(text.data(), text.size(), &r);
    EXPECT_EQ(r.cpus.count, 1500);
    EXPECT_EQ(r.cpus.capacity, held);
    proc_stat_release(&r);

    // A reading whose list cannot grow past its first 16 entries holds the
    // first 16 processors, in order, and the rest of the text still counts.
    parse_proc_stat(text.data(), text.size(), &r);
    s_hooks = sysmon_default_hooks;
    ASSERT_EQ(r.cpus.count, 16);
    EXPECT_EQ(r.cpus.items[15].index, 15);
    EXPECT_TRUE(r.has_total);
    EXPECT_EQ(r.btime, 1700000000u);
    proc_stat_release(&r);
}

TEST(CpuLoad, BusyShareOfTheGrowthWithIowaitIdleAndGuestNotCountedTwice) {
    const proc_stat_times prev{100, 0, 100, 100, 100, 0, 0, 0, 50, 0};
    // user +30 (of which guest +10), system +10, idle +40, iowait +20.
    const proc_stat_times now{130, 0, 110, 140, 120, 0, 0, 0, 60, 0};
    EXPECT_DOUBLE_EQ(cpu_busy_percent(prev, now), 40.0);
    EXPECT_DOUBLE_EQ(cpu_busy_percent(prev, prev), 0.0);
    // iowait went down: it counts as no growth, the rest still does.
    const proc_stat_times back{130, 0, 110, 140, 90, 0, 0, 0, 60, 0};
    EXPECT_DOUBLE_EQ(cpu_busy_percent(prev, back), 50.0);
    // Everything went down: 0, never negative.
    EXPECT_DOUBLE_EQ(cpu_busy_percent(now, prev), 0.0);
}

TEST(CpuLoad, CumulativeSecondsSplitAsTheLoadAndNeverGoingDown) {
    // busy = user + nice + system + irq + softirq + steal; idle = idle + iowait.
    const proc_stat_times t{300, 20, 100, 500, 100, 5, 15, 10, 50, 0};
    const cpu_seconds s = cpu_times_seconds(t, 100.0);
    EXPECT_DOUBLE_EQ(s.busy, 4.5);
    EXPECT_DOUBLE_EQ(s.idle, 6.0);
    EXPECT_DOUBLE_EQ(cpu_times_seconds(t, 0.0).busy, 0.0);
    double highest = 0.0;
    EXPECT_DOUBLE_EQ(monotonic_counter(6.0, &highest), 6.0);
    EXPECT_DOUBLE_EQ(monotonic_counter(5.5, &highest), 6.0);  // iowait stepped back
    EXPECT_DOUBLE_EQ(monotonic_counter(7.0, &highest), 7.0);
}

TEST(CpuInfo, NameCoresAndFrequencies) {
    const std::string text =
        "processor\t: 0\nmodel name\t: First CPU\ncpu MHz\t\t: 1000.250\nphysical id\t: 0\ncore id\t\t: 0\n\n"
        "processor\t: 1\nmodel name\t: Second CPU\ncpu MHz\t\t: 3000.750\nphysical id\t: 0\ncore id\t\t: 0\n\n"
        "processor\t: 2\ncpu MHz\t\t: 2000\nphysical id\t: 1\ncore id\t\t: 0\n\n";
    cpuinfo_reading r;
    parse_cpuinfo(text.data(), text.size(), &r);
    EXPECT_STREQ(r.name, "First CPU");
    EXPECT_EQ(r.physical_cores, 2);  // (0,0) twice and (1,0)
    EXPECT_EQ(r.mhz_count, 3);
    EXPECT_DOUBLE_EQ(r.mhz_mean, (1000.25 + 3000.75 + 2000.0) / 3);

    const std::string arm = "processor\t: 0\nBogoMIPS\t: 108\n\nProcessor\t: ARMv7 rev 4\nHardware\t: BCM2835\n";
    parse_cpuinfo(arm.data(), arm.size(), &r);
    EXPECT_STREQ(r.name, "BCM2835");
    EXPECT_EQ(r.physical_cores, 0);
    EXPECT_EQ(r.mhz_count, 0);
    const std::string old_arm = "Processor\t: ARMv6-compatible rev 7\n";
    parse_cpuinfo(old_arm.data(), old_arm.size(), &r);
    EXPECT_STREQ(r.name, "ARMv6-compatible rev 7");
}

TEST(MemInfo, FiguresInBytesLikeFree) {
    const std::string text =
        "MemTotal:  1000 kB\nMemFree: 100 kB\nMemAvailable: 400 kB\nCached: 200 kB\n"
        "SwapCached: 7 kB\nSReclaimable: 50 kB\nSwapTotal: 300 kB\nSwapFree: 100 kB\n";
    sysmon_mem_info m;
    parse_meminfo(text.data(), text.size(), &m);
    EXPECT_EQ(m.total, 1024000u);
    EXPECT_EQ(m.available, 409600u);
    EXPECT_EQ(m.used, 614400u);
    EXPECT_EQ(m.cached, 256000u);  // Cached + SReclaimable, not SwapCached
    EXPECT_EQ(m.swap_total, 307200u);
    EXPECT_EQ(m.swap_used, 204800u);

    const std::string odd = "MemTotal: 10 kB\nMemAvailable: 20 kB\nSwapFree: 5 kB\nMemTotal";
    parse_meminfo(odd.data(), odd.size(), &m);
    EXPECT_EQ(m.used, 0u);
    EXPECT_EQ(m.swap_used, 0u);
    const std::string huge = "MemTotal: 99999999999999999999999 kB\n";
    parse_meminfo(huge.data(), huge.size(), &m);
    EXPECT_EQ(m.total, UINT64_MAX);
}

TEST(MountInfo, FieldsEscapesAndOptionalFields) {
    const std::string line =
        "36 35 98:0 /mnt1 /mnt/my\\040disk\\134x rw,noatime master:1 shared:2 - ext3 /dev/root rw,errors=continue";
    mount_entry m;
    ASSERT_TRUE(parse_mountinfo_line(line.data(), line.size(), &m));
    EXPECT_EQ(m.major, 98u);
    EXPECT_EQ(m.minor, 0u);
    EXPECT_STREQ(m.mount_point, "/mnt/my disk\\x");
    EXPECT_STREQ(m.fs_type, "ext3");
    EXPECT_STREQ(m.source, "/dev/root");

    const std::string no_separator = "36 35 98:0 / / rw shared:1 ext3 /dev/root rw";
    EXPECT_FALSE(parse_mountinfo_line(no_separator.data(), no_separator.size(), &m));
    const std::string bad_dev = "36 35 98x0 / / rw - ext3 /dev/root rw";
    EXPECT_FALSE(parse_mountinfo_line(bad_dev.data(), bad_dev.size(), &m));
    const std::string cut = "36 35 98:0 / / rw -";
    EXPECT_FALSE(parse_mountinfo_line(cut.data(), cut.size(), &m));

    char out[8];
    EXPECT_EQ(decode_mount_escapes("a\\04", 4, out, sizeof out), 4u);  // cut escape kept as is
    EXPECT_STREQ(out, "a\\04");
    decode_mount_escapes("\\011\\012", 8, out, sizeof out);
    EXPECT_STREQ(out, "\t\n");
}

TEST(DiskStats, SectorsReadAndWritten) {
    const std::string line = " 259       2 nvme0n1p2 40 1 4000 9 8 2 5000 7 0 0 0";
    diskstats_row r;
    ASSERT_TRUE(parse_diskstats_line(line.data(), line.size(), &r));
    EXPECT_EQ(r.major, 259u);
    EXPECT_EQ(r.minor, 2u);
    EXPECT_STREQ(r.name, "nvme0n1p2");
    EXPECT_EQ(r.sectors_read, 4000u);
    EXPECT_EQ(r.sectors_written, 5000u);
    const std::string cut = "8 0 sda 1 2 3";
    EXPECT_FALSE(parse_diskstats_line(cut.data(), cut.size(), &r));
}

TEST(NetDev, RowsAndHeaders) {
    net_dev_row r;
    const std::string row = "  eth0:123456789012 1 0 0 0 0 0 0 98765432100 2 0 0 0 0 0 0";
    ASSERT_TRUE(parse_net_dev_line(row.data(), row.size(), &r));
    EXPECT_STREQ(r.name, "eth0");
    EXPECT_EQ(r.recv_bytes, 123456789012u);
    EXPECT_EQ(r.sent_bytes, 98765432100u);
    const std::string header1 = "Inter-|   Receive                                                |  Transmit";
    const std::string header2 = " face |bytes    packets errs drop fifo frame compressed multicast|bytes";
    EXPECT_FALSE(parse_net_dev_line(header1.data(), header1.size(), &r));
    EXPECT_FALSE(parse_net_dev_line(header2.data(), header2.size(), &r));
    const std::string cut = "eth0: 1 2 3";
    EXPECT_FALSE(parse_net_dev_line(cut.data(), cut.size(), &r));
}

TEST(SystemFacts, OsReleaseArchitectureUptimeAndBootTime) {
    char out[128];
    const std::string quoted = "NAME=x\nPRETTY_NAME=\"Debian \\\"12\\\" (bookworm)\"\n";
    ASSERT_TRUE(parse_os_release_pretty_name(quoted.data(), quoted.size(), out, sizeof out));
    EXPECT_STREQ(out, "Debian \"12\" (bookworm)");
    const std::string single = "PRETTY_NAME='Alpine Linux v3.19'\n";
    ASSERT_TRUE(parse_os_release_pretty_name(single.data(), single.size(), out, sizeof out));
    EXPECT_STREQ(out, "Alpine Linux v3.19");
    const std::string bare = "PRETTY_NAME=Plain\n";
    ASSERT_TRUE(parse_os_release_pretty_name(bare.data(), bare.size(), out, sizeof out));
    EXPECT_STREQ(out, "Plain");
    const std::string none = "NAME=x\nPRETTY_NAME=\"\"\n";
    EXPECT_FALSE(parse_os_release_pretty_name(none.data(), none.size(), out, sizeof out));

    EXPECT_STREQ(linux_arch_name("x86_64"), "x86_64");
    EXPECT_STREQ(linux_arch_name("aarch64"), "aarch64");
    EXPECT_STREQ(linux_arch_name("i386"), "x86");
    EXPECT_STREQ(linux_arch_name("i686"), "x86");
    EXPECT_STREQ(linux_arch_name("i786"), "unknown");
    EXPECT_STREQ(linux_arch_name("riscv64"), "unknown");

    uint64_t up = 0;
    ASSERT_TRUE(parse_uptime_seconds("350735.47 234388.90\n", 20, &up));
    EXPECT_EQ(up, 350735u);
    EXPECT_FALSE(parse_uptime_seconds("x", 1, &up));

    char when[32];
    format_utc_instant(1700000000, when, sizeof when);
    EXPECT_STREQ(when, "2023-11-14T22:13:20Z");
    format_utc_instant(0, when, sizeof when);
    EXPECT_STREQ(when, "1970-01-01T00:00:00Z");
    // Instants whose year has not four digits (from a garbled btime or
    // uptime; found by the system facts fuzz target) fall back too.
    format_utc_instant(253402300799, when, sizeof when);
    EXPECT_STREQ(when, "9999-12-31T23:59:59Z");
    format_utc_instant(253402300800, when, sizeof when);
    EXPECT_STREQ(when, "1970-01-01T00:00:00Z");
    format_utc_instant(-62135596801, when, sizeof when);  // year 0
    EXPECT_STREQ(when, "1970-01-01T00:00:00Z");
    format_utc_instant(INT64_MAX, when, sizeof when);
    EXPECT_STREQ(when, "1970-01-01T00:00:00Z");
}
