// Battery collector: the supplies of /sys/class/power_supply.
#include <cstdio>
#include <cstring>

#include "battery_derive.h"
#include "dir_list.h"
#include "file_read.h"
#include "linux_sources.h"
#include "sysmon_internal.h"

namespace {

#define MAX_SUPPLIES 64

bool read_attr_i64(const char *dir, const char *attr, int64_t *value) {
    char path[LINUX_PATH_SIZE];
    return join_path(path, sizeof path, dir, attr) && read_i64_file(path, value);
}

void read_battery(const char *dir, battery_supply_reading *b) {
    std::memset(b, 0, sizeof *b);
    b->has_capacity = read_attr_i64(dir, "capacity", &b->capacity);
    char path[LINUX_PATH_SIZE];
    if (join_path(path, sizeof path, dir, "status")) read_line_file(path, b->status, sizeof b->status);
    b->has_energy_now = read_attr_i64(dir, "energy_now", &b->energy_now);
    b->has_power_now = read_attr_i64(dir, "power_now", &b->power_now);
    b->has_charge_now = read_attr_i64(dir, "charge_now", &b->charge_now);
    b->has_current_now = read_attr_i64(dir, "current_now", &b->current_now);
    b->has_voltage_now = read_attr_i64(dir, "voltage_now", &b->voltage_now);
    b->has_energy_full = read_attr_i64(dir, "energy_full", &b->energy_full);
    b->has_energy_full_design = read_attr_i64(dir, "energy_full_design", &b->energy_full_design);
    b->has_charge_full = read_attr_i64(dir, "charge_full", &b->charge_full);
    b->has_charge_full_design = read_attr_i64(dir, "charge_full_design", &b->charge_full_design);
}

}  // namespace

int32_t sysmon_collect_battery(sysmon_battery_info *bat) {
    if (bat == nullptr) return -1;
    const linux_sources &src = linux_sources_current();
    char base[LINUX_PATH_SIZE];
    static char names[MAX_SUPPLIES][DIR_ENTRY_NAME_SIZE];
    static power_supplies_reading reading;
    std::memset(&reading, 0, sizeof reading);
    const int32_t n = join_path(base, sizeof base, src.sys_root, "class/power_supply")
                          ? list_entry_names(base, names, MAX_SUPPLIES) : 0;
    for (int32_t i = 0; i < n; ++i) {
        char dir[LINUX_PATH_SIZE], path[LINUX_PATH_SIZE], type[32];
        if (!join_path(dir, sizeof dir, base, names[i]) || !join_path(path, sizeof path, dir, "type") ||
            !read_line_file(path, type, sizeof type))
            continue;
        if (std::strcmp(type, "Battery") == 0) {
            if (reading.has_battery) continue;
            reading.has_battery = 1;
            read_battery(dir, &reading.battery);
        } else if (std::strcmp(type, "Mains") == 0) {
            reading.mains_listed = 1;
            int64_t online = 0;
            if (read_attr_i64(dir, "online", &online) && online == 1) reading.mains_online = 1;
        }
    }
    derive_linux_battery(bat, &reading);
    return 0;
}
