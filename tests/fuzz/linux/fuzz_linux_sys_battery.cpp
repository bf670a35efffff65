// Fuzz target: the /sys attribute files of a power supply (one number or
// one line each), read by the file readers from files whose bytes come from
// the input, and the battery record derived from them as the battery
// collector does. The record keeps its documented ranges: status one of the
// three words, percent and health within 0..100, time remaining not
// negative, power finite and not negative.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "battery_derive.h"
#include "file_read.h"
#include "fuzz_checks.h"

namespace {

std::string s_dir;

// Writes the next attribute file from the input and returns its path.
std::string attribute(FuzzedDataProvider &in, const char *name) {
    const std::string path = s_dir + "/" + name;
    const std::string bytes = in.ConsumeRandomLengthString(300);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FUZZ_CHECK(fd >= 0, "cannot write " + path);
    FUZZ_CHECK(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "short write");
    close(fd);
    return path;
}

int32_t read_number(FuzzedDataProvider &in, const char *name, int64_t *value) {
    const std::string path = attribute(in, name);
    uint64_t unsigned_value = 0;
    read_u64_file(path.c_str(), &unsigned_value);  // the same text as an unsigned number
    return read_i64_file(path.c_str(), value) ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (s_dir.empty()) {
        char templ[] = "/tmp/sysmon-fuzz-sys-XXXXXX";
        FUZZ_CHECK(mkdtemp(templ) != nullptr, "no temporary directory");
        s_dir = templ;
    }
    FuzzedDataProvider in(data, size);
    power_supplies_reading r{};
    r.has_battery = in.ConsumeBool();
    r.mains_listed = in.ConsumeBool();
    r.mains_online = in.ConsumeBool();
    battery_supply_reading &b = r.battery;
    b.has_capacity = read_number(in, "capacity", &b.capacity);
    const std::string status_path = attribute(in, "status");
    const size_t status_size = in.ConsumeBool() ? sizeof b.status : in.ConsumeIntegralInRange<size_t>(1, sizeof b.status);
    read_line_file(status_path.c_str(), b.status, status_size);
    FUZZ_CHECK(std::memchr(b.status, '\0', status_size) != nullptr, "status line not terminated");
    b.has_energy_now = read_number(in, "energy_now", &b.energy_now);
    b.has_power_now = read_number(in, "power_now", &b.power_now);
    b.has_charge_now = read_number(in, "charge_now", &b.charge_now);
    b.has_current_now = read_number(in, "current_now", &b.current_now);
    b.has_voltage_now = read_number(in, "voltage_now", &b.voltage_now);
    b.has_energy_full = read_number(in, "energy_full", &b.energy_full);
    b.has_energy_full_design = read_number(in, "energy_full_design", &b.energy_full_design);
    b.has_charge_full = read_number(in, "charge_full", &b.charge_full);
    b.has_charge_full_design = read_number(in, "charge_full_design", &b.charge_full_design);

    sysmon_battery_info bat;
    derive_linux_battery(&bat, &r);
    check_text_field(bat.status, "status");
    const std::string status = bat.status;
    FUZZ_CHECK(status == "Charging" || status == "Discharging" || status == "AC_Power", status);
    FUZZ_CHECK(bat.percent >= 0 && bat.percent <= 100, "percent " + std::to_string(bat.percent));
    FUZZ_CHECK(bat.health_percent >= 0 && bat.health_percent <= 100, "health " + std::to_string(bat.health_percent));
    FUZZ_CHECK(bat.time_remaining_min >= 0, "time remaining " + std::to_string(bat.time_remaining_min));
    FUZZ_CHECK(std::isfinite(bat.power_draw_watts) && bat.power_draw_watts >= 0, std::to_string(bat.power_draw_watts));
    return 0;
}
