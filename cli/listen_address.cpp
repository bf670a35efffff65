#include "listen_address.h"

#include <charconv>

namespace sysmon_cli {

std::optional<ListenAddress> parse_listen_address(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  std::string_view port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 address needs its brackets
  }
  if (host.empty() || port.empty() || port.size() > 5) return std::nullopt;
  int value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec != std::errc() || end != port.data() + port.size() || value < 0 || value > 65535) {
    return std::nullopt;
  }
  return ListenAddress{std::string(host), value};
}

}  // namespace sysmon_cli
