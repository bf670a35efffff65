// JSON numbers: the same digits as printf in the C locale for every value,
// whatever locale the host has set, and never a text JSON cannot hold.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "library_fixture.h"
#include "strbuf.h"

namespace {

// A locale whose decimal separator is a comma, as on German desktops.
#ifdef _WIN32
constexpr const char *kCommaLocale = "German";
#else
constexpr const char *kCommaLocale = "de_DE.UTF-8";
#endif

std::string fixed(double value, int decimals) {
    strbuf sb{};
    strbuf_init(&sb, 8);
    strbuf_append_fixed(&sb, value, decimals);
    std::string out = sb.data;
    strbuf_free(&sb);
    return out;
}

std::string c_printf(const char *fmt, double value) {
    char text[400];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

TEST(NumberFormat, FixedMatchesCLocalePrintfEverywhere) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-12, 25);
    std::vector<double> values = {0.0, -0.0, 0.005, 0.015, 0.125, -0.004, 99.995, 100.0,
                                  1e300, -1e300, std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::denorm_min(), 2.675, 1.05};
    for (int i = 0; i < 20000; ++i) values.push_back(unit(random) * std::pow(10.0, exponent(random)));
    for (double v : values) {
        ASSERT_EQ(fixed(v, 2), c_printf("%.2f", v)) << v;
        ASSERT_EQ(fixed(v, 1), c_printf("%.1f", v)) << v;
    }
}

TEST(NumberFormat, IntegersMatchPrintf) {
    strbuf sb{};
    strbuf_init(&sb, 4);
    strbuf_append_int(&sb, INT32_MIN);
    strbuf_append_lit(&sb, " ");
    strbuf_append_uint(&sb, UINT64_MAX);
    strbuf_append_lit(&sb, " ");
    strbuf_append_int(&sb, 0);
    EXPECT_STREQ(sb.data, "-2147483648 18446744073709551615 0");
    strbuf_free(&sb);
}

TEST(NumberFormat, NonFiniteValuesBecomeZero) {
    EXPECT_EQ(fixed(std::nan(""), 2), "0.00");
    EXPECT_EQ(fixed(-std::numeric_limits<double>::infinity(), 1), "0.0");
    EXPECT_EQ(fixed(std::numeric_limits<double>::infinity(), 2), "0.00");
}

// The host switches to a decimal-comma locale; every document keeps '.'.
class CommaLocaleTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_NE(std::setlocale(LC_ALL, kCommaLocale), nullptr)
            << kCommaLocale << " is not installed (Debian: enable it in /etc/locale.gen, run locale-gen)";
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        LibraryTest::TearDown();
    }
};

TEST_F(CommaLocaleTest, DocumentsKeepTheDecimalPoint) {
    g_fake.cpu.total_usage = 100.0;
    g_fake.cpu.frequency_mhz = 2400.5;
    g_fake.cores.resize(2);
    g_fake.cores[0].usage = 5.5;
    g_fake.cores[1].usage = std::nan("");
    g_fake.cpu.temperature_c = 41.25;
    g_fake.cpu.busy_seconds = 12.5;
    g_fake.bat.power_draw_watts = 7.5;
    g_fake.procs = {fake_process(10, 0, "a", 12.345, 1000)};
    g_fake.procs[0].memory_percent = 0.5;

    EXPECT_EQ(text(sysmon_cpu()),
              "{\"name\":\"\",\"cores\":0,\"threads\":0,\"total_usage\":2.75,"
              "\"frequency_mhz\":2400.5,\"per_core\":[5.50,0.00],\"temperature_c\":41.2,"
              "\"busy_seconds\":12.50,\"idle_seconds\":0.00,\"per_core_busy_seconds\":[0.00,0.00],"
              "\"per_core_idle_seconds\":[0.00,0.00],\"limit_cpus\":0.00}");
    EXPECT_NE(text(sysmon_battery()).find("\"power_draw_watts\":7.50"), std::string::npos);
    EXPECT_NE(text(sysmon_processes(0, 0)).find("\"cpu_percent\":12.35,\"memory_bytes\":1000,"
                                                "\"memory_percent\":0.50"),
              std::string::npos);
    sysmon_snapshot();
    EXPECT_EQ(text(sysmon_history(0, 3)), "[2.75]");
    EXPECT_EQ(text(sysmon_cpu_core_history(1)), "[[5.50],[0.00]]");
    const nlohmann::json snapshot = nlohmann::json::parse(sysmon_snapshot());
    EXPECT_DOUBLE_EQ(snapshot["cpu"]["frequency_mhz"].get<double>(), 2400.5);
}

}  // namespace
