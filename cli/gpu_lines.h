// The GPU adapters of a "gpu" document as the command shows them: one line
// per adapter in `top`, one series per adapter in the exporter.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "exposition.h"

namespace sysmon_cli {

struct GpuLine {
  std::string label;  // "GPU0"
  double share = 0;   // usage, 0..1
  std::string text;   // "37.0%  1.0G/16.0G  54C  45W  AMD Radeon RX 6800"
};

// One line per adapter of the document; none when it lists no adapter.
std::vector<GpuLine> gpu_lines(const nlohmann::json &gpu);

// sysmon_gpu_{usage_ratio,memory_total_bytes,memory_used_bytes,
// temperature_celsius,power_watts}{gpu,name} and sysmon_gpu_info{gpu,name,
// driver,source} for every adapter (`gpu` is its index in the document).
void gpu_series(Exposition &out, const nlohmann::json &gpu);

}  // namespace sysmon_cli
