// What the terminal view shows: the latest figures and the view's settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "process_rows.h"

namespace sysmon_cli {

struct TopState {
  // Figures of the latest refresh.
  nlohmann::json snapshot;
  std::vector<double> cpu_history, net_down_history, net_up_history, disk_read_history,
      disk_write_history;
  std::vector<ProcessRow> rows;

  // Settings changed by keys.
  int sort = 0;  // SYSMON_SORT_*
  bool tree = false;
  std::string filter;
  std::int64_t selected_pid = 0;  // follows its process across refreshes
  std::size_t selected = 0;       // row index
  std::size_t first_row = 0;      // first row shown
  std::string message;            // shown on the bottom line until the next key
  bool unicode = true;
};

// Draws the whole screen from `state` (adjusting selection and scrolling to
// the terminal's size).
void draw_top(TopState &state);

// Shows `prompt` on the bottom line.
void draw_prompt(const std::string &prompt);

}  // namespace sysmon_cli
