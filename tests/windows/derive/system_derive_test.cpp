// Product and architecture tables, kernel text, uptime and boot instant.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "system_derive.h"

namespace {

system_readings version(uint32_t major, uint32_t minor, uint32_t build) {
    system_readings r = {};
    r.has_hostname = 1;
    std::strcpy(r.hostname, "HOST");
    r.has_version = 1;
    r.major = major;
    r.minor = minor;
    r.build = build;
    return r;
}

struct tm utc(int year, int month, int day, int hour, int min, int sec) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}

}  // namespace

TEST(DeriveSystem, ProductNameTable) {
    EXPECT_STREQ(derive_os_name(10, 0, 22631), "Windows 11");
    EXPECT_STREQ(derive_os_name(10, 0, 22000), "Windows 11");
    EXPECT_STREQ(derive_os_name(10, 0, 21999), "Windows 10");
    EXPECT_STREQ(derive_os_name(10, 0, 19045), "Windows 10");
    EXPECT_STREQ(derive_os_name(6, 1, 30000), "Windows 11");  // build wins
    EXPECT_STREQ(derive_os_name(6, 3, 9600), "Windows 8.1");
    EXPECT_STREQ(derive_os_name(6, 2, 9200), "Windows 8");
    EXPECT_STREQ(derive_os_name(6, 1, 7601), "Windows 7");
    EXPECT_STREQ(derive_os_name(6, 0, 6002), "Windows");
    EXPECT_STREQ(derive_os_name(5, 1, 2600), "Windows");
}

TEST(DeriveSystem, ArchitectureTable) {
    EXPECT_STREQ(derive_arch_name(9), "x86_64");
    EXPECT_STREQ(derive_arch_name(12), "aarch64");
    EXPECT_STREQ(derive_arch_name(0), "x86");
    EXPECT_STREQ(derive_arch_name(5), "unknown");
    EXPECT_STREQ(derive_arch_name(6), "unknown");
    EXPECT_STREQ(derive_arch_name(0xFFFF), "unknown");
}

TEST(DeriveSystem, VersionTexts) {
    sysmon_system_info sys;
    system_readings r = version(10, 0, 22631);
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.kernel, "10.0.22631");
    EXPECT_STREQ(sys.os, "Windows 11");

    r = version(5, 1, 2600);
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.kernel, "5.1.2600");
    EXPECT_STREQ(sys.os, "Windows");

    r = version(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.kernel, "4294967295.4294967295.4294967295");

    r.has_version = 0;
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.kernel, "NT");
    EXPECT_STREQ(sys.os, "Windows");
}

TEST(DeriveSystem, HostnameAndFallback) {
    sysmon_system_info sys;
    system_readings r = version(10, 0, 1);
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.hostname, "HOST");

    r.has_hostname = 0;  // whatever a failed query left in the buffer
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.hostname, "Windows-PC");

    r.has_hostname = 1;
    std::memset(r.hostname, 'h', sizeof r.hostname);
    derive_system(&sys, &r);
    EXPECT_EQ(std::string(sys.hostname), std::string(127, 'h'));
}

TEST(DeriveSystem, UptimeAndBootInstant) {
    EXPECT_EQ(derive_uptime_seconds(3723999), 3723u);
    EXPECT_EQ(derive_uptime_seconds(999), 0u);
    // 2024-03-05T08:11:05Z minus 3723 s.
    const int64_t boot = derive_boot_instant(1709626265, 3723);
    EXPECT_EQ(boot, 1709622542);
    const std::time_t t = static_cast<std::time_t>(boot);
    const struct tm *converted = std::gmtime(&t);
    ASSERT_NE(converted, nullptr);
    char text[32];
    derive_boot_time_text(text, sizeof text, converted);
    EXPECT_STREQ(text, "2024-03-05T07:09:02Z");
}

TEST(DeriveSystem, BootTimeTextAndFallback) {
    sysmon_system_info sys;
    const struct tm boot = utc(2024, 3, 5, 7, 9, 2);
    system_readings r = version(10, 0, 1);
    r.uptime_ms = 3723999;
    r.boot_utc = &boot;
    r.arch_code = 9;
    derive_system(&sys, &r);
    EXPECT_EQ(sys.uptime_seconds, 3723u);
    EXPECT_STREQ(sys.boot_time, "2024-03-05T07:09:02Z");
    EXPECT_STREQ(sys.cpu_arch, "x86_64");

    r.boot_utc = nullptr;
    derive_system(&sys, &r);
    EXPECT_STREQ(sys.boot_time, "1970-01-01T00:00:00Z");

    // Text that would not fit its field is never left half-written.
    char small[8];
    derive_boot_time_text(small, sizeof small, &boot);
    EXPECT_STREQ(small, "1970-01");
}
