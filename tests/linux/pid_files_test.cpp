// Parsers of the per-process files and the texts derived from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "battery_derive.h"
#include "closing_batch.h"
#include "pid_files_parse.h"

namespace {

std::string stat_line(const std::string &comm, const std::string &rest) {
    return "1234 (" + comm + ") " + rest;
}

// state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime
// stime cutime cstime priority nice num_threads itrealvalue starttime vsize rss
const std::string kFields = "S 77 1 1 0 -1 0 0 0 0 0 300 200 -4 -5 20 -10 6 0 5555 999 321 18446744073709551615 1 1\n";

struct command_and_name {
    std::string command, name;
};

command_and_name derive(const std::string &comm, const std::string &cmdline, size_t command_size = 1024) {
    std::string command(command_size, 'Z'), name(128, 'Z');
    pid_command_and_name(comm.data(), comm.size(), cmdline.data(), cmdline.size(), command.data(),
                         command_size, name.data(), 128);
    return {command.c_str(), name.c_str()};
}

}  // namespace

TEST(PidStat, FieldsAfterTheLastParenthesis) {
    for (const std::string &comm : std::vector<std::string>{"plain", "two words", "a) (b", ") S 1 2 3 (", ""}) {
        const std::string text = stat_line(comm, kFields);
        pid_stat st;
        ASSERT_TRUE(parse_pid_stat(text.data(), text.size(), &st)) << comm;
        EXPECT_EQ(st.pid, 1234);
        EXPECT_EQ(std::string(st.comm, st.comm_len), comm);
        EXPECT_EQ(st.state, 'S');
        EXPECT_EQ(st.ppid, 77);
        EXPECT_EQ(st.utime, 300u);
        EXPECT_EQ(st.stime, 200u);
        EXPECT_EQ(st.num_threads, 6);
        EXPECT_EQ(st.start_time, 5555u);
        EXPECT_EQ(st.rss_pages, 321u);
    }
}

TEST(PidStat, TruncatedOrGarbledTextIsRejected) {
    pid_stat st;
    for (const std::string &text :
         {std::string(""), std::string("1234"), std::string("1234 (name"),
          std::string("1234 (name) "), std::string("1234 (name) S 1 1 1 0 -1 0 0 0 0 0 3 2"),
          std::string("x (name) S 1"), std::string("99999999999 (n) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 1 1 1")}) {
        EXPECT_FALSE(parse_pid_stat(text.data(), text.size(), &st)) << text;
    }
    // Cut after the thread count: listed, with what was there.
    const std::string up_to_threads = stat_line("n", "S 1 1 1 0 -1 0 0 0 0 0 3 2 0 0 20 0 9");
    ASSERT_TRUE(parse_pid_stat(up_to_threads.data(), up_to_threads.size(), &st));
    EXPECT_EQ(st.num_threads, 9);
    EXPECT_EQ(st.rss_pages, 0u);
}

TEST(PidStatus, RealUidIsTheFirstNumberOfTheUidLine) {
    uint32_t uid = 0;
    const std::string text = "Name:\tx\nUmask:\t0022\nUid:\t1000\t0\t0\t0\nGid:\t5\t5\t5\t5\n";
    ASSERT_TRUE(parse_status_real_uid(text.data(), text.size(), &uid));
    EXPECT_EQ(uid, 1000u);
    const std::string no_uid = "Name:\tx\nGid:\t5\n";
    EXPECT_FALSE(parse_status_real_uid(no_uid.data(), no_uid.size(), &uid));
    const std::string bad = "Uid:\tnobody\n";
    EXPECT_FALSE(parse_status_real_uid(bad.data(), bad.size(), &uid));
}

TEST(PidIo, ReadAndWriteBytes) {
    uint64_t r = 0, w = 0;
    const std::string text = "rchar: 1\nwchar: 2\nread_bytes: 4096\nwrite_bytes: 8192\ncancelled_write_bytes: 5\n";
    ASSERT_TRUE(parse_pid_io(text.data(), text.size(), &r, &w));
    EXPECT_EQ(r, 4096u);
    EXPECT_EQ(w, 8192u);
    const std::string half = "read_bytes: 4096\n";
    EXPECT_FALSE(parse_pid_io(half.data(), half.size(), &r, &w));
}

