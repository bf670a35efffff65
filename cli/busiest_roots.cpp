#include "busiest_roots.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace sysmon_cli {
namespace {

// The texts of the elements of a JSON array, as written (no copy, no
// reformatting: the library's number formats stay).
std::vector<std::string_view> array_elements(std::string_view text) {
  std::vector<std::string_view> elements;
  std::size_t start = std::string_view::npos;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (depth == 1 && start == std::string_view::npos) start = i;
      ++depth;
    } else if (c == ']' || c == '}') {
      --depth;
      if (depth == 1 && start != std::string_view::npos) {
        elements.push_back(text.substr(start, i + 1 - start));
        start = std::string_view::npos;
      }
    }
  }
  return elements;
}

double subtree_cpu(const nlohmann::json &node) {
  double sum = node.value("cpu_percent", 0.0);
  if (const auto children = node.find("children"); children != node.end()) {
    for (const nlohmann::json &child : *children) sum += subtree_cpu(child);
  }
  return sum;
}

}  // namespace

std::string busiest_roots(std::string_view forest, int limit) {
  const nlohmann::json roots = nlohmann::json::parse(forest, nullptr, false);
  const std::vector<std::string_view> texts = array_elements(forest);
  if (!roots.is_array() || roots.size() != texts.size()) {
    throw std::runtime_error("the process tree document is not an array of nodes");
  }
  struct Root {
    double cpu;
    std::size_t index;
  };
  std::vector<Root> order;
  order.reserve(roots.size());
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (!roots[i].is_object()) throw std::runtime_error("a process tree root is not an object");
    order.push_back({subtree_cpu(roots[i]), i});
  }
  std::size_t keep = order.size();
  if (limit >= 1) {
    std::stable_sort(order.begin(), order.end(),
                     [](const Root &a, const Root &b) { return a.cpu > b.cpu; });
    keep = std::min(keep, static_cast<std::size_t>(limit));
  }
  std::string out = "[";
  for (std::size_t i = 0; i < keep; ++i) {
    if (i > 0) out += ',';
    out += texts[order[i].index];
  }
  out += ']';
  return out;
}

}  // namespace sysmon_cli
