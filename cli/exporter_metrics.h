// The exporter's metrics, built from the library's documents.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace sysmon_cli {

// Processes listed by name and pid in the top-process families.
inline constexpr std::size_t kTopProcesses = 10;

// The /metrics text from a snapshot document and the full process list
// sorted by memory (largest first). Missing members count as 0.
std::string render_metrics(const nlohmann::json &snapshot,
                           const nlohmann::json &processes_by_memory);

}  // namespace sysmon_cli
