// `sysmon serve`: the Prometheus exporter and the read-only JSON API.
#pragma once

#include <string>

namespace sysmon_cli {

struct ServeOptions {
  std::string listen = "127.0.0.1:9101";
};

// Serves until SIGINT or SIGTERM; returns the exit status.
int run_serve(const ServeOptions &options);

}  // namespace sysmon_cli
