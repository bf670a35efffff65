// Small text helpers of the terminal view: byte sizes and rates for people,
// sparklines, and cutting UTF-8 text to a column width.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sysmon_cli {

// 0 -> "0B", 1536 -> "1.5K", 3 GiB -> "3.0G" (powers of 1024).
std::string human_bytes(double bytes);

// The limits of the process where set, for the header of the terminal view:
// " - limit 0.50 CPUs - mem limit 12.0M/256.0M"; "" when nothing limits it.
std::string limits_text(double limit_cpus, double memory_limit, double memory_used);

// The last `width` values as a sparkline scaled to the largest of them (at
// least `floor`): Unicode block characters, or ASCII ones when `unicode` is
// false. Missing history is padded with blanks on the left.
std::string sparkline(const std::vector<double> &values, std::size_t width, double floor,
                      bool unicode);

// `text` cut to at most `width` characters (UTF-8 sequences kept whole) and
// padded with spaces to exactly `width` when `pad` is set.
std::string fit(std::string_view text, std::size_t width, bool pad = false);

}  // namespace sysmon_cli
