// The exporter's metrics, built from the library's documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace sysmon_cli {

// Processes listed by name and pid in the top-process families, by default
// (--top-processes).
inline constexpr std::size_t kTopProcesses = 10;

// What one sample gives the exporter.
struct MetricsInput {
  const nlohmann::json &snapshot;
  const nlohmann::json &busiest;  // processes, busiest first (at least top_processes)
  const nlohmann::json &largest;  // processes, largest resident memory first
  std::uint64_t process_count = 0;
  std::size_t top_processes = kTopProcesses;  // 0: no per-process series
  double sampling_seconds = 0;                // how long the sample's readings took
};

// The /metrics text. Missing members count as 0.
std::string render_metrics(const MetricsInput &input);

// percent / 100 as the decimal it stands for: the documents write percents
// with two decimals, and 0.99 / 100 in binary is 0.009899999999999999, not
// the double nearest 0.0099.
double percent_ratio(double percent);

}  // namespace sysmon_cli
