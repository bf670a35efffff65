#include "raw_json.h"

#include <cstddef>

namespace sysmon_cli {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void skip_space(std::string_view text, std::size_t &at) {
  while (at < text.size() && is_space(text[at])) ++at;
}

// Moves `at` past one JSON value starting there; false on malformed text.
// The library's documents are valid JSON: this only needs to find where a
// value ends, not to check it.
bool skip_value(std::string_view text, std::size_t &at) {
  int depth = 0;
  bool in_string = false;
  const std::size_t start = at;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (in_string) {
      if (c == '\\') ++at;
      else if (c == '"') {
        in_string = false;
        if (depth == 0) {
          ++at;
          return true;
        }
      }
      continue;
    }
    switch (c) {
      case '"': in_string = true; break;
      case '{':
      case '[': ++depth; break;
      case '}':
      case ']':
        if (depth == 0) return at > start;  // the end of the enclosing container
        if (--depth == 0) {
          ++at;
          return true;
        }
        break;
      case ',':
        if (depth == 0) return at > start;
        break;
      default:
        if (depth == 0 && is_space(c)) return at > start;
    }
  }
  return depth == 0 && !in_string && at > start;
}

// Calls visit(key_text_with_quotes, value_text) for each member or element of
// the container at the start of `text` ('{' or '['); false on malformed text.
template <typename Visit>
bool walk(std::string_view text, char open, Visit visit) {
  std::size_t at = 0;
  skip_space(text, at);
  if (at >= text.size() || text[at] != open) return false;
  const char close = open == '{' ? '}' : ']';
  ++at;
  skip_space(text, at);
  if (at < text.size() && text[at] == close) return true;
  while (at < text.size()) {
    std::string_view key;
    if (open == '{') {
      const std::size_t key_start = at;
      if (text[at] != '"' || !skip_value(text, at)) return false;
      key = text.substr(key_start, at - key_start);
      skip_space(text, at);
      if (at >= text.size() || text[at] != ':') return false;
      ++at;
      skip_space(text, at);
    }
    const std::size_t value_start = at;
    if (!skip_value(text, at)) return false;
    visit(key, text.substr(value_start, at - value_start));
    skip_space(text, at);
    if (at >= text.size()) return false;
    if (text[at] == close) return true;
    if (text[at] != ',') return false;
    ++at;
    skip_space(text, at);
  }
  return false;
}

}  // namespace

std::optional<std::string_view> raw_member(std::string_view object, std::string_view key) {
  std::optional<std::string_view> found;
  const bool ok = walk(object, '{', [&](std::string_view quoted, std::string_view value) {
    if (!found && quoted.size() == key.size() + 2 && quoted.substr(1, key.size()) == key) {
      found = value;
    }
  });
  return ok ? found : std::nullopt;
}

std::vector<std::string_view> raw_elements(std::string_view array) {
  std::vector<std::string_view> out;
  if (!walk(array, '[', [&](std::string_view, std::string_view value) { out.push_back(value); })) {
    out.clear();
  }
  return out;
}

}  // namespace sysmon_cli
