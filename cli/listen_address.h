// HOST:PORT of `sysmon serve --listen`.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sysmon_cli {

struct ListenAddress {
  std::string host;
  int port = 0;  // 0: any free port
};

// "127.0.0.1:9101", "localhost:80", "[::1]:9101", "0.0.0.0:0". The host must
// not be empty and the port is 0 to 65535.
std::optional<ListenAddress> parse_listen_address(std::string_view text);

}  // namespace sysmon_cli