TEST(PidSchedstat, RunTimeAndTimeslices) {
    pid_schedstat s;
    const std::string text = "123456789 4321 17\n";
    ASSERT_TRUE(parse_pid_schedstat(text.data(), text.size(), &s));
    EXPECT_EQ(s.run_ns, 123456789u);
    EXPECT_EQ(s.timeslices, 17u);
    const std::string bare = "0 0 0";
    ASSERT_TRUE(parse_pid_schedstat(bare.data(), bare.size(), &s));
    EXPECT_EQ(s.run_ns, 0u);
    for (const std::string bad : {"", "12 34\n", "12 34 x\n", "12,34,56\n", "12 34 56 junk\n", "-1 2 3\n"}) {
        EXPECT_FALSE(parse_pid_schedstat(bad.data(), bad.size(), &s)) << bad;
        EXPECT_EQ(s.run_ns, 0u);
    }
    EXPECT_FALSE(parse_pid_schedstat(nullptr, 0, &s));
}

TEST(PidState, EveryLetterHasItsWord) {
    const std::pair<char, const char *> table[] = {
        {'R', "running"}, {'S', "sleeping"}, {'D', "disk-sleep"}, {'T', "stopped"},
        {'t', "tracing-stop"}, {'Z', "zombie"}, {'X', "dead"}, {'I', "idle"},
        {'P', "parked"}, {'W', "waking"}, {'K', "wake-kill"}, {'x', "unknown"}, {'?', "unknown"}};
    for (const auto &[letter, word] : table) EXPECT_STREQ(pid_state_word(letter), word) << letter;
}

TEST(PidCommand, ArgumentsJoinedBySingleSpacesOrTheNameInBrackets) {
    EXPECT_EQ(derive("sleep", std::string("/bin/sleep\0" "30\0", 14)).command, "/bin/sleep 30");
    EXPECT_EQ(derive("sh", std::string("sh\0-c\0echo a  b\0", 16)).command, "sh -c echo a  b");
    // Rewritten command lines (one text with spaces) stay as they are.
    EXPECT_EQ(derive("sshd", "sshd: alice [priv]").command, "sshd: alice [priv]");
    // Padding NULs at the end are not arguments.
    EXPECT_EQ(derive("x", std::string("x\0\0\0\0", 5)).command, "x");
    EXPECT_EQ(derive("kthreadd", "").command, "[kthreadd]");
    EXPECT_EQ(derive("kthreadd", "").name, "kthreadd");
    EXPECT_EQ(derive("kworker/0:1H", std::string("\0\0", 2)).command, "[kworker/0:1H]");
}

TEST(PidCommand, LongAndInvalidCommandLinesStayValidUtf8WithinTheField) {
    std::string cmdline = std::string("/usr/bin/tool\0\xff\xfe\0caf\xc3\xa9\0", 23) + std::string(3000, 'x');
    const command_and_name r = derive("tool", cmdline);
    EXPECT_EQ(r.command.rfind("/usr/bin/tool \xEF\xBF\xBD\xEF\xBF\xBD caf\xC3\xA9 xx", 0), 0u);
    EXPECT_EQ(r.command.size(), 1023u);
    // A multi-byte character that does not fit is left out whole.
    const command_and_name cut = derive("t", "ab\xE2\x82\xAC", 5);
    EXPECT_EQ(cut.command, "ab");
    // A task name with bytes that are not UTF-8.
    EXPECT_EQ(derive("bad\xc3(", "").command, "[bad\xEF\xBF\xBD(]");
}

TEST(PidName, TheFullBaseNameReplacesATaskNameCutByTheKernel) {
    const std::string cut = "a-very-long-pro";  // 15 bytes
    EXPECT_EQ(derive(cut, std::string("/usr/bin/a-very-long-program-name\0-v\0", 37)).name,
              "a-very-long-program-name");
    // Only when the base name starts with the task name ...
    EXPECT_EQ(derive(cut, std::string("/usr/bin/other-program-name\0", 28)).name, cut);
    // ... and only for a name of exactly 15 bytes.
    EXPECT_EQ(derive("python3", std::string("/usr/bin/python3.11\0", 20)).name, "python3");
    EXPECT_EQ(derive(cut, std::string("a-very-long-program\0", 20)).name, "a-very-long-program");
}

TEST(LinuxBattery, NoBatteryIsMainsPower) {
    sysmon_battery_info bat;
    power_supplies_reading r{};
    r.mains_listed = 1;
    r.mains_online = 1;
    derive_linux_battery(&bat, &r);
    EXPECT_EQ(bat.present, 0);
    EXPECT_STREQ(bat.status, "AC_Power");
    EXPECT_EQ(bat.percent, 0);
    EXPECT_EQ(bat.health_percent, 0);
    EXPECT_EQ(bat.time_remaining_min, 0);
}

