// The rows of the terminal view's process table, from a process list or a
// process tree document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sysmon_cli {

struct ProcessRow {
  std::int64_t pid = 0;
  std::string name;
  std::string user;
  std::string status;
  std::string command;
  double cpu_percent = 0;
  double memory_percent = 0;
  std::uint64_t memory_bytes = 0;
  std::int64_t threads = 0;
  int depth = 0;  // tree nesting; 0 in the list
};

// The entries of a process list, in its order.
std::vector<ProcessRow> rows_from_list(const nlohmann::json &list);

// The nodes of a tree, depth first, each parent before its children.
std::vector<ProcessRow> rows_from_tree(const nlohmann::json &forest);

}  // namespace sysmon_cli
