#include "battery_derive.h"

#include <cstring>

#include "text_fields.h"

void derive_battery(sysmon_battery_info *bat, const battery_readings *readings) {
    std::memset(bat, 0, sizeof *bat);
    text_field_set(bat->status, "none");
    if (!readings->has_status) return;

    // The whole byte is compared: these two values mean no battery to
    // report, whatever other flag bits they share.
    if (readings->battery_flag == SYSMON_BATTERY_FLAG_NO_BATTERY ||
        readings->battery_flag == SYSMON_BATTERY_FLAG_UNKNOWN) {
        text_field_set(bat->status, "AC_Power");
        return;
    }

    bat->present = 1;
    bat->percent = readings->battery_life_percent <= 100
                       ? readings->battery_life_percent
                       : 0;
    // The status follows the mains state alone.
    text_field_set(bat->status, readings->ac_line_status == SYSMON_BATTERY_AC_ONLINE
                                    ? "Charging"
                                    : "Discharging");
    if (readings->battery_life_time != SYSMON_BATTERY_LIFE_TIME_UNKNOWN)
        bat->time_remaining_min =
            static_cast<int32_t>(readings->battery_life_time / 60);
    bat->health_percent = 100;
}
