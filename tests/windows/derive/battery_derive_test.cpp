// The battery cases of the power status.
#include <gtest/gtest.h>

#include <cstring>

#include "battery_derive.h"

namespace {

sysmon_battery_info battery(uint8_t ac, uint8_t flag, uint8_t percent,
                            uint32_t seconds) {
    const battery_readings r = {1, ac, flag, percent, seconds};
    sysmon_battery_info bat;
    std::memset(&bat, 0xAB, sizeof bat);
    derive_battery(&bat, &r);
    return bat;
}

}  // namespace

TEST(DeriveBattery, FailedQuery) {
    const battery_readings r = {0, 1, 1, 50, 600};
    sysmon_battery_info bat;
    std::memset(&bat, 0xAB, sizeof bat);
    derive_battery(&bat, &r);
    EXPECT_EQ(bat.present, 0);
    EXPECT_STREQ(bat.status, "none");
    EXPECT_EQ(bat.percent, 0);
    EXPECT_EQ(bat.time_remaining_min, 0);
    EXPECT_EQ(bat.health_percent, 0);
    EXPECT_DOUBLE_EQ(bat.power_draw_watts, 0.0);
}

TEST(DeriveBattery, NoBatteryOrUndeterminable) {
    for (uint8_t flag : {uint8_t{128}, uint8_t{255}}) {
        const sysmon_battery_info bat = battery(1, flag, 100, 600);
        EXPECT_EQ(bat.present, 0) << int{flag};
        EXPECT_EQ(bat.percent, 0);
        EXPECT_STREQ(bat.status, "AC_Power");
        EXPECT_EQ(bat.time_remaining_min, 0);
        EXPECT_EQ(bat.health_percent, 0);
    }
    // Only the whole byte counts: 129 (high and no-battery bits) is a battery.
    EXPECT_EQ(battery(0, 129, 50, 600).present, 1);
}

TEST(DeriveBattery, ChargingOnMains) {
    const sysmon_battery_info bat = battery(1, 8, 57, 0xFFFFFFFFu);
    EXPECT_EQ(bat.present, 1);
    EXPECT_EQ(bat.percent, 57);
    EXPECT_STREQ(bat.status, "Charging");
    EXPECT_EQ(bat.time_remaining_min, 0);
    EXPECT_EQ(bat.health_percent, 100);
    EXPECT_DOUBLE_EQ(bat.power_draw_watts, 0.0);
}

TEST(DeriveBattery, DischargingWithEstimate) {
    sysmon_battery_info bat = battery(0, 1, 80, 5400);
    EXPECT_STREQ(bat.status, "Discharging");
    EXPECT_EQ(bat.time_remaining_min, 90);
    EXPECT_EQ(battery(0, 1, 80, 59).time_remaining_min, 0);
    EXPECT_EQ(battery(0, 1, 80, 0xFFFFFFFEu).time_remaining_min, 71582788);
    EXPECT_STREQ(battery(255, 1, 80, 59).status, "Discharging");
}

TEST(DeriveBattery, PercentBounds) {
    EXPECT_EQ(battery(0, 1, 255, 0).percent, 0);
    EXPECT_EQ(battery(0, 1, 100, 0).percent, 100);
    EXPECT_EQ(battery(0, 1, 101, 0).percent, 0);
}
