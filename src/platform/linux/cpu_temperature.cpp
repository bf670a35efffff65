#include "cpu_temperature.h"

#include <cstdio>
#include <cstring>

#include "dir_list.h"
#include "file_read.h"
#include "linux_sources.h"

namespace {

#define MAX_SENSOR_DIRS 64

char s_sensor_path[LINUX_PATH_SIZE];
bool s_searched = false;
uint32_t s_generation = 0;

// In hwmon directory `dir`, the input file of the first temperature whose
// label is `label`.
bool find_labelled_input(const char *dir, const char *label, char *out, size_t size) {
    // Attributes are "tempK_label", "tempK_input", ... with K from 1.
    for (int32_t k = 1; k <= MAX_SENSOR_DIRS; ++k) {
        char path[LINUX_PATH_SIZE];
        char file[32];
        std::snprintf(file, sizeof file, "temp%d_label", static_cast<int>(k));
        if (!join_path(path, sizeof path, dir, file)) continue;
        char text[64];
        if (!read_line_file(path, text, sizeof text)) continue;
        if (std::strcmp(text, label) != 0) continue;
        std::snprintf(file, sizeof file, "temp%d_input", static_cast<int>(k));
        return join_path(out, size, dir, file);
    }
    return false;
}

bool find_hwmon(const char *sys_root, char *out, size_t size) {
    char base[LINUX_PATH_SIZE];
    if (!join_path(base, sizeof base, sys_root, "class/hwmon")) return false;
    int32_t numbers[MAX_SENSOR_DIRS];
    const int32_t n = list_numbered_entries(base, "hwmon", numbers, MAX_SENSOR_DIRS);
    for (int32_t i = 0; i < n; ++i) {
        char dir[LINUX_PATH_SIZE], name_path[LINUX_PATH_SIZE], name[64];
        char entry[32];
        std::snprintf(entry, sizeof entry, "hwmon%d", static_cast<int>(numbers[i]));
        if (!join_path(dir, sizeof dir, base, entry) ||
            !join_path(name_path, sizeof name_path, dir, "name") ||
            !read_line_file(name_path, name, sizeof name))
            continue;
        if (std::strcmp(name, "coretemp") == 0 && find_labelled_input(dir, "Package id 0", out, size))
            return true;
        if (std::strcmp(name, "k10temp") == 0 &&
            (find_labelled_input(dir, "Tdie", out, size) || find_labelled_input(dir, "Tctl", out, size)))
            return true;
    }
    return false;
}

bool find_thermal_zone(const char *sys_root, char *out, size_t size) {
    char base[LINUX_PATH_SIZE];
    if (!join_path(base, sizeof base, sys_root, "class/thermal")) return false;
    int32_t numbers[MAX_SENSOR_DIRS];
    const int32_t n = list_numbered_entries(base, "thermal_zone", numbers, MAX_SENSOR_DIRS);
    char first[LINUX_PATH_SIZE] = "";
    for (int32_t i = 0; i < n; ++i) {
        char entry[48], type_path[LINUX_PATH_SIZE], temp_path[LINUX_PATH_SIZE], type[64];
        std::snprintf(entry, sizeof entry, "thermal_zone%d", static_cast<int>(numbers[i]));
        if (!join_path(temp_path, sizeof temp_path, base, entry, "temp")) continue;
        int64_t value = 0;
        if (!read_i64_file(temp_path, &value)) continue;
        if (first[0] == '\0') std::snprintf(first, sizeof first, "%s", temp_path);
        if (join_path(type_path, sizeof type_path, base, entry, "type") &&
            read_line_file(type_path, type, sizeof type) && std::strcmp(type, "x86_pkg_temp") == 0) {
            std::snprintf(out, size, "%s", temp_path);
            return true;
        }
    }
    if (first[0] == '\0') return false;
    std::snprintf(out, size, "%s", first);
    return true;
}

}  // namespace

double read_cpu_temperature(const char *sys_root) {
    if (s_generation != linux_sources_generation()) {
        s_generation = linux_sources_generation();
        s_searched = false;
        s_sensor_path[0] = '\0';
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!s_searched) {
            s_searched = true;
            s_sensor_path[0] = '\0';
            if (!find_hwmon(sys_root, s_sensor_path, sizeof s_sensor_path) &&
                !find_thermal_zone(sys_root, s_sensor_path, sizeof s_sensor_path))
                s_sensor_path[0] = '\0';
        }
        if (s_sensor_path[0] == '\0') return 0.0;
        int64_t millidegrees = 0;
        if (read_i64_file(s_sensor_path, &millidegrees))
            return static_cast<double>(millidegrees) / 1000.0;
        s_searched = false;  // the sensor went away: look again once
    }
    return 0.0;
}
