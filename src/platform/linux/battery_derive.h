// The battery record from the readings of /sys/class/power_supply.
#ifndef VANTOREL_LINUX_BATTERY_DERIVE_H
#define VANTOREL_LINUX_BATTERY_DERIVE_H

#include <cstdint>

#include "sysmon_internal.h"

// The attributes of one battery supply; a has_* flag is 1 when the file was
// read. Energies in µWh, powers in µW, charges in µAh, currents in µA,
// voltages in µV, as the kernel reports them.
struct battery_supply_reading {
    int32_t has_capacity;
    int64_t capacity;  // percent
    char status[32];   // "Charging", "Discharging", "Full", ... ("" unread)
    int32_t has_energy_now, has_power_now, has_charge_now, has_current_now, has_voltage_now;
    int64_t energy_now, power_now, charge_now, current_now, voltage_now;
    int32_t has_energy_full, has_energy_full_design, has_charge_full, has_charge_full_design;
    int64_t energy_full, energy_full_design, charge_full, charge_full_design;
};

struct power_supplies_reading {
    int32_t has_battery;               // a supply of type Battery was found
    battery_supply_reading battery;    // the first one
    int32_t mains_listed;              // a supply of type Mains exists
    int32_t mains_online;              // one of them reports online 1
};

void derive_linux_battery(sysmon_battery_info *bat, const power_supplies_reading *r);

#endif  // VANTOREL_LINUX_BATTERY_DERIVE_H
