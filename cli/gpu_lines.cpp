#include "gpu_lines.h"

#include <cstdint>
#include <cstdio>

#include "text_fit.h"

namespace sysmon_cli {
namespace {

using nlohmann::json;

const json &adapters_of(const json &gpu) {
  static const json kEmpty = json::array();
  if (!gpu.is_object()) return kEmpty;
  auto it = gpu.find("adapters");
  return it != gpu.end() && it->is_array() ? *it : kEmpty;
}

double number(const json &a, const char *key) {
  if (!a.is_object()) return 0;
  auto it = a.find(key);
  return it != a.end() && it->is_number() ? it->get<double>() : 0.0;
}

std::string text(const json &a, const char *key) {
  if (!a.is_object()) return {};
  auto it = a.find(key);
  return it != a.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::vector<GpuLine> gpu_lines(const json &gpu) {
  std::vector<GpuLine> lines;
  const json &adapters = adapters_of(gpu);
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const json &a = adapters[i];
    const double usage = number(a, "usage_percent");
    char figures[96];
    std::snprintf(figures, sizeof figures, "%5.1f%%  %s/%s  %.0fC  %.0fW  ", usage,
                  human_bytes(number(a, "vram_used")).c_str(),
                  human_bytes(number(a, "vram_total")).c_str(), number(a, "temperature_c"),
                  number(a, "power_watts"));
    lines.push_back({"GPU" + std::to_string(i), usage / 100.0, figures + text(a, "name")});
  }
  return lines;
}

void gpu_series(Exposition &out, const json &gpu) {
  const json &adapters = adapters_of(gpu);
  const struct {
    const char *name, *key, *help;
    double scale;  // 0: a byte count, written as an integer
  } gauges[] = {
      {"sysmon_gpu_usage_ratio", "usage_percent", "GPU load (0-1); 0 where the source gives none.", 0.01},
      {"sysmon_gpu_memory_total_bytes", "vram_total", "The adapter's own memory.", 0},
      {"sysmon_gpu_memory_used_bytes", "vram_used", "The adapter's own memory in use.", 0},
      {"sysmon_gpu_temperature_celsius", "temperature_c", "GPU temperature; 0 where the source gives none.", 1},
      {"sysmon_gpu_power_watts", "power_watts", "GPU power draw; 0 where the source gives none.", 1},
  };
  for (const auto &g : gauges) {
    out.family(g.name, "gauge", g.help);
    for (std::size_t i = 0; i < adapters.size(); ++i) {
      const Labels labels = {{"gpu", std::to_string(i)}, {"name", text(adapters[i], "name")}};
      const json &a = adapters[i];
      auto it = a.is_object() ? a.find(g.key) : a.end();
      if (g.scale == 0 && a.is_object() && it != a.end() && it->is_number_unsigned())
        out.sample(labels, it->get<std::uint64_t>());
      else
        out.sample(labels, number(a, g.key) * (g.scale == 0 ? 1 : g.scale));
    }
  }
  out.family("sysmon_gpu_info", "gauge", "Each adapter's name, driver and source of figures; value 1.");
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const json &a = adapters[i];
    out.sample({{"gpu", std::to_string(i)}, {"name", text(a, "name")}, {"driver", text(a, "driver")},
                {"source", text(a, "source")}},
               std::uint64_t{1});
  }
}

}  // namespace sysmon_cli
