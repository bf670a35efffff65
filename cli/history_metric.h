// Names of the history figures: "cpu", "memory", "net-down", ... and their
// library metric numbers, plus "cpu-cores" for the per-processor histories.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sysmon_cli {

// The metric number of sysmon_history, or kCoreHistory for the histories of
// every logical processor.
inline constexpr int kCoreHistory = -1;

// Accepts a name ("net-down", also "net_down") or a metric number ("2").
std::optional<int> parse_history_metric(std::string_view text);

// The names accepted, in metric order, for help texts and errors.
std::vector<std::string> history_metric_names();

}  // namespace sysmon_cli
