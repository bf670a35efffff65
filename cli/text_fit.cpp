#include "text_fit.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace sysmon_cli {

std::string human_bytes(double bytes) {
  static const char kUnits[] = {'B', 'K', 'M', 'G', 'T', 'P'};
  std::size_t unit = 0;
  while (bytes >= 1024.0 && unit + 1 < sizeof kUnits) {
    bytes /= 1024.0;
    ++unit;
  }
  char buf[32];
  if (unit == 0) {
    std::snprintf(buf, sizeof buf, "%.0f%c", bytes, kUnits[unit]);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f%c", bytes, kUnits[unit]);
  }
  return buf;
}

std::string limits_text(double limit_cpus, double memory_limit, double memory_used) {
  std::string text;
  if (limit_cpus > 0) {
    char cpus[32];
    std::snprintf(cpus, sizeof cpus, "%.2f", limit_cpus);
    text += std::string(" - limit ") + cpus + " CPUs";
  }
  if (memory_limit > 0) text += " - mem limit " + human_bytes(memory_used) + "/" + human_bytes(memory_limit);
  return text;
}

std::string sparkline(const std::vector<double> &values, std::size_t width, double floor,
                      bool unicode) {
  static const std::array<const char *, 8> kBlocks{"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
  static const char kAscii[] = "_.-~=+*#";
  const std::size_t shown = std::min(values.size(), width);
  const auto first = values.end() - static_cast<std::ptrdiff_t>(shown);
  double top = floor;
  for (auto it = first; it != values.end(); ++it) top = std::max(top, *it);
  std::string out(width - shown, ' ');
  for (auto it = first; it != values.end(); ++it) {
    const double share = top > 0 ? std::clamp(*it / top, 0.0, 1.0) : 0.0;
    const auto level = static_cast<std::size_t>(share * 7.0 + 0.5);
    if (unicode) {
      out += kBlocks[level];
    } else {
      out += kAscii[level];
    }
  }
  return out;
}

std::string fit(std::string_view text, std::size_t width, bool pad) {
  std::string out;
  std::size_t columns = 0;
  std::size_t i = 0;
  while (i < text.size() && columns < width) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    length = std::min(length, text.size() - i);
    const char c = text[i];
    // Control characters would move the cursor: show them as '?'.
    if (length == 1 && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)) {
      out += '?';
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
    ++columns;
  }
  if (pad) out.append(width - columns, ' ');
  return out;
}

}  // namespace sysmon_cli