TEST(LinuxBattery, StatusFollowsTheMainsSupplyElseTheBatteryItself) {
    sysmon_battery_info bat;
    power_supplies_reading r{};
    r.has_battery = 1;
    std::snprintf(r.battery.status, sizeof r.battery.status, "%s", "Full");
    r.mains_listed = 1;
    r.mains_online = 0;
    derive_linux_battery(&bat, &r);
    EXPECT_STREQ(bat.status, "Discharging");
    r.mains_online = 1;
    derive_linux_battery(&bat, &r);
    EXPECT_STREQ(bat.status, "Charging");
    r.mains_listed = 0;
    r.mains_online = 0;
    derive_linux_battery(&bat, &r);
    EXPECT_STREQ(bat.status, "Charging");
    std::snprintf(r.battery.status, sizeof r.battery.status, "%s", "Discharging");
    derive_linux_battery(&bat, &r);
    EXPECT_STREQ(bat.status, "Discharging");
    EXPECT_EQ(bat.health_percent, 100);  // unknown
}

TEST(LinuxBattery, EnergyOrChargeFigures) {
    sysmon_battery_info bat;
    power_supplies_reading r{};
    r.has_battery = 1;
    battery_supply_reading &b = r.battery;
    std::snprintf(b.status, sizeof b.status, "%s", "Discharging");
    b.has_capacity = 1;
    b.capacity = 150;  // beyond 100: clamped
    b.has_charge_now = b.has_current_now = b.has_voltage_now = 1;
    b.charge_now = 3000000;   // 3 Ah
    b.current_now = -1500000; // 1.5 A (some drivers report it negative)
    b.voltage_now = 11000000; // 11 V
    b.has_charge_full = b.has_charge_full_design = 1;
    b.charge_full = 4000000;
    b.charge_full_design = 5000000;
    derive_linux_battery(&bat, &r);
    EXPECT_EQ(bat.present, 1);
    EXPECT_EQ(bat.percent, 100);
    EXPECT_EQ(bat.time_remaining_min, 120);
    EXPECT_DOUBLE_EQ(bat.power_draw_watts, 16.5);
    EXPECT_EQ(bat.health_percent, 80);

    b.has_power_now = b.has_energy_now = b.has_energy_full = b.has_energy_full_design = 1;
    b.power_now = 0;  // no draw: no time estimate, no division
    b.energy_now = 1;
    b.energy_full = 60;
    b.energy_full_design = 50;
    b.has_charge_now = 0;
    derive_linux_battery(&bat, &r);
    EXPECT_EQ(bat.time_remaining_min, 0);
    EXPECT_EQ(bat.health_percent, 100);  // at most 100
}

// The file readers saturate a garbled attribute at the int64 limits; the
// most negative current still gives a finite draw and time (found by the
// /sys battery fuzz target: negating it overflowed).
TEST(LinuxBattery, MostNegativeCurrentIsItsMagnitude) {
    sysmon_battery_info bat;
    power_supplies_reading r{};
    r.has_battery = 1;
    battery_supply_reading &b = r.battery;
    std::snprintf(b.status, sizeof b.status, "%s", "Discharging");
    b.has_charge_now = b.has_current_now = b.has_voltage_now = 1;
    b.charge_now = 1000;
    b.current_now = INT64_MIN;
    b.voltage_now = 12000000;
    derive_linux_battery(&bat, &r);
    EXPECT_DOUBLE_EQ(bat.power_draw_watts, 9223372036854775808.0 * 12e6 / 1e12);
    EXPECT_EQ(bat.time_remaining_min, 0);
}

TEST(DescriptorRuns, ConsecutiveNumbersInAnyOrderMakeOneRunEach) {
    int fds[] = {9, 4, 12, 5, 7, 6, 12, 11, 30};
    int runs[9][2];
    ASSERT_EQ(descriptor_runs(fds, 9, runs), 4u);
    const int expected[4][2] = {{4, 7}, {9, 9}, {11, 12}, {30, 30}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(runs[i][0], expected[i][0]) << i;
        EXPECT_EQ(runs[i][1], expected[i][1]) << i;
    }
    EXPECT_EQ(descriptor_runs(fds, 0, runs), 0u);
}
