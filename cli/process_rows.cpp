#include "process_rows.h"

namespace sysmon_cli {
namespace {

using nlohmann::json;

ProcessRow row_of(const json &p, int depth) {
  ProcessRow row;
  row.depth = depth;
  if (!p.is_object()) return row;
  row.pid = p.value("pid", std::int64_t{0});
  row.name = p.value("name", std::string());
  row.user = p.value("user", std::string());
  row.status = p.value("status", std::string());
  row.command = p.value("command", std::string());
  row.cpu_percent = p.value("cpu_percent", 0.0);
  row.memory_percent = p.value("memory_percent", 0.0);
  row.memory_bytes = p.value("memory_bytes", std::uint64_t{0});
  row.threads = p.value("threads", std::int64_t{0});
  return row;
}

void walk(const json &nodes, int depth, std::vector<ProcessRow> &rows) {
  if (!nodes.is_array()) return;
  for (const json &node : nodes) {
    rows.push_back(row_of(node, depth));
    if (node.is_object()) {
      auto children = node.find("children");
      if (children != node.end()) walk(*children, depth + 1, rows);
    }
  }
}

}  // namespace

std::vector<ProcessRow> rows_from_list(const json &list) {
  std::vector<ProcessRow> rows;
  if (!list.is_array()) return rows;
  rows.reserve(list.size());
  for (const json &p : list) rows.push_back(row_of(p, 0));
  return rows;
}

std::vector<ProcessRow> rows_from_tree(const json &forest) {
  std::vector<ProcessRow> rows;
  walk(forest, 0, rows);
  return rows;
}

}  // namespace sysmon_cli
