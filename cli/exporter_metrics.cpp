#include "exporter_metrics.h"

#include <cstdint>
#include <string>

#include "exposition.h"
#include "gpu_lines.h"

namespace sysmon_cli {
namespace {

using nlohmann::json;

const json &member(const json &object, const char *key) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

double number(const json &object, const char *key) {
  const json &v = member(object, key);
  return v.is_number() ? v.get<double>() : 0.0;
}

std::uint64_t count(const json &object, const char *key) {
  const json &v = member(object, key);
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer()) return v.get<std::int64_t>() < 0 ? 0 : v.get<std::uint64_t>();
  if (v.is_number_float()) return v.get<double>() < 0 ? 0 : static_cast<std::uint64_t>(v.get<double>());
  return 0;
}

std::string text(const json &object, const char *key) {
  const json &v = member(object, key);
  return v.is_string() ? v.get<std::string>() : std::string();
}

const json &array(const json &object, const char *key) {
  static const json kEmpty = json::array();
  const json &v = member(object, key);
  return v.is_array() ? v : kEmpty;
}

void processor(Exposition &out, const json &cpu) {
  out.family("sysmon_cpu_usage_ratio", "gauge",
             "Busy share of all logical processors over the last window (0-1).");
  out.sample(number(cpu, "total_usage") / 100.0);
  out.family("sysmon_cpu_core_usage_ratio", "gauge",
             "Busy share of each logical processor over the last window (0-1).");
  const json &cores = array(cpu, "per_core");
  for (std::size_t i = 0; i < cores.size(); ++i) {
    const double load = cores[i].is_number() ? cores[i].get<double>() : 0.0;
    out.sample({{"core", std::to_string(i)}}, load / 100.0);
  }
  out.family("sysmon_cpu_logical_processors", "gauge", "Logical processors.");
  out.sample(count(cpu, "threads"));
  out.family("sysmon_cpu_physical_cores", "gauge", "Physical processor cores.");
  out.sample(count(cpu, "cores"));
  out.family("sysmon_cpu_frequency_hertz", "gauge", "Processor frequency; 0 when unknown.");
  out.sample(number(cpu, "frequency_mhz") * 1e6);
  out.family("sysmon_cpu_temperature_celsius", "gauge",
             "Processor package temperature; 0 when unknown.");
  out.sample(number(cpu, "temperature_c"));
}

void memory(Exposition &out, const json &mem) {
  const struct {
    const char *name, *key, *help;
  } gauges[] = {
      {"sysmon_memory_total_bytes", "total", "Physical memory."},
      {"sysmon_memory_used_bytes", "used", "Physical memory in use (total - available)."},
      {"sysmon_memory_available_bytes", "available", "Memory available without swapping."},
      {"sysmon_memory_cached_bytes", "cached", "File cache."},
      {"sysmon_swap_total_bytes", "swap_total", "Swap size."},
      {"sysmon_swap_used_bytes", "swap_used", "Swap in use."},
  };
  for (const auto &g : gauges) {
    out.family(g.name, "gauge", g.help);
    out.sample(count(mem, g.key));
  }
}

void volumes(Exposition &out, const json &disks) {
  const struct {
    const char *name, *key, *help;
  } gauges[] = {
      {"sysmon_volume_size_bytes", "total", "Volume size."},
      {"sysmon_volume_used_bytes", "used", "Volume space in use."},
      {"sysmon_volume_free_bytes", "free", "Free volume space."},
      {"sysmon_volume_read_bytes_per_second", "read_bytes_sec",
       "Volume read rate over the last window."},
      {"sysmon_volume_write_bytes_per_second", "write_bytes_sec",
       "Volume write rate over the last window."},
  };
  for (const auto &g : gauges) {
    out.family(g.name, "gauge", g.help);
    for (const json &d : disks) {
      out.sample({{"device", text(d, "name")},
                  {"mountpoint", text(d, "mount")},
                  {"fstype", text(d, "fs")}},
                 count(d, g.key));
    }
  }
}

void interfaces(Exposition &out, const json &network) {
  const struct {
    const char *name, *type, *key, *help;
  } families[] = {
      {"sysmon_network_receive_bytes_total", "counter", "total_recv",
       "Bytes received by the interface."},
      {"sysmon_network_transmit_bytes_total", "counter", "total_sent",
       "Bytes sent by the interface."},
      {"sysmon_network_receive_bytes_per_second", "gauge", "down_bytes_sec",
       "Receive rate over the last window."},
      {"sysmon_network_transmit_bytes_per_second", "gauge", "up_bytes_sec",
       "Send rate over the last window."},
  };
  for (const auto &f : families) {
    out.family(f.name, f.type, f.help);
    for (const json &n : network) out.sample({{"device", text(n, "name")}}, count(n, f.key));
  }
}

void processes(Exposition &out, const json &busiest, const json &by_memory) {
  out.family("sysmon_processes", "gauge", "Processes running.");
  out.sample(static_cast<std::uint64_t>(by_memory.size()));

  out.family("sysmon_top_process_cpu_ratio", "gauge",
             "Processor share of the 10 busiest processes over the last window "
             "(1 = one logical processor).");
  for (std::size_t i = 0; i < busiest.size() && i < kTopProcesses; ++i) {
    const json &p = busiest[i];
    out.sample({{"pid", std::to_string(count(p, "pid"))}, {"name", text(p, "name")}},
               number(p, "cpu_percent") / 100.0);
  }
  out.family("sysmon_top_process_resident_memory_bytes", "gauge",
             "Resident memory of the 10 largest processes.");
  for (std::size_t i = 0; i < by_memory.size() && i < kTopProcesses; ++i) {
    const json &p = by_memory[i];
    out.sample({{"pid", std::to_string(count(p, "pid"))}, {"name", text(p, "name")}},
               count(p, "memory_bytes"));
  }
}

void system(Exposition &out, const json &sys) {
  out.family("sysmon_uptime_seconds", "gauge", "Time since boot.");
  out.sample(count(sys, "uptime_seconds"));
  out.family("sysmon_system_info", "gauge", "Host facts as labels; the value is always 1.");
  out.sample({{"hostname", text(sys, "hostname")},
              {"os", text(sys, "os")},
              {"kernel", text(sys, "kernel")},
              {"arch", text(sys, "cpu_arch")}},
             std::uint64_t{1});
}

void battery(Exposition &out, const json &bat) {
  const json &present = member(bat, "present");
  out.family("sysmon_battery_present", "gauge", "1 when a battery is present.");
  out.sample(std::uint64_t{present.is_boolean() && present.get<bool>() ? 1u : 0u});
  out.family("sysmon_battery_charge_ratio", "gauge", "Battery charge (0-1).");
  out.sample(number(bat, "percent") / 100.0);
  out.family("sysmon_battery_health_ratio", "gauge",
             "Full capacity against design capacity (0-1).");
  out.sample(number(bat, "health_percent") / 100.0);
  out.family("sysmon_battery_time_remaining_seconds", "gauge",
             "Estimated battery time left; 0 when unknown.");
  out.sample(count(bat, "time_remaining_min") * 60);
  out.family("sysmon_battery_power_watts", "gauge", "Power drawn from the battery.");
  out.sample(number(bat, "power_draw_watts"));
  out.family("sysmon_battery_status", "gauge",
             "Power status as a label (none, AC_Power, Charging, Discharging); value 1.");
  out.sample({{"status", text(bat, "status")}}, std::uint64_t{1});
}

}  // namespace

std::string render_metrics(const json &snapshot, const json &processes_by_memory) {
  Exposition out;
  processor(out, member(snapshot, "cpu"));
  memory(out, member(snapshot, "memory"));
  volumes(out, array(snapshot, "disks"));
  interfaces(out, array(snapshot, "network"));
  processes(out, array(snapshot, "processes"),
            processes_by_memory.is_array() ? processes_by_memory : json::array());
  system(out, member(snapshot, "system"));
  battery(out, member(snapshot, "battery"));
  gpu_series(out, member(snapshot, "gpu"));
  return out.text();
}

}  // namespace sysmon_cli
