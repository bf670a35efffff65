#include "json_output.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace sysmon_cli {

std::string format_document(std::string_view text, bool pretty) {
  if (!pretty) return std::string(text);
  // Ordered: members keep the library's order.
  nlohmann::ordered_json doc = nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) return std::string(text);
  // System texts may carry bytes that are not UTF-8 (Windows code pages):
  // replace them rather than fail.
  return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void print_document(std::string_view text, bool pretty) {
  std::string out = format_document(text, pretty);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

}  // namespace sysmon_cli
