// A writer of the Prometheus text exposition format (version 0.0.4): metric
// families with their HELP and TYPE lines, samples with escaped label values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sysmon_cli {

using Labels = std::vector<std::pair<std::string, std::string>>;

class Exposition {
 public:
  // Starts a family; `type` is "gauge" or "counter". Its samples follow.
  // A family that receives no sample is not written.
  void family(std::string name, std::string type, std::string help);
  void sample(const Labels &labels, double value);
  void sample(const Labels &labels, std::uint64_t value);
  void sample(double value) { sample(Labels{}, value); }
  void sample(std::uint64_t value) { sample(Labels{}, value); }

  std::string text() const;

 private:
  struct Family {
    std::string name, type, help;
    std::vector<std::string> samples;  // each line without its newline
  };
  void add(const Labels &labels, std::string value);
  std::vector<Family> families_;
};

// Label values escape backslash, double quote and line feed.
std::string escape_label_value(std::string_view value);
// HELP texts escape backslash and line feed.
std::string escape_help(std::string_view text);
// Numbers as Go's parser reads them: integers plainly, others in the shortest
// form that reads back exactly; NaN and infinities as NaN, +Inf, -Inf.
std::string format_value(double value);

}  // namespace sysmon_cli
