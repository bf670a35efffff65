#include "exporter_metrics.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

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

double element(const json &values, std::size_t i) {
  return i < values.size() && values[i].is_number() ? values[i].get<double>() : 0.0;
}

void processor(Exposition &out, const json &cpu) {
  out.family("sysmon_cpu_usage_ratio", "gauge",
             "Busy share of all logical processors over the sampling window (0-1).");
  out.sample(percent_ratio(number(cpu, "total_usage")));
  out.family("sysmon_cpu_core_usage_ratio", "gauge",
             "Busy share of each logical processor over the sampling window (0-1).");
  const json &cores = array(cpu, "per_core");
  for (std::size_t i = 0; i < cores.size(); ++i) {
    out.sample({{"core", std::to_string(i)}}, percent_ratio(element(cores, i)));
  }
  // The counters the loads derive from, for rate() over any range.
  out.family("sysmon_cpu_seconds_total", "counter",
             "Processor time of all logical processors together since boot, by mode.");
  if (member(cpu, "busy_seconds").is_number()) {
    out.sample({{"mode", "busy"}}, number(cpu, "busy_seconds"));
    out.sample({{"mode", "idle"}}, number(cpu, "idle_seconds"));
  }
  out.family("sysmon_cpu_core_seconds_total", "counter",
             "Processor time of each logical processor since boot, by mode.");
  const json &busy = array(cpu, "per_core_busy_seconds");
  const json &idle = array(cpu, "per_core_idle_seconds");
  for (std::size_t i = 0; i < busy.size() && i < idle.size(); ++i) {
    out.sample({{"core", std::to_string(i)}, {"mode", "busy"}}, element(busy, i));
    out.sample({{"core", std::to_string(i)}, {"mode", "idle"}}, element(idle, i));
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
  // Only where a limit is set (cgroup quota or cpuset, job object).
  if (number(cpu, "limit_cpus") > 0.0) {
    out.family("sysmon_cpu_limit_processors", "gauge",
               "Processors this process may use under its cgroup or job object.");
    out.sample(number(cpu, "limit_cpus"));
  }
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
  // Only where a limit is set (cgroup, job object).
  if (count(mem, "limit") != 0) {
    out.family("sysmon_memory_limit_bytes", "gauge",
               "Memory limit of this process's cgroup or job object.");
    out.sample(count(mem, "limit"));
    out.family("sysmon_memory_limit_used_bytes", "gauge", "Memory counted against that limit.");
    out.sample(count(mem, "limit_used"));
  }
}

// A family with one sample per entry of an array, read from one member.
struct MemberFamily {
  const char *name, *type, *key, *help;
};

template <std::size_t N, typename LabelsOf>
void member_families(Exposition &out, const MemberFamily (&families)[N], const json &entries,
                     LabelsOf labels_of) {
  for (const MemberFamily &f : families) {
    out.family(f.name, f.type, f.help);
    for (const json &e : entries) {
      // A counter the document lacks is left out rather than written as 0.
      if (std::string_view(f.type) == "counter" && !member(e, f.key).is_number()) continue;
      out.sample(labels_of(e), count(e, f.key));
    }
  }
}

void volumes(Exposition &out, const json &disks) {
  const MemberFamily families[] = {
      {"sysmon_volume_size_bytes", "gauge", "total", "Volume size."},
      {"sysmon_volume_used_bytes", "gauge", "used", "Volume space in use."},
      {"sysmon_volume_free_bytes", "gauge", "free", "Free volume space."},
      {"sysmon_volume_read_bytes_per_second", "gauge", "read_bytes_sec",
       "Volume read rate over the sampling window."},
      {"sysmon_volume_write_bytes_per_second", "gauge", "write_bytes_sec",
       "Volume write rate over the sampling window."},
      {"sysmon_volume_read_bytes_total", "counter", "total_read",
       "Bytes read from the volume's device since boot."},
      {"sysmon_volume_written_bytes_total", "counter", "total_written",
       "Bytes written to the volume's device since boot."},
  };
  member_families(out, families, disks, [](const json &d) {
    return Labels{{"device", text(d, "name")}, {"mountpoint", text(d, "mount")}, {"fstype", text(d, "fs")}};
  });
}

void interfaces(Exposition &out, const json &network) {
  const MemberFamily families[] = {
      {"sysmon_network_receive_bytes_total", "counter", "total_recv",
       "Bytes received by the interface."},
      {"sysmon_network_transmit_bytes_total", "counter", "total_sent",
       "Bytes sent by the interface."},
      {"sysmon_network_receive_bytes_per_second", "gauge", "down_bytes_sec",
       "Receive rate over the sampling window."},
      {"sysmon_network_transmit_bytes_per_second", "gauge", "up_bytes_sec",
       "Send rate over the sampling window."},
  };
  member_families(out, families, network, [](const json &n) { return Labels{{"device", text(n, "name")}}; });
}

void processes(Exposition &out, const MetricsInput &in) {
  out.family("sysmon_processes", "gauge", "Processes running.");
  out.sample(in.process_count);
  const std::string n = std::to_string(in.top_processes);
  out.family("sysmon_top_process_cpu_ratio", "gauge",
             "Processor share of the " + n +
                 " busiest processes over the sampling window "
                 "(1 = one logical processor; more for a process busy on several).");
  for (std::size_t i = 0; i < in.busiest.size() && i < in.top_processes; ++i) {
    const json &p = in.busiest[i];
    out.sample({{"pid", std::to_string(count(p, "pid"))}, {"name", text(p, "name")}},
               percent_ratio(number(p, "cpu_percent")));
  }
  out.family("sysmon_top_process_resident_memory_bytes", "gauge",
             "Resident memory of the " + n + " largest processes.");
  for (std::size_t i = 0; i < in.largest.size() && i < in.top_processes; ++i) {
    const json &p = in.largest[i];
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
  out.sample(percent_ratio(number(bat, "percent")));
  out.family("sysmon_battery_health_ratio", "gauge",
             "Full capacity against design capacity (0-1).");
  out.sample(percent_ratio(number(bat, "health_percent")));
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

double percent_ratio(double percent) {
  // Fifteen significant digits hold every two-decimal percent exactly and
  // drop the binary noise of the division.
  char text[64];
  auto written = std::to_chars(text, text + sizeof text, percent / 100.0,
                               std::chars_format::general, 15);
  double ratio = 0;
  std::from_chars(text, written.ptr, ratio);
  return ratio;
}

std::string render_metrics(const MetricsInput &in) {
  Exposition out;
  const json &snapshot = in.snapshot;
  processor(out, member(snapshot, "cpu"));
  memory(out, member(snapshot, "memory"));
  volumes(out, array(snapshot, "disks"));
  interfaces(out, array(snapshot, "network"));
  processes(out, in);
  system(out, member(snapshot, "system"));
  battery(out, member(snapshot, "battery"));
  gpu_series(out, member(snapshot, "gpu"));
  out.family("sysmon_scrape_duration_seconds", "gauge",
             "Time the readings of the sample served took (one sampling per --interval; "
             "a scrape only reads the latest sample).");
  out.sample(in.sampling_seconds);
  return out.text();
}

}  // namespace sysmon_cli
