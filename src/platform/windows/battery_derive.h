// Battery derivation of the Windows collector: the battery record from the
// system's power status.
//
// Called with the global lock held, like the collector that uses it.
#ifndef VANTOREL_WINDOWS_BATTERY_DERIVE_H
#define VANTOREL_WINDOWS_BATTERY_DERIVE_H

#include <cstdint>

#include "sysmon_internal.h"

#define SYSMON_BATTERY_FLAG_NO_BATTERY 128
#define SYSMON_BATTERY_FLAG_UNKNOWN 255
#define SYSMON_BATTERY_LIFE_TIME_UNKNOWN 0xFFFFFFFFu
#define SYSMON_BATTERY_AC_ONLINE 1

struct battery_readings {
    int32_t has_status;  // 1 when the power status was read
    uint8_t ac_line_status;
    uint8_t battery_flag;
    uint8_t battery_life_percent;
    uint32_t battery_life_time;  // seconds
};

void derive_battery(sysmon_battery_info *bat, const battery_readings *readings);

#endif  // VANTOREL_WINDOWS_BATTERY_DERIVE_H
