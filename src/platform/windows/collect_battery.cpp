// Battery collector: one power-status query, turned into the battery record
// by derive_battery.
#include "windows_api.h"

#include "battery_derive.h"
#include "sysmon_internal.h"

int32_t sysmon_collect_battery(sysmon_battery_info *bat) {
    if (bat == nullptr) return -1;
    battery_readings readings = {};
    SYSTEM_POWER_STATUS status = {};
    if (GetSystemPowerStatus(&status)) {
        readings.has_status = 1;
        readings.ac_line_status = status.ACLineStatus;
        readings.battery_flag = status.BatteryFlag;
        readings.battery_life_percent = status.BatteryLifePercent;
        readings.battery_life_time = status.BatteryLifeTime;
    }
    derive_battery(bat, &readings);
    return 0;
}
