#include "document_reader.h"

#include <array>
#include <utility>

#include <vantorel/sysmon.h>

#include "busiest_roots.h"
#include "history_metric.h"

namespace sysmon_cli {
namespace {

constexpr std::array<std::pair<const char *, Document>, 11> kDocuments{{
    {"snapshot", Document::snapshot},
    {"cpu", Document::cpu},
    {"memory", Document::memory},
    {"disks", Document::disks},
    {"network", Document::network},
    {"processes", Document::processes},
    {"tree", Document::tree},
    {"gpu", Document::gpu},
    {"battery", Document::battery},
    {"system", Document::system},
    {"history", Document::history},
}};

}  // namespace

std::optional<Document> parse_document(std::string_view name) {
  for (const auto &[text, doc] : kDocuments) {
    if (name == text) return doc;
  }
  return std::nullopt;
}

bool document_has_rates(Document doc) {
  switch (doc) {
    case Document::snapshot:
    case Document::cpu:
    case Document::disks:
    case Document::network:
    case Document::processes:
    case Document::tree:
      return true;
    default:
      return false;
  }
}

std::optional<int> parse_sort_key(std::string_view name) {
  if (name == "cpu") return SYSMON_SORT_CPU;
  if (name == "memory") return SYSMON_SORT_MEMORY;
  if (name == "pid") return SYSMON_SORT_PID;
  if (name == "name") return SYSMON_SORT_NAME;
  return std::nullopt;
}

std::string read_document(const DocumentRequest &request) {
  switch (request.doc) {
    case Document::snapshot: return sysmon_snapshot();
    case Document::cpu: return sysmon_cpu();
    case Document::memory: return sysmon_memory();
    case Document::disks: return sysmon_disks();
    case Document::network: return sysmon_network();
    case Document::gpu: return sysmon_gpu();
    case Document::battery: return sysmon_battery();
    case Document::system: return sysmon_system();
    case Document::history:
      if (request.metric == kCoreHistory) return sysmon_cpu_core_history(request.count);
      return sysmon_history(request.metric, request.count);
    case Document::processes:
    case Document::tree: {
      const bool filtered = !request.filter.empty();
      if (filtered) sysmon_set_process_filter(request.filter.c_str());
      // A tree with a root limit is cut from the whole tree, so that every
      // kept root is a real one (its parent not listed) with all its children.
      std::string text = request.doc == Document::processes
                             ? std::string(sysmon_processes(request.limit, request.sort))
                             : busiest_roots(sysmon_process_tree(0), request.limit);
      if (filtered) sysmon_set_process_filter(nullptr);
      return text;
    }
  }
  return "{}";
}

}  // namespace sysmon_cli
