#include <curses.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include <vantorel/sysmon.h>

#include "gpu_lines.h"
#include "text_fit.h"
#include "top_state.h"

namespace sysmon_cli {
namespace {

using nlohmann::json;

enum Pair : short { kBar = 1, kHeader, kSelected, kSpark };

void put(int y, int x, const std::string &text, attr_t attr = A_NORMAL) {
  if (y < 0 || y >= LINES || x >= COLS) return;
  attron(attr);
  mvaddstr(y, x, fit(text, static_cast<std::size_t>(COLS - x)).c_str());
  attroff(attr);
}

double num(const json &object, const char *key) {
  if (!object.is_object()) return 0;
  auto it = object.find(key);
  return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

const json &member(const json &object, const char *key) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

std::string str(const json &object, const char *key) {
  const json &v = member(object, key);
  return v.is_string() ? v.get<std::string>() : std::string();
}

// "label [|||||     ] text" over `width` columns; share is 0..1.
void bar(int y, int x, int width, const std::string &label, double share, const std::string &text) {
  const int inner = width - static_cast<int>(label.size()) - 3 - static_cast<int>(text.size()) - 1;
  put(y, x, label + " [");
  if (inner > 0) {
    const int filled = std::clamp(static_cast<int>(share * inner + 0.5), 0, inner);
    attr_t bar_attr = has_colors() ? COLOR_PAIR(kBar) : A_BOLD;
    put(y, x + static_cast<int>(label.size()) + 2, std::string(static_cast<std::size_t>(filled), '|'), bar_attr);
    put(y, x + static_cast<int>(label.size()) + 2 + filled,
        std::string(static_cast<std::size_t>(inner - filled), ' ') + "] " + text);
  } else {
    put(y, x + static_cast<int>(label.size()) + 2, "] " + text);
  }
}

std::string percent(double value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%5.1f%%", value);
  return buf;
}

std::string uptime_text(double seconds) {
  const long s = static_cast<long>(seconds);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%ldd %02ld:%02ld", s / 86400, s / 3600 % 24, s / 60 % 60);
  return buf;
}

const char *sort_name(int sort) {
  switch (sort) {
    case SYSMON_SORT_MEMORY: return "memory";
    case SYSMON_SORT_PID: return "pid";
    case SYSMON_SORT_NAME: return "name";
    default: return "cpu";
  }
}

int draw_cpu(int y, const json &cpu) {
  const json &cores = member(cpu, "per_core");
  const std::size_t n = cores.is_array() ? cores.size() : 0;
  const int column_width = 34;
  const int columns = std::max(1, COLS / column_width);
  // At most a third of the screen for the processor bars.
  const int max_rows = std::max(1, LINES / 3);
  const int rows = std::min(max_rows, static_cast<int>((n + columns - 1) / columns));
  const int width = COLS / columns;
  for (std::size_t i = 0; i < n; ++i) {
    const int row = static_cast<int>(i) % std::max(rows, 1);
    const int col = static_cast<int>(i) / std::max(rows, 1);
    if (col >= columns) break;
    const double load = cores[i].is_number() ? cores[i].get<double>() : 0.0;
    char label[24];
    std::snprintf(label, sizeof label, "%3zu", i);
    bar(y + row, col * width, width - 1, label, load / 100.0, percent(load));
  }
  return y + std::max(rows, 0);
}

}  // namespace

void draw_prompt(const std::string &prompt) {
  move(LINES - 1, 0);
  clrtoeol();
  put(LINES - 1, 0, prompt, A_BOLD);
  refresh();
}

void draw_top(TopState &state) {
  static bool colors_ready = false;
  if (!colors_ready && has_colors()) {
    start_color();
    use_default_colors();
    init_pair(kBar, COLOR_GREEN, -1);
    init_pair(kHeader, COLOR_BLACK, COLOR_CYAN);
    init_pair(kSelected, COLOR_BLACK, COLOR_YELLOW);
    init_pair(kSpark, COLOR_CYAN, -1);
    colors_ready = true;
  }
  erase();
  const json &snap = state.snapshot;
  const json &cpu = member(snap, "cpu");
  const json &mem = member(snap, "memory");
  const json &sys = member(snap, "system");
  const attr_t spark_attr = has_colors() ? COLOR_PAIR(kSpark) : A_NORMAL;

  int y = 0;
  {
    std::string head = "sysmon top - " + str(sys, "hostname") + " - up " +
                       uptime_text(num(sys, "uptime_seconds")) + " - " +
                       std::to_string(static_cast<int>(num(cpu, "threads"))) + " CPUs";
    // The process's own limits (cgroup, job object), where set.
    head += limits_text(num(cpu, "limit_cpus"), num(mem, "limit"), num(mem, "limit_used"));
    put(y++, 0, head, A_BOLD);
  }
  {
    const int spark_width = std::max(0, COLS - 32);
    put(y, 0, "CPU " + percent(num(cpu, "total_usage")) + "  ");
    put(y, 12, sparkline(state.cpu_history, static_cast<std::size_t>(spark_width), 100.0, state.unicode),
        spark_attr);
    ++y;
  }
  y = draw_cpu(y, cpu);

  const double total = num(mem, "total");
  const double used = num(mem, "used");
  const double swap_total = num(mem, "swap_total");
  const double swap_used = num(mem, "swap_used");
  bar(y++, 0, COLS - 1, "Mem ", total > 0 ? used / total : 0,
      human_bytes(used) + "/" + human_bytes(total));
  bar(y++, 0, COLS - 1, "Swap", swap_total > 0 ? swap_used / swap_total : 0,
      human_bytes(swap_used) + "/" + human_bytes(swap_total));

  // Rates: the latest sample of each history, with its sparkline.
  auto last = [](const std::vector<double> &v) { return v.empty() ? 0.0 : v.back(); };
  const int half = COLS / 2;
  const std::size_t rate_spark = static_cast<std::size_t>(std::max(0, half - 23));
  auto rate = [&](int row, int x, const char *label, const std::vector<double> &history) {
    put(row, x, std::string(label) + " " + fit(human_bytes(last(history)) + "/s", 9, true));
    put(row, x + 21, sparkline(history, rate_spark, 1024.0, state.unicode), spark_attr);
  };
  rate(y, 0, "Net down  ", state.net_down_history);
  rate(y++, half, "Net up    ", state.net_up_history);
  rate(y, 0, "Disk read ", state.disk_read_history);
  rate(y++, half, "Disk write", state.disk_write_history);
  for (const GpuLine &g : gpu_lines(member(snap, "gpu"))) bar(y++, 0, COLS - 1, g.label, g.share, g.text);

  std::string mode = state.tree ? "tree" : std::string("list, sort: ") + sort_name(state.sort);
  if (!state.filter.empty()) mode += ", filter: " + state.filter;
  put(y++, 0, "Processes: " + std::to_string(state.rows.size()) + " (" + mode + ")");

  const attr_t header_attr = has_colors() ? COLOR_PAIR(kHeader) : A_REVERSE;
  put(y, 0, fit("    PID USER       CPU%  MEM%    RES THR S COMMAND", static_cast<std::size_t>(COLS), true),
      header_attr);
  ++y;

  // Keep the selection on its process, then in range and visible.
  if (!state.rows.empty()) {
    for (std::size_t i = 0; i < state.rows.size(); ++i) {
      if (state.rows[i].pid == state.selected_pid) {
        state.selected = i;
        break;
      }
    }
    state.selected = std::min(state.selected, state.rows.size() - 1);
    state.selected_pid = state.rows[state.selected].pid;
  }
  const int table_rows = std::max(0, LINES - 1 - y);
  if (state.selected < state.first_row) state.first_row = state.selected;
  if (table_rows > 0 && state.selected >= state.first_row + static_cast<std::size_t>(table_rows)) {
    state.first_row = state.selected - static_cast<std::size_t>(table_rows) + 1;
  }
  if (state.first_row >= state.rows.size()) state.first_row = 0;
  for (int i = 0; i < table_rows; ++i) {
    const std::size_t index = state.first_row + static_cast<std::size_t>(i);
    if (index >= state.rows.size()) break;
    const ProcessRow &r = state.rows[index];
    char fixed[96];
    std::snprintf(fixed, sizeof fixed, "%7lld %-9s %6.1f %5.1f %6s %3lld %c ",
                  static_cast<long long>(r.pid), fit(r.user, 9).c_str(), r.cpu_percent,
                  r.memory_percent, human_bytes(static_cast<double>(r.memory_bytes)).c_str(),
                  static_cast<long long>(r.threads), r.status.empty() ? '?' : r.status[0]);
    std::string line = fixed;
    if (state.tree) line += std::string(static_cast<std::size_t>(std::min(r.depth, 20)) * 2, ' ') + (r.depth ? "`- " : "");
    line += r.name;
    if (!r.command.empty() && r.command != r.name) line += "  " + r.command;
    const attr_t attr = index == state.selected ? (has_colors() ? COLOR_PAIR(kSelected) : A_REVERSE) : A_NORMAL;
    put(y + i, 0, fit(line, static_cast<std::size_t>(COLS), index == state.selected), attr);
  }

  const std::string help = state.message.empty()
      ? "c/m/p/n sort  / filter  t tree  k kill  up/down select  q quit"
      : state.message;
  put(LINES - 1, 0, help, A_BOLD);
  refresh();
}

}  // namespace sysmon_cli
