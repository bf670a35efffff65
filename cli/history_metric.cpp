#include "history_metric.h"

#include <array>

#include <vantorel/sysmon.h>

namespace sysmon_cli {
namespace {

struct MetricName {
  const char *name;
  int metric;
};

constexpr std::array<MetricName, 9> kMetrics{{
    {"cpu", SYSMON_METRIC_CPU},
    {"memory", SYSMON_METRIC_MEMORY},
    {"net-down", SYSMON_METRIC_NET_DOWN},
    {"net-up", SYSMON_METRIC_NET_UP},
    {"disk-read", SYSMON_METRIC_DISK_READ},
    {"disk-write", SYSMON_METRIC_DISK_WRITE},
    {"gpu", SYSMON_METRIC_GPU},
    {"cpu-temperature", SYSMON_METRIC_CPU_TEMPERATURE},
    {"cpu-cores", kCoreHistory},
}};

}  // namespace

std::optional<int> parse_history_metric(std::string_view text) {
  std::string normal(text);
  for (char &c : normal) {
    if (c == '_') c = '-';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const MetricName &m : kMetrics) {
    if (normal == m.name) return m.metric;
  }
  if (normal.size() == 1 && normal[0] >= '0' && normal[0] <= '7') return normal[0] - '0';
  return std::nullopt;
}

std::vector<std::string> history_metric_names() {
  std::vector<std::string> names;
  for (const MetricName &m : kMetrics) names.emplace_back(m.name);
  return names;
}

}  // namespace sysmon_cli
