// The library's documents by name, as the query commands and the exporter's
// /api paths ask for them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sysmon_cli {

enum class Document {
  snapshot, cpu, memory, disks, network, processes, tree, gpu, battery, system, history
};

// "snapshot", "cpu", ..., "processes", "tree", "history".
std::optional<Document> parse_document(std::string_view name);

// Documents whose figures are derived from counter growth: a first reading
// needs an earlier collection to measure against.
bool document_has_rates(Document doc);

// "cpu", "memory", "pid", "name" into SYSMON_SORT_*.
std::optional<int> parse_sort_key(std::string_view name);

struct DocumentRequest {
  Document doc = Document::snapshot;
  int sort = 0;         // SYSMON_SORT_* (processes)
  int limit = 0;        // processes, tree (roots with the busiest subtrees): < 1 lists all
  std::string filter;   // processes, tree: "" for none
  int metric = 0;       // history: SYSMON_METRIC_* or kCoreHistory
  int count = 300;      // history: newest samples
};

// Reads one document and returns a copy of its text. A filter is set for the
// reading and cleared after it. The library's texts are shared per function,
// so callers on several threads serialise their calls themselves.
std::string read_document(const DocumentRequest &request);

}  // namespace sysmon_cli
