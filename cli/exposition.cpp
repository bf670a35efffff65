#include "exposition.h"

#include <charconv>
#include <cmath>

namespace sysmon_cli {

void Exposition::family(std::string name, std::string type, std::string help) {
  families_.push_back(Family{std::move(name), std::move(type), std::move(help), {}});
}

void Exposition::sample(const Labels &labels, double value) { add(labels, format_value(value)); }

void Exposition::sample(const Labels &labels, std::uint64_t value) {
  add(labels, std::to_string(value));
}

void Exposition::add(const Labels &labels, std::string value) {
  if (families_.empty()) return;
  Family &f = families_.back();
  std::string line = f.name;
  if (!labels.empty()) {
    line += '{';
    bool first = true;
    for (const auto &[name, label_value] : labels) {
      if (!first) line += ',';
      first = false;
      line += name;
      line += "=\"";
      line += escape_label_value(label_value);
      line += '"';
    }
    line += '}';
  }
  line += ' ';
  line += value;
  f.samples.push_back(std::move(line));
}

std::string Exposition::text() const {
  std::string out;
  for (const Family &f : families_) {
    if (f.samples.empty()) continue;
    out += "# HELP " + f.name + ' ' + escape_help(f.help) + '\n';
    out += "# TYPE " + f.name + ' ' + f.type + '\n';
    for (const std::string &line : f.samples) {
      out += line;
      out += '\n';
    }
  }
  return out;
}

std::string escape_label_value(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string escape_help(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string format_value(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[64];
  // Whole numbers that a double holds exactly are written as integers.
  if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0) {
    return std::to_string(static_cast<long long>(value));
  }
  // std::to_chars never depends on the locale.
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

}  // namespace sysmon_cli
