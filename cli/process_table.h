// The full process list of one sample, parsed once, from which every
// process view is cut without asking the library again: the list sorted,
// filtered and limited as /api/processes asks, the process tree, and the
// busiest and largest processes of the exporter. Entries keep the library's
// own text, so the documents served read exactly as the library wrote them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sysmon_cli {

struct ProcessEntry {
  std::string text;  // the entry as the library wrote it: {"pid":..,...}
  std::int64_t pid = 0;
  std::int64_t ppid = 0;
  double cpu_percent = 0;
  std::uint64_t memory_bytes = 0;
  std::string name;
  std::string command;
};

struct ProcessQuery {
  int sort = 0;        // SYSMON_SORT_*: cpu (default), memory, pid, name
  int limit = 0;       // < 1: all (the tree: roots)
  std::string filter;  // name or command contains it, ignoring ASCII case; "" for all
};

class ProcessTable {
 public:
  ProcessTable() = default;
  // From sysmon_processes(0, SYSMON_SORT_CPU): every process, busiest first.
  explicit ProcessTable(std::string_view busiest_first);

  const std::vector<ProcessEntry> &busiest_first() const { return entries_; }
  // Indexes into busiest_first(), largest resident memory first (ties: lower pid).
  const std::vector<std::size_t> &largest_first() const { return by_memory_; }

  // A process list document.
  std::string list(const ProcessQuery &query) const;
  // A process tree document: nodes are entries followed by "children";
  // busiest first; a process is a root when its parent is 0, itself or not
  // among the listed processes; nesting stops at depth 64, and processes in
  // parent cycles become roots. query.sort is not used.
  std::string tree(const ProcessQuery &query) const;

 private:
  std::vector<std::size_t> matching(const std::string &filter) const;
  std::vector<ProcessEntry> entries_;
  std::vector<std::size_t> by_memory_;
};

}  // namespace sysmon_cli
