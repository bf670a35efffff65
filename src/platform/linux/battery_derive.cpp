#include "battery_derive.h"

#include <cstring>

#include "text_fields.h"

namespace {

int32_t clamp_int(double value, int32_t lo, int32_t hi) {
    if (!(value > lo)) return lo;
    if (value > hi) return hi;
    return static_cast<int32_t>(value);
}

// The size of a signed reading as a double: a current may be reported
// negative, and the most negative value has no int64 opposite.
double magnitude(int64_t value) {
    return value < 0 ? -static_cast<double>(value) : static_cast<double>(value);
}

}  // namespace

void derive_linux_battery(sysmon_battery_info *bat, const power_supplies_reading *r) {
    std::memset(bat, 0, sizeof *bat);
    if (r == nullptr || !r->has_battery) {
        text_field_set(bat->status, "AC_Power");
        return;
    }
    const battery_supply_reading &b = r->battery;
    bat->present = 1;
    if (b.has_capacity) bat->percent = clamp_int(static_cast<double>(b.capacity), 0, 100);

    bool charging;
    if (r->mains_listed) charging = r->mains_online != 0;
    else charging = std::strcmp(b.status, "Discharging") != 0;
    text_field_set(bat->status, charging ? "Charging" : "Discharging");

    // Power in watts: power_now, or current x voltage.
    double watts = 0.0;
    if (b.has_power_now && b.power_now > 0) {
        watts = static_cast<double>(b.power_now) / 1e6;
    } else if (b.has_current_now && b.has_voltage_now && b.current_now != 0 && b.voltage_now > 0) {
        const double amps = magnitude(b.current_now);
        watts = amps * static_cast<double>(b.voltage_now) / 1e12;
    }
    bat->power_draw_watts = watts;

    if (!charging) {
        double hours = 0.0;
        if (b.has_energy_now && b.has_power_now && b.power_now > 0 && b.energy_now > 0)
            hours = static_cast<double>(b.energy_now) / static_cast<double>(b.power_now);
        else if (b.has_charge_now && b.has_current_now && b.current_now != 0 && b.charge_now > 0)
            hours = static_cast<double>(b.charge_now) /
                    magnitude(b.current_now);
        bat->time_remaining_min = clamp_int(hours * 60.0, 0, INT32_MAX);
    }

    double health = -1.0;
    if (b.has_energy_full && b.has_energy_full_design && b.energy_full_design > 0 && b.energy_full >= 0)
        health = static_cast<double>(b.energy_full) * 100.0 / static_cast<double>(b.energy_full_design);
    else if (b.has_charge_full && b.has_charge_full_design && b.charge_full_design > 0 &&
             b.charge_full >= 0)
        health = static_cast<double>(b.charge_full) * 100.0 / static_cast<double>(b.charge_full_design);
    bat->health_percent = health < 0.0 ? 100 : clamp_int(health, 0, 100);
}
