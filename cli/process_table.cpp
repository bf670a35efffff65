#include "process_table.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include <nlohmann/json.hpp>
#include <vantorel/sysmon.h>

#include "raw_json.h"

namespace sysmon_cli {
namespace {

constexpr int kMaxTreeDepth = 64;
constexpr std::size_t kMaxFilter = 127;  // as the library keeps it

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool contains_ignoring_case(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  auto it = std::search(text.begin(), text.end(), part.begin(), part.end(),
                        [](char a, char b) { return lower(a) == lower(b); });
  return it != text.end();
}

bool less_ignoring_case(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) {
                                        return static_cast<unsigned char>(lower(x)) <
                                               static_cast<unsigned char>(lower(y));
                                      });
}

template <typename T>
T read_member(const nlohmann::json &entry, const char *key, T fallback) {
  auto it = entry.find(key);
  if (it == entry.end() || !it->is_primitive()) return fallback;
  try {
    return it->get<T>();
  } catch (const nlohmann::json::exception &) {
    return fallback;
  }
}

void join(std::string &out, const std::vector<std::string> &parts) {
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += ',';
    out += parts[i];
  }
}

}  // namespace

ProcessTable::ProcessTable(std::string_view busiest_first) {
  for (std::string_view raw : raw_elements(busiest_first)) {
    auto parsed = nlohmann::json::parse(raw, nullptr, false);
    if (!parsed.is_object() || raw.empty() || raw.back() != '}') continue;
    ProcessEntry e;
    e.text = std::string(raw);
    e.pid = read_member<std::int64_t>(parsed, "pid", 0);
    e.ppid = read_member<std::int64_t>(parsed, "ppid", 0);
    e.cpu_percent = read_member<double>(parsed, "cpu_percent", 0.0);
    e.memory_bytes = read_member<std::uint64_t>(parsed, "memory_bytes", 0);
    e.name = read_member<std::string>(parsed, "name", "");
    e.command = read_member<std::string>(parsed, "command", "");
    entries_.push_back(std::move(e));
  }
  by_memory_.resize(entries_.size());
  std::iota(by_memory_.begin(), by_memory_.end(), std::size_t{0});
  std::stable_sort(by_memory_.begin(), by_memory_.end(), [&](std::size_t a, std::size_t b) {
    const ProcessEntry &x = entries_[a], &y = entries_[b];
    return x.memory_bytes != y.memory_bytes ? x.memory_bytes > y.memory_bytes : x.pid < y.pid;
  });
}

std::vector<std::size_t> ProcessTable::matching(const std::string &filter) const {
  const std::string_view part = std::string_view(filter).substr(0, kMaxFilter);
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (contains_ignoring_case(entries_[i].name, part) ||
        contains_ignoring_case(entries_[i].command, part)) {
      out.push_back(i);
    }
  }
  return out;
}

std::string ProcessTable::list(const ProcessQuery &query) const {
  std::vector<std::size_t> rows = matching(query.filter);
  auto by = [&](auto less) {
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
      return less(entries_[a], entries_[b]);
    });
  };
  switch (query.sort) {
    case SYSMON_SORT_MEMORY:
      by([](const ProcessEntry &x, const ProcessEntry &y) {
        return x.memory_bytes != y.memory_bytes ? x.memory_bytes > y.memory_bytes : x.pid < y.pid;
      });
      break;
    case SYSMON_SORT_PID:
      by([](const ProcessEntry &x, const ProcessEntry &y) { return x.pid < y.pid; });
      break;
    case SYSMON_SORT_NAME:
      by([](const ProcessEntry &x, const ProcessEntry &y) {
        if (less_ignoring_case(x.name, y.name)) return true;
        if (less_ignoring_case(y.name, x.name)) return false;
        return x.pid < y.pid;
      });
      break;
    default:
      break;  // the library's own order: busiest first
  }
  if (query.limit > 0 && rows.size() > static_cast<std::size_t>(query.limit)) {
    rows.resize(static_cast<std::size_t>(query.limit));
  }
  std::string out = "[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) out += ',';
    out += entries_[rows[i]].text;
  }
  out += ']';
  return out;
}

std::string ProcessTable::tree(const ProcessQuery &query) const {
  const std::vector<std::size_t> rows = matching(query.filter);  // busiest first
  std::unordered_map<std::int64_t, std::size_t> row_of_pid;
  for (std::size_t r = 0; r < rows.size(); ++r) row_of_pid.emplace(entries_[rows[r]].pid, r);

  // A process's parent row, when the parent is listed and not itself.
  std::vector<long> parent(rows.size(), -1);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const ProcessEntry &e = entries_[rows[r]];
    if (e.ppid == 0 || e.ppid == e.pid) continue;
    auto it = row_of_pid.find(e.ppid);
    if (it != row_of_pid.end()) parent[r] = static_cast<long>(it->second);
  }
  // Depths by walking up to a root or to a node of known depth. Every
  // member of a parent cycle becomes a root; a node deeper than the limit
  // starts over as a root.
  std::vector<int> depth(rows.size(), -1);  // -2: on the walk in progress
  std::vector<std::size_t> path;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    path.clear();
    long at = static_cast<long>(r);
    while (at >= 0 && depth[static_cast<std::size_t>(at)] == -1) {
      depth[static_cast<std::size_t>(at)] = -2;
      path.push_back(static_cast<std::size_t>(at));
      at = parent[static_cast<std::size_t>(at)];
    }
    int d = 0;
    if (at >= 0 && depth[static_cast<std::size_t>(at)] == -2) {
      const auto cycle = std::find(path.begin(), path.end(), static_cast<std::size_t>(at));
      for (auto it = cycle; it != path.end(); ++it) {
        parent[*it] = -1;
        depth[*it] = 0;
      }
      path.erase(cycle, path.end());
      d = 1;
    } else if (at >= 0) {
      d = depth[static_cast<std::size_t>(at)] + 1;
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it, ++d) {
      if (d >= kMaxTreeDepth) {
        parent[*it] = -1;
        d = 0;
      }
      depth[*it] = d;
    }
  }
  std::vector<std::vector<std::size_t>> children(rows.size());
  std::vector<std::size_t> roots;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (parent[r] < 0) roots.push_back(r);
    else children[static_cast<std::size_t>(parent[r])].push_back(r);
  }
  if (query.limit > 0 && roots.size() > static_cast<std::size_t>(query.limit)) {
    roots.resize(static_cast<std::size_t>(query.limit));
  }
  // Written recursively: nesting is at most 64 deep.
  auto write = [&](std::size_t r, auto &self) -> std::string {
    const std::string &text = entries_[rows[r]].text;
    std::string node(text, 0, text.size() - 1);
    node += ",\"children\":[";
    std::vector<std::string> parts;
    for (std::size_t c : children[r]) parts.push_back(self(c, self));
    join(node, parts);
    node += "]}";
    return node;
  };
  std::string out = "[";
  std::vector<std::string> parts;
  for (std::size_t r : roots) parts.push_back(write(r, write));
  join(out, parts);
  out += ']';
  return out;
}

}  // namespace sysmon_cli
